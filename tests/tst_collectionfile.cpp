#include "KestruneClasses.h"

#include <QtTest>

#include <stdexcept>

namespace {

const QByteArray Header = "Kestrune. Site collection file.";

QByteArray Int32(qint32 V)
{
    QByteArray B(4, '\0');
    qToLittleEndian<qint32>(V, B.data());
    return B;
}

QByteArray Str(const QByteArray &S)
{
    return Int32(qint32(S.size())) + S;
}

// The file of one fresh site titled "A", written out by hand.
QByteArray ExampleFile()
{
    return Header + Int32(1) + Str("A") + Str("http://") + Str("web") + Int32(0) + Int32(0) +
           QByteArray("\x00\x01\x01\x00", 4) + QByteArray(16, '\0') + QByteArray("\x02", 1);
}

QByteArray Save(const TKestrunCollection &Sites)
{
    QBuffer Buffer;
    Buffer.open(QIODevice::WriteOnly);
    if (!Sites.SaveToStream(Buffer))
        return QByteArray();
    return Buffer.data();
}

TKestrunCollection::TLoadResult Load(const QByteArray &Bytes, TKestrunCollection &Sites)
{
    QBuffer Buffer;
    Buffer.setData(Bytes);
    Buffer.open(QIODevice::ReadOnly);
    return Sites.LoadFromStream(Buffer);
}

std::unique_ptr<TKestrunSite> MakeSite(const QByteArray &Title)
{
    auto Site = std::make_unique<TKestrunSite>();
    Site->SetTitle(Title);
    return Site;
}

QByteArray ReadFile(const QString &Path)
{
    QFile F(Path);
    return F.open(QIODevice::ReadOnly) ? F.readAll() : QByteArray();
}

bool WriteFile(const QString &Path, const QByteArray &Bytes)
{
    QFile F(Path);
    return F.open(QIODevice::WriteOnly) && F.write(Bytes) == Bytes.size();
}

} // namespace

using LoadResult = TKestrunCollection::TLoadResult;
Q_DECLARE_METATYPE(TKestrunCollection::TLoadResult)

class TestCollectionFile : public QObject
{
    Q_OBJECT

private slots:
    void exampleFileByteForByte();
    void emptyCollectionIs35Bytes();
    void saveLoadKeepsEveryStoredField();
    void credentialsAreComplemented();
    void readerEdgeCases_data();
    void readerEdgeCases();
    void truncatedAtEveryOffset();
    void hugeLengthsDoNotAllocate();
    void deleteOutOfRange();
    void move();
    void loadSitesStatus();
    void saveSitesIsAtomicAndPrivate();
    void saveSitesFailureKeepsOldFile();
    void keepUnusableFile();
};

void TestCollectionFile::exampleFileByteForByte()
{
    TKestrunCollection Sites;
    Sites.Add(MakeSite("A"));
    const QByteArray Bytes = Save(Sites);
    QCOMPARE(Bytes.size(), 87);
    QCOMPARE(Bytes, ExampleFile());

    TKestrunCollection Loaded;
    QCOMPARE(Load(Bytes, Loaded), LoadResult::Loaded);
    QCOMPARE(Loaded.Count(), 1);
    QVERIFY(Loaded[0]->SameStoredFields(*Sites[0]));
}

void TestCollectionFile::emptyCollectionIs35Bytes()
{
    const TKestrunCollection Empty;
    const QByteArray Bytes = Save(Empty);
    QCOMPARE(Bytes, Header + Int32(0));
    TKestrunCollection Loaded;
    Loaded.Add(MakeSite("left over"));
    QCOMPARE(Load(Bytes, Loaded), LoadResult::Loaded);
    QCOMPARE(Loaded.Count(), 0);
}

void TestCollectionFile::saveLoadKeepsEveryStoredField()
{
    QObject TrayEntry;
    TKestrunCollection Sites;
    for (int i = 0; i < 3; ++i) {
        auto Site = MakeSite("Site " + QByteArray::number(i) + " Grüße");
        Site->SetURL("https://example.org/" + QByteArray::number(i));
        Site->SetIconName("icon" + QByteArray::number(i));
        Site->SetUserName(i == 1 ? QByteArray() : QByteArray("user\xff\x00", 6));
        Site->SetPassword("pässword" + QByteArray::number(i));
        Site->SetMonitorChanges(quint8(i % 2));
        Site->SetMinimizeToTaskbar(quint8(1 - i % 2));
        Site->SetBrowserChoice(quint8(i));
        Site->SetMonitorInterval(quint8(i + 5));
        Site->SetWindowRect({-i, 100 * i, 640 + i, -2147483647 - 1});
        Site->SetWindowState(quint8(i == 2 ? 0 : 2));
        Site->SetIsOpen(1);
        Site->SetMenuItem(&TrayEntry);
        Sites.Add(std::move(Site));
    }
    TKestrunCollection Loaded;
    QCOMPARE(Load(Save(Sites), Loaded), LoadResult::Loaded);
    QCOMPARE(Loaded.Count(), 3);
    for (int i = 0; i < 3; ++i) {
        QVERIFY2(Loaded[i]->SameStoredFields(*Sites[i]), qPrintable(QString::number(i)));
        QCOMPARE(Loaded[i]->IsOpen(), quint8(0));
        QVERIFY(!Loaded[i]->MenuItem());
    }
}

