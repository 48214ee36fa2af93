#include "SiteWatch.h"

#include <QtTest>

// The monitor's settings beside sites.dat: the file read defensively, and its entries matched to
// the sites they belong to.

namespace {

TSiteWatchEntry Entry(const QByteArray &Title, const QByteArray &URL, TCompareMode Compare,
                      const QString &Selector = QString())
{
    TSiteWatchEntry Made{Title, URL, TSiteWatch()};
    Made.Watch.Compare = Compare;
    Made.Watch.Selector = Selector;
    return Made;
}

} // namespace

class TestSiteWatch : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip();
    void badFiles_data();
    void badFiles();
    void zoomSteps_data();
    void zoomSteps();
    void matching_data();
    void matching();
    void folder();
    void historyIsBounded();
};

void TestSiteWatch::roundTrip()
{
    QList<TSiteWatchEntry> Entries{
        Entry("Mail", "https://mail.example/", TCompareMode::VisibleText, QStringLiteral("#inbox .count")),
        // Bytes that are not UTF-8 stay exactly as sites.dat holds them.
        Entry("Caf\xe9\xff", "http://x/\xfe", TCompareMode::Source),
        Entry("News", "http://news/", TCompareMode::VisibleText),
        // A zoom alone is worth an entry.
        Entry("Big", "http://big/", TCompareMode::Source)};
    Entries[3].Watch.Zoom = 1.25;
    Entries[1].Watch.LastChanged = QDateTime(QDate(2026, 12, 9), QTime(8, 30), Qt::UTC);
    Entries[2].Watch.NoteChange(QDateTime(QDate(2026, 12, 9), QTime(9, 0), Qt::UTC), QStringLiteral("a\nb"),
                                QStringLiteral("a\nc"));
    bool Damaged = true;
    QCOMPARE(ParseSiteWatchFile(SiteWatchFileData(Entries), &Damaged), Entries);
    QVERIFY(!Damaged);

    // Sites with nothing but defaults take no room.
    const QList<TSiteWatchEntry> Plain{Entry("Plain", "http://p/", TCompareMode::Source)};
    QCOMPARE(ParseSiteWatchFile(SiteWatchFileData(Plain)), QList<TSiteWatchEntry>());
}

void TestSiteWatch::badFiles_data()
{
    QTest::addColumn<QByteArray>("Data");
    QTest::addColumn<int>("Count");
    QTest::addColumn<bool>("Damaged");
    const QByteArray Good = R"({"title":"TWFpbA==","url":"aHR0cDovL20v","compare":"text"})";
    QTest::newRow("empty") << QByteArray() << 0 << true;
    QTest::newRow("not JSON") << QByteArray("Kestrune. Site collection file.") << 0 << true;
    QTest::newRow("an array at the top") << QByteArray("[]") << 0 << true;
    QTest::newRow("sites not an array") << QByteArray(R"({"sites":{}})") << 0 << true;
    QTest::newRow("cut in the middle") << QByteArray(R"({"sites":[)" + Good) << 0 << true;
    QTest::newRow("too big") << QByteArray(R"({"sites":[)" + Good + "]," +
                                           QByteArray(MaxSiteWatchFileSize, ' ') + "}")
                             << 0 << true;
    QTest::newRow("no sites") << QByteArray(R"({"sites":[]})") << 0 << false;
    QTest::newRow("one good entry") << QByteArray(R"({"sites":[)" + Good + "]}") << 1 << false;
    QTest::newRow("bad entries left out, good kept")
        << QByteArray(R"({"sites":[7,{"title":"!!","url":"aHR0cDovL20v"},{"title":"TWFpbA=="},)" + Good +
                      "]}")
        << 1 << false;
}

