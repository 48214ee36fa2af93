#include "KestruneClasses.h"
#include "Settings.h"

#include <QtTest>

#include <csignal>

// The built program as a real process, with its own private folders: what the system's stop
// signals leave behind.

namespace {

QString Program()
{
    return qEnvironmentVariable("KESTRUNE_TEST_BINARY_DIR") + QStringLiteral("/sources/kestrune");
}

// True once the process has its own SIGTERM handler in place.
bool CatchesSigterm(qint64 Pid)
{
    QFile Status(QStringLiteral("/proc/%1/status").arg(Pid));
    if (!Status.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> Lines = Status.readAll().split('\n');
    for (const QByteArray &Line : Lines) {
        if (Line.startsWith("SigCgt:"))
            return (Line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1;
    }
    return false;
}

} // namespace

class TestMainProcess : public QObject
{
    Q_OBJECT

private slots:
    void stopSignalKeepsSites_data();
    void stopSignalKeepsSites();
};

void TestMainProcess::stopSignalKeepsSites_data()
{
    QTest::addColumn<int>("Signal");
    QTest::addColumn<QStringList>("Arguments");

    QTest::newRow("SIGTERM") << int(SIGTERM) << QStringList();
    QTest::newRow("SIGINT") << int(SIGINT) << QStringList();
    QTest::newRow("SIGHUP") << int(SIGHUP) << QStringList();
    // The bad link's message box waits for an answer that never comes.
    QTest::newRow("SIGTERM while a message box waits")
        << int(SIGTERM) << QStringList{QStringLiteral("not-a-link")};
}

void TestMainProcess::stopSignalKeepsSites()
{
    QFETCH(int, Signal);
    QFETCH(QStringList, Arguments);
    QVERIFY2(QFileInfo(Program()).isExecutable(), qPrintable(Program()));

    QTemporaryDir Home;
    QVERIFY(QDir(Home.path()).mkpath(QStringLiteral("runtime")));
    QFile::setPermissions(Home.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString Data = Home.filePath(QStringLiteral("data/Kestrune/"));
    QVERIFY(QDir().mkpath(Data));

    TKestrunCollection Sites;
    for (const char *Title : {"One", "Two", "Three"}) {
        auto Site = std::make_unique<TKestrunSite>();
        Site->SetTitle(Title);
        Sites.Add(std::move(Site));
    }
    QVERIFY(SaveSites(Data, Sites));
    // Bytes after the last record are ignored on reading and gone after a save: they show that
    // the end-of-run save ran.
    {
        QFile File(Data + QStringLiteral("sites.dat"));
        QVERIFY(File.open(QIODevice::Append));
        File.write("trailer");
    }

    {
        // A fresh profile would ask the product's server for a newer version two seconds after start.
        QSettings Store(Home.filePath(QStringLiteral("config/Brinmoor/Kestrune.conf")), QSettings::IniFormat);
        Store.setValue(LastUpdateCheckKey, EncodeLastUpdateCheck(QDateTime::currentDateTime()));
    }
    QProcess Process;
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    Environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    Environment.insert(QStringLiteral("HOME"), Home.path());
    Environment.insert(QStringLiteral("XDG_DATA_HOME"), Home.filePath(QStringLiteral("data")));
    Environment.insert(QStringLiteral("XDG_CONFIG_HOME"), Home.filePath(QStringLiteral("config")));
    Environment.insert(QStringLiteral("XDG_CACHE_HOME"), Home.filePath(QStringLiteral("cache")));
    Environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), Home.filePath(QStringLiteral("runtime")));
    Process.setProcessEnvironment(Environment);
    Process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    Process.start(Program(), Arguments);
    QVERIFY(Process.waitForStarted(10000));

    QDeadlineTimer Ready(20000);
    while (!CatchesSigterm(Process.processId()) && !Ready.hasExpired() &&
           Process.state() == QProcess::Running)
        QTest::qWait(20);
    QVERIFY(CatchesSigterm(Process.processId()));
    // Let the window come up (or the box open) before the signal.
    QTest::qWait(300);
    ::kill(pid_t(Process.processId()), Signal);
    QVERIFY(Process.waitForFinished(20000));
    QCOMPARE(Process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(Process.exitCode(), 0);

    QFile File(Data + QStringLiteral("sites.dat"));
    QVERIFY(File.open(QIODevice::ReadOnly));
    const QByteArray Saved = File.readAll();
    QVERIFY(!Saved.endsWith("trailer"));
    TKestrunCollection Loaded;
    QCOMPARE(LoadSites(Data, Loaded).Status, TLoadSitesResult::Loaded);
    QCOMPARE(Loaded.Count(), 3);
    for (int i = 0; i < 3; ++i)
        QVERIFY(Loaded[i]->SameStoredFields(*Sites[i]));
}

QTEST_GUILESS_MAIN(TestMainProcess)
#include "tst_mainprocess.moc"