void TestCollectionFile::credentialsAreComplemented()
{
    QCOMPARE(ComplementString(QByteArray("\x00\xff\x61", 3)), QByteArray("\xff\x00\x9e", 3));
    QCOMPARE(ComplementString(ComplementString("any text")), QByteArray("any text"));

    TKestrunCollection Sites;
    auto Site = MakeSite("T");
    Site->SetUserName("abc");
    Site->SetPassword(QByteArray("p\x00\xff", 3));
    Sites.Add(std::move(Site));
    const QByteArray Bytes = Save(Sites);
    QVERIFY(Bytes.contains(Int32(3) + QByteArray("\x9e\x9d\x9c")));
    QVERIFY(Bytes.contains(Int32(3) + QByteArray("\x8f\xff\x00", 3)));
    QVERIFY(!Bytes.contains("abc"));
}

void TestCollectionFile::readerEdgeCases_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<LoadResult>("result");
    QTest::addColumn<int>("count");

    const QByteArray Example = ExampleFile();
    QTest::newRow("no bytes") << QByteArray() << LoadResult::BadHeader << 0;
    QTest::newRow("header only, no count") << Header << LoadResult::Truncated << 0;
    QTest::newRow("header one letter in upper case")
        << QByteArray("Kestrune. Site Collection file.") + Int32(0) << LoadResult::BadHeader << 0;
    QTest::newRow("another file") << QByteArray("PK\x03\x04 this is a zip file, not ours at all")
                                  << LoadResult::BadHeader << 0;
    QTest::newRow("count -1 alone") << Header + Int32(-1) << LoadResult::Loaded << 0;
    // Loaded as empty, but the bytes behind the count must be kept before the next save.
    QTest::newRow("count -1 with a record behind")
        << Header + Int32(-1) + Example.mid(35) << LoadResult::UnreadData << 0;
    QTest::newRow("count 0 with a record behind")
        << Header + Int32(0) + Example.mid(35) << LoadResult::UnreadData << 0;
    QTest::newRow("count 0 with one byte behind") << Header + Int32(0) + "x" << LoadResult::UnreadData << 0;
    QTest::newRow("trailing bytes ignored") << Example + "garbage" << LoadResult::Loaded << 1;
    QTest::newRow("count larger than the records")
        << Header + Int32(5) + Example.mid(35) << LoadResult::Truncated << 1;
    QTest::newRow("negative string length reads empty")
        << Header + Int32(1) + Int32(-7) + Str("u") + Str("i") + Int32(0) + Int32(0) + QByteArray(21, '\0')
        << LoadResult::Loaded << 1;
}

void TestCollectionFile::readerEdgeCases()
{
    QFETCH(QByteArray, file);
    QFETCH(LoadResult, result);
    QFETCH(int, count);
    TKestrunCollection Sites;
    QCOMPARE(Load(file, Sites), result);
    QCOMPARE(Sites.Count(), count);
}

void TestCollectionFile::truncatedAtEveryOffset()
{
    TKestrunCollection Sites;
    Sites.Add(MakeSite("first"));
    auto Odd = MakeSite("second");
    Odd->SetWindowState(0);
    Odd->SetWindowRect({1, 2, 3, 4});
    Sites.Add(std::move(Odd));
    const QByteArray Full = Save(Sites);
    const int FirstEnd = 35 + 4 + 5 + 4 + 7 + 4 + 3 + 4 + 4 + 21;

    for (int Cut = 0; Cut < Full.size(); ++Cut) {
        TKestrunCollection Loaded;
        const LoadResult R = Load(Full.left(Cut), Loaded);
        const int Expected = Cut < 35 ? 0 : Cut < FirstEnd ? 0 : 1;
        QCOMPARE(Loaded.Count(), Expected);
        QCOMPARE(R, Cut < 31 ? LoadResult::BadHeader : LoadResult::Truncated);
        for (int i = 0; i < Loaded.Count(); ++i)
            QVERIFY(Loaded[i]->SameStoredFields(*Sites[i]));
    }
    TKestrunCollection Loaded;
    QCOMPARE(Load(Full, Loaded), LoadResult::Loaded);
    QCOMPARE(Loaded.Count(), 2);
}