void TestSiteWatch::badFiles()
{
    QFETCH(QByteArray, Data);
    QFETCH(int, Count);
    QFETCH(bool, Damaged);
    bool Said = !Damaged;
    const QList<TSiteWatchEntry> Entries = ParseSiteWatchFile(Data, &Said);
    QCOMPARE(Entries.size(), Count);
    QCOMPARE(Said, Damaged);
    if (Count == 1) {
        QCOMPARE(Entries[0].Title, QByteArray("Mail"));
        QCOMPARE(Entries[0].Watch.Compare, TCompareMode::VisibleText);
    }

    // Values beyond what the program writes: an unknown mode is the source, a selector is capped.
    const QList<TSiteWatchEntry> Odd = ParseSiteWatchFile(
        R"({"sites":[{"title":"TWFpbA==","url":"aHR0cDovL20v","compare":"pixels","selector":")" +
        QByteArray(5000, 'a') + R"(","lastChanged":"yesterday"}]})");
    QCOMPARE(Odd.size(), 1);
    QCOMPARE(Odd[0].Watch.Compare, TCompareMode::Source);
    QCOMPARE(Odd[0].Watch.Selector.size(), MaxSelectorLength);
    QVERIFY(!Odd[0].Watch.LastChanged.isValid());

    // A zoom the engine cannot take, or no number at all, is the page's own size.
    for (const QByteArray &Zoom : {QByteArray("0"), QByteArray("-2"), QByteArray("99"), QByteArray("1e308"),
                                   QByteArray("\"2\""), QByteArray("null"), QByteArray("[1.5]")}) {
        const QList<TSiteWatchEntry> Zoomed = ParseSiteWatchFile(
            R"({"sites":[{"title":"TWFpbA==","url":"aHR0cDovL20v","zoom":)" + Zoom + "}]}");
        QCOMPARE(Zoomed.size(), 1);
        QCOMPARE(Zoomed[0].Watch.Zoom, 1.0);
    }
}

void TestSiteWatch::zoomSteps_data()
{
    QTest::addColumn<double>("Zoom");
    QTest::addColumn<int>("Direction");
    QTest::addColumn<double>("Next");
    QTest::newRow("in from 100 %") << 1.0 << 1 << 1.1;
    QTest::newRow("out from 100 %") << 1.0 << -1 << 0.9;
    QTest::newRow("in at the largest") << 5.0 << 1 << 5.0;
    QTest::newRow("out at the smallest") << 0.25 << -1 << 0.25;
    QTest::newRow("between steps, in") << 1.2 << 1 << 1.25;
    QTest::newRow("between steps, out") << 1.2 << -1 << 1.1;
    QTest::newRow("read back a hair off the step") << 1.2499999 << 1 << 1.5;
    QTest::newRow("beyond the largest, out") << 7.0 << -1 << 5.0;
    QTest::newRow("beyond the largest, in") << 7.0 << 1 << 5.0;
}

void TestSiteWatch::zoomSteps()
{
    QFETCH(double, Zoom);
    QFETCH(int, Direction);
    QFETCH(double, Next);
    QCOMPARE(NextZoomStep(Zoom, Direction), Next);
}

using TSites = QList<std::pair<QByteArray, QByteArray>>;

void TestSiteWatch::matching_data()
{
    QTest::addColumn<TSites>("Sites");
    QTest::addColumn<QList<TSiteWatchEntry>>("Entries");
    QTest::addColumn<QByteArrayList>("Selectors"); // what each site gets; "-" for the defaults

    const QList<TSiteWatchEntry> Three{
        Entry("A", "http://a/", TCompareMode::VisibleText, QStringLiteral("a")),
        Entry("B", "http://b/", TCompareMode::VisibleText, QStringLiteral("b")),
        Entry("C", "http://c/", TCompareMode::VisibleText, QStringLiteral("c"))};
    QTest::newRow("same order") << TSites{{"A", "http://a/"}, {"B", "http://b/"}, {"C", "http://c/"}} << Three
                                << QByteArrayList{"a", "b", "c"};
    QTest::newRow("a site removed in another copy")
        << TSites{{"A", "http://a/"}, {"C", "http://c/"}} << Three << QByteArrayList{"a", "c"};
    QTest::newRow("sites moved") << TSites{{"C", "http://c/"}, {"A", "http://a/"}, {"B", "http://b/"}}
                                 << Three << QByteArrayList{"c", "a", "b"};
    QTest::newRow("a site renamed elsewhere loses its settings")
        << TSites{{"A", "http://a/"}, {"B2", "http://b/"}, {"C", "http://c/"}} << Three
        << QByteArrayList{"a", "-", "c"};
    QTest::newRow("a new URL is another site")
        << TSites{{"A", "http://a/"}, {"B", "http://b2/"}} << Three << QByteArrayList{"a", "-"};
    QTest::newRow("two sites of one title and URL keep their own, in order")
        << TSites{{"X", "http://x/"}, {"Y", "http://y/"}, {"X", "http://x/"}}
        << QList<TSiteWatchEntry>{Entry("X", "http://x/", TCompareMode::VisibleText, QStringLiteral("first")),
                                  Entry("X", "http://x/", TCompareMode::VisibleText,
                                        QStringLiteral("second"))}
        << QByteArrayList{"first", "-", "second"};
    QTest::newRow("no file") << TSites{{"A", "http://a/"}} << QList<TSiteWatchEntry>() << QByteArrayList{"-"};
}

