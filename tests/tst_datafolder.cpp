#include "DataFolder.h"

#include <QtTest>

class TestDataFolder : public QObject
{
    Q_OBJECT

private slots:
    void choose_data();
    void choose();
    void createdForTheUserOnly();
};

void TestDataFolder::choose_data()
{
    QTest::addColumn<QStringList>("Beside"); // what the program's folder holds; "x/" is a folder
    QTest::addColumn<bool>("KeepsBeside");

    QTest::newRow("unpacked copy with its sites keeps them beside itself")
        << QStringList{QStringLiteral("sites.dat"), QStringLiteral("Icons/")} << true;
    QTest::newRow("sites.dat alone is enough") << QStringList{QStringLiteral("sites.dat")} << true;
    QTest::newRow("fresh build folder uses the user's folder") << QStringList() << false;
    QTest::newRow("an icon folder alone is no site file") << QStringList{QStringLiteral("Icons/")} << false;
    QTest::newRow("a folder named sites.dat is no site file")
        << QStringList{QStringLiteral("sites.dat/")} << false;
}

void TestDataFolder::choose()
{
    QFETCH(QStringList, Beside);
    QFETCH(bool, KeepsBeside);

    QTemporaryDir Program;
    for (const QString &Entry : Beside) {
        if (Entry.endsWith(QLatin1Char('/'))) {
            QVERIFY(QDir(Program.path()).mkpath(Entry));
        } else {
            QFile File(Program.filePath(Entry));
            QVERIFY(File.open(QIODevice::WriteOnly));
        }
    }
    const QString User = QStringLiteral("/home/u/.local/share/Kestrune");
    const QString Chosen = ChooseProgramFolder(Program.path(), User);
    QCOMPARE(Chosen, KeepsBeside ? Program.path() + QLatin1Char('/') : User + QLatin1Char('/'));
    // The same answer whether or not the folder is given with its trailing delimiter.
    QCOMPARE(ChooseProgramFolder(Program.path() + QLatin1Char('/'), User + QLatin1Char('/')), Chosen);
}

void TestDataFolder::createdForTheUserOnly()
{
    QTemporaryDir Home;
    QTemporaryDir Program;
    qputenv("XDG_DATA_HOME", Home.path().toUtf8());
    const QString Folder = ProgramFolderOf(Program.path());
    QCOMPARE(Folder, Home.path() + QStringLiteral("/Kestrune/"));
    QCOMPARE(UserDataFolder(), Folder);
    const QFileInfo Info(Folder);
    QVERIFY(Info.isDir());
    QCOMPARE(Info.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::WriteGroup |
                                   QFileDevice::WriteOther | QFileDevice::ExeGroup | QFileDevice::ExeOther),
             QFileDevice::Permissions());
    // A second start finds it as it is.
    QCOMPARE(ProgramFolderOf(Program.path()), Folder);
}

QTEST_GUILESS_MAIN(TestDataFolder)
#include "tst_datafolder.moc"