void TestCollectionFile::hugeLengthsDoNotAllocate()
{
    // A length of 2 GiB and a count of 2^31-1 in a file of a few bytes end the read at once.
    TKestrunCollection Sites;
    QCOMPARE(Load(Header + Int32(1) + Int32(0x7fffffff) + "abc", Sites), LoadResult::Truncated);
    QCOMPARE(Sites.Count(), 0);
    QCOMPARE(Load(Header + Int32(0x7fffffff) + ExampleFile().mid(35), Sites), LoadResult::Truncated);
    QCOMPARE(Sites.Count(), 1);

    QByteArray Odd = ExampleFile();
    Odd[Odd.size() - 1] = 1;           // window state 1, never written by the setter
    Odd[Odd.size() - 18] = char(0x7f); // interval index the dialog never offers
    Odd[Odd.size() - 19] = 2;          // browser choice 2
    QCOMPARE(Load(Odd, Sites), LoadResult::Loaded);
    QCOMPARE(Sites[0]->WindowState(), quint8(1));
    QCOMPARE(Sites[0]->MonitorInterval(), quint8(0x7f));
    QCOMPARE(Sites[0]->BrowserChoice(), quint8(2));
}

void TestCollectionFile::move()
{
    const auto Titles = [](const TKestrunCollection &Sites) {
        QByteArray Joined;
        for (int i = 0; i < Sites.Count(); ++i)
            Joined += Sites[i]->Title();
        return Joined;
    };
    const struct
    {
        int From, To;
        const char *After;
    } Rows[] = {{0, 2, "bcad"}, {3, 0, "dabc"}, {1, 2, "acbd"}, {2, 1, "acbd"}, {1, 1, "abcd"}};
    for (const auto &Row : Rows) {
        TKestrunCollection Sites;
        for (const char *Title : {"a", "b", "c", "d"})
            Sites.Add(MakeSite(Title));
        TKestrunSite *Moved = Sites[Row.From];
        Sites.Move(Row.From, Row.To);
        QCOMPARE(Titles(Sites), QByteArray(Row.After));
        QCOMPARE(Sites.IndexOf(Moved), Row.To);
    }
    TKestrunCollection Sites;
    Sites.Add(MakeSite("a"));
    Sites.Add(MakeSite("b"));
    for (const auto &[From, To] : {std::pair{-1, 0}, std::pair{0, 2}, std::pair{2, 0}}) {
        try {
            Sites.Move(From, To);
            QFAIL("no error raised");
        } catch (const std::out_of_range &E) {
            QCOMPARE(QByteArray(E.what()), QByteArray("Index out of range."));
        }
        QCOMPARE(Titles(Sites), QByteArray("ab"));
    }
}

void TestCollectionFile::deleteOutOfRange()
{
    TKestrunCollection Sites;
    Sites.Add(MakeSite("a"));
    Sites.Add(MakeSite("b"));
    for (const int Index : {-1, 2, 1000}) {
        try {
            Sites.Delete(Index);
            QFAIL("no error raised");
        } catch (const std::out_of_range &E) {
            QCOMPARE(QByteArray(E.what()), QByteArray("Index out of range."));
        }
        QCOMPARE(Sites.Count(), 2);
    }
    TKestrunSite *Second = Sites[1];
    Sites.Delete(0);
    QCOMPARE(Sites.Count(), 1);
    QCOMPARE(Sites[0], Second);
    QCOMPARE(Sites.IndexOf(Second), 0);
    QCOMPARE(Sites.IndexOf(nullptr), -1);
}