void TestSiteWatch::matching()
{
    QFETCH(TSites, Sites);
    QFETCH(QList<TSiteWatchEntry>, Entries);
    QFETCH(QByteArrayList, Selectors);
    const QList<TSiteWatch> Got = MatchSiteWatches(Sites, Entries);
    QCOMPARE(Got.size(), Sites.size());
    QByteArrayList Shown;
    for (const TSiteWatch &Watch : Got)
        Shown << (Watch.IsDefault() ? QByteArray("-") : Watch.Selector.toUtf8());
    QCOMPARE(Shown, Selectors);
}

void TestSiteWatch::folder()
{
    QTemporaryDir Dir;
    bool Damaged = true;
    QVERIFY(LoadSiteWatches(Dir.path(), &Damaged).isEmpty());
    QVERIFY(!Damaged);
    const QList<TSiteWatchEntry> Entries{Entry("A", "http://a/", TCompareMode::VisibleText)};
    QVERIFY(SaveSiteWatches(Dir.path(), Entries));
    QCOMPARE(LoadSiteWatches(Dir.path(), &Damaged), Entries);
    QVERIFY(!Damaged);
    const QString Path = Dir.filePath(SiteWatchFileName);
    QCOMPARE(QFile::permissions(Path) & (QFileDevice::ReadOther | QFileDevice::ReadGroup),
             QFileDevice::Permissions());
    // A folder in the file's place.
    QVERIFY(QFile::remove(Path));
    QVERIFY(QDir(Dir.path()).mkdir(SiteWatchFileName));
    QVERIFY(LoadSiteWatches(Dir.path(), &Damaged).isEmpty());
    QVERIFY(Damaged);
    QVERIFY(!SaveSiteWatches(Dir.path(), Entries));
}

void TestSiteWatch::historyIsBounded()
{
    TSiteWatch Watch;
    const QDateTime Start(QDate(2026, 12, 1), QTime(0, 0), Qt::UTC);
    for (int i = 0; i < MaxChangeRecords + 3; ++i)
        Watch.NoteChange(Start.addSecs(i), QString::number(i), QString::number(i + 1));
    QCOMPARE(Watch.History.size(), MaxChangeRecords);
    QCOMPARE(Watch.History.first().Before, QString::number(3));
    QCOMPARE(Watch.LastChanged, Start.addSecs(MaxChangeRecords + 2));
    Watch.NoteChange(Start, QString(MaxChangeText + 10, u'x'), QString());
    QCOMPARE(Watch.History.last().Before.size(), MaxChangeText);

    // A file with more than the program keeps, and records that are not whole.
    QByteArray Many = R"({"sites":[{"title":"TWFpbA==","url":"aHR0cDovL20v","compare":"text","changes":[)";
    for (int i = 0; i < 9; ++i)
        Many +=
            R"({"when":"2026-12-0)" + QByteArray::number(i + 1) + R"(T10:00:00Z","before":"b","after":"a"},)";
    Many += R"({"when":"soon","before":"b","after":"a"},{"when":"2026-12-10T10:00:00Z","before":7}]}]})";
    const QList<TSiteWatchEntry> Entries = ParseSiteWatchFile(Many);
    QCOMPARE(Entries.size(), 1);
    QCOMPARE(Entries[0].Watch.History.size(), MaxChangeRecords);
    QCOMPARE(Entries[0].Watch.History.last().When, QDateTime(QDate(2026, 12, 9), QTime(10, 0), Qt::UTC));
}

QTEST_GUILESS_MAIN(TestSiteWatch)
#include "tst_sitewatch.moc"