void TestCollectionFile::loadSitesStatus()
{
    QTemporaryDir Dir;
    TKestrunCollection Sites;
    QCOMPARE(LoadSites(Dir.path(), Sites).Status, TLoadSitesResult::NoFile);
    QVERIFY(!LoadSites(Dir.path(), Sites).Unusable());

    const QString Path = Dir.filePath(QStringLiteral("sites.dat"));
    QVERIFY(WriteFile(Path, ExampleFile()));
    QCOMPARE(LoadSites(Dir.path() + QLatin1Char('/'), Sites).Status, TLoadSitesResult::Loaded);
    QCOMPARE(Sites.Count(), 1);

    QVERIFY(WriteFile(Path, "not a collection"));
    TLoadSitesResult R = LoadSites(Dir.path(), Sites);
    QCOMPARE(R.Status, TLoadSitesResult::BadHeader);
    QVERIFY(R.Unusable());
    QCOMPARE(Sites.Count(), 0);

    QVERIFY(WriteFile(Path, ExampleFile().left(60)));
    QVERIFY(LoadSites(Dir.path(), Sites).Unusable());

    QVERIFY(WriteFile(Path, ExampleFile().left(31) + QByteArray(4, '\0') + ExampleFile().mid(35)));
    R = LoadSites(Dir.path(), Sites);
    QCOMPARE(R.Status, TLoadSitesResult::UnreadData);
    QVERIFY(R.Unusable());
    QCOMPARE(Sites.Count(), 0);

    // A folder in the place of the file cannot be read as one.
    QVERIFY(QFile::remove(Path));
    QVERIFY(QDir(Dir.path()).mkdir(QStringLiteral("sites.dat")));
    R = LoadSites(Dir.path(), Sites);
    QCOMPARE(R.Status, TLoadSitesResult::CannotOpen);
    QVERIFY(R.Error.startsWith(QStringLiteral("Cannot open file \"") + Path + QStringLiteral("\". ")));
}

void TestCollectionFile::saveSitesIsAtomicAndPrivate()
{
    QTemporaryDir Dir;
    TKestrunCollection Sites;
    Sites.Add(MakeSite("A"));
    QString Error;
    QVERIFY(SaveSites(Dir.path(), Sites, &Error));
    const QString Path = Dir.filePath(QStringLiteral("sites.dat"));
    QCOMPARE(ReadFile(Path), ExampleFile());
    const QFileDevice::Permissions Unix =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup |
        QFileDevice::WriteGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::WriteOther |
        QFileDevice::ExeOther;
    QCOMPARE(QFile::permissions(Path) & Unix, QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    Sites.Add(MakeSite("B"));
    QVERIFY(SaveSites(Dir.path(), Sites, &Error));
    TKestrunCollection Loaded;
    QCOMPARE(LoadSites(Dir.path(), Loaded).Status, TLoadSitesResult::Loaded);
    QCOMPARE(Loaded.Count(), 2);
    // Nothing is left beside the file.
    QCOMPARE(QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("sites.dat")});
}

void TestCollectionFile::saveSitesFailureKeepsOldFile()
{
    TKestrunCollection Sites;
    Sites.Add(MakeSite("A"));
    QString Error;
    const QString Missing = QDir::tempPath() + QStringLiteral("/kestrune-no-such-folder/deeper");
    QVERIFY(!SaveSites(Missing, Sites, &Error));
    QVERIFY2(Error.startsWith(QStringLiteral("Cannot create file \"") + Missing +
                              QStringLiteral("/sites.dat\". ")),
             qPrintable(Error));
    QVERIFY(Error.size() > Missing.size() + 30);

    // A folder where the file should be: the save fails and the folder stays untouched.
    QTemporaryDir Dir;
    const QString Path = Dir.filePath(QStringLiteral("sites.dat"));
    QVERIFY(QDir(Dir.path()).mkdir(QStringLiteral("sites.dat")));
    QVERIFY(WriteFile(Path + QStringLiteral("/inside"), "keep"));
    QVERIFY(!SaveSites(Dir.path(), Sites, &Error));
    QCOMPARE(ReadFile(Path + QStringLiteral("/inside")), QByteArray("keep"));
    QCOMPARE(QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void TestCollectionFile::keepUnusableFile()
{
    QTemporaryDir Dir;
    const QString Path = Dir.filePath(QStringLiteral("sites.dat"));
    QVERIFY(WriteFile(Path, "old content 1"));
    const QString First = KeepUnusableSitesFile(Dir.path());
    QVERIFY(!First.isEmpty());
    QVERIFY(!QFile::exists(Path));
    QCOMPARE(ReadFile(First), QByteArray("old content 1"));

    QVERIFY(WriteFile(Path, "old content 2"));
    const QString Second = KeepUnusableSitesFile(Dir.path());
    QVERIFY(!Second.isEmpty());
    QVERIFY(Second != First);
    QCOMPARE(ReadFile(First), QByteArray("old content 1"));
    QCOMPARE(ReadFile(Second), QByteArray("old content 2"));
}

QTEST_GUILESS_MAIN(TestCollectionFile)
#include "tst_collectionfile.moc"
