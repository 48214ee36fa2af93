#include "KestruneClasses.h"

#include <QtTest>

#include <csignal>
#include <sys/stat.h>

// The program is a small launcher and a body it loads for a first copy. Where the launcher looks
// for the body, and what it says when the body is missing or broken, seen on real copies of it.

namespace {

QString BuildFolder()
{
    return qEnvironmentVariable("KESTRUNE_TEST_BINARY_DIR") + QStringLiteral("/sources/");
}

const QString ModuleName = QStringLiteral("libkestrune-app.so");

struct TRun
{
    int Status = -1;
    QByteArray Error;
    bool Listened = false; // the body came as far as waiting for later starts
};

// True once a copy listens for later starts in Folder: the body has been loaded, has made its main
// window and runs.
bool SocketIn(const QString &Folder)
{
    const QStringList Names = QDir(Folder).entryList(QDir::System | QDir::Files | QDir::Hidden);
    for (const QString &Name : Names) {
        struct stat Info;
        if (::lstat(QFile::encodeName(Folder + u'/' + Name).constData(), &Info) == 0 &&
            S_ISSOCK(Info.st_mode))
            return true;
    }
    return false;
}

// Runs Program until it listens for later starts (offscreen), then stops it as the system would, or
// until it ends by itself; its data folder goes below DataHome, its lock and socket below Runtime.
TRun Run(const QString &Program, const QStringList &Arguments, const QString &WorkingFolder,
         const QString &DataHome, const QString &Runtime)
{
    QProcess Process;
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    // Never where the launcher looks: it takes no folder from the environment.
    Environment.insert(QStringLiteral("LD_LIBRARY_PATH"), BuildFolder());
    Environment.insert(QStringLiteral("XDG_DATA_HOME"), DataHome);
    Environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), Runtime);
    Process.setProcessEnvironment(Environment);
    Process.setWorkingDirectory(WorkingFolder);
    Process.start(Program, Arguments);
    TRun Result;
    QDeadlineTimer Deadline(120000);
    while (!Process.waitForFinished(50) && Process.state() == QProcess::Running && !Deadline.hasExpired()) {
        if (SocketIn(Runtime)) {
            Result.Listened = true;
            ::kill(pid_t(Process.processId()), SIGTERM);
            Process.waitForFinished(30000);
            break;
        }
    }
    if (Process.state() != QProcess::NotRunning) {
        Process.kill();
        Process.waitForFinished();
        return {};
    }
    Result.Status = Process.exitStatus() == QProcess::NormalExit ? Process.exitCode() : -1;
    Result.Error = Process.readAllStandardError();
    return Result;
}

bool Copy(const QString &From, const QString &To)
{
    return QDir().mkpath(QFileInfo(To).absolutePath()) && QFile::copy(From, To);
}

} // namespace

class TestLauncher : public QObject
{
    Q_OBJECT

private slots:
    void findsBody_data();
    void findsBody();
    void laterStartNeedsNoBody();
};

void TestLauncher::findsBody_data()
{
    // Layout: what the scratch folder holds besides the launcher ("bin/kestrune"), each entry
    // "path=source" with source "module", "garbage", "other library" or "sites" (an empty site file).
    QTest::addColumn<QStringList>("Layout");
    QTest::addColumn<bool>("FromBuildFolder"); // the current folder holds the real body
    QTest::addColumn<QStringList>("Arguments");
    QTest::addColumn<int>("Status");
    QTest::addColumn<QByteArray>("Message"); // part of what it writes to standard error
    // Where the body keeps its data: "user" (the user's data folder), "beside" (the launcher's
    // folder, which holds a site file), or "" when the body does not run.
    QTest::addColumn<QString>("DataFolder");

    const QString Installed = QStringLiteral("bin/" KESTRUNE_MODULE_DIR "/libkestrune-app.so=module");
    const QByteArray Missing("kestrune: the program's module libkestrune-app.so is missing");
    QTest::newRow("installed: body in the program's library folder")
        << QStringList{Installed} << false << QStringList() << 0 << QByteArray() << QStringLiteral("user");
    QTest::newRow("installed, its folder holds a site file: the data stay beside the launcher")
        << QStringList{Installed, QStringLiteral("bin/sites.dat=sites")} << false << QStringList() << 0
        << QByteArray() << QStringLiteral("beside");
    QTest::newRow("body beside the launcher")
        << QStringList{QStringLiteral("bin/libkestrune-app.so=module")} << false << QStringList() << 0
        << QByteArray() << QStringLiteral("user");
    QTest::newRow("no body: information options still answer")
        << QStringList() << false << QStringList{QStringLiteral("--version")} << 0 << QByteArray()
        << QString();
    QTest::newRow("no body") << QStringList() << false << QStringList() << 1 << Missing << QString();
    QTest::newRow("no body, the current folder holds one: never taken")
        << QStringList() << true << QStringList() << 1 << Missing << QString();
    QTest::newRow("body that is no library")
        << QStringList{QStringLiteral("bin/libkestrune-app.so=garbage")} << false << QStringList() << 1
        << QByteArray("kestrune: cannot load the program's module: ") << QString();
    QTest::newRow("library without the entry")
        << QStringList{QStringLiteral("bin/libkestrune-app.so=other library")} << false << QStringList() << 1
        << QByteArray("libkestrune-app.so is not this program's module: ") << QString();
}

void TestLauncher::findsBody()
{
    QFETCH(QStringList, Layout);
    QFETCH(bool, FromBuildFolder);
    QFETCH(QStringList, Arguments);
    QFETCH(int, Status);
    QFETCH(QByteArray, Message);
    QFETCH(QString, DataFolder);

    QTemporaryDir Scratch;
    const QString Launcher = Scratch.filePath(QStringLiteral("bin/kestrune"));
    QVERIFY(Copy(BuildFolder() + QStringLiteral("kestrune"), Launcher));
    for (const QString &Entry : Layout) {
        const QString Path = Scratch.filePath(Entry.section(u'=', 0, 0));
        const QString Source = Entry.section(u'=', 1);
        if (Source == QLatin1String("module")) {
            QVERIFY(Copy(BuildFolder() + ModuleName, Path));
        } else if (Source == QLatin1String("other library")) {
            QVERIFY(Copy(QLibraryInfo::path(QLibraryInfo::LibrariesPath) + QStringLiteral("/libQt6Test.so.6"),
                         Path));
        } else if (Source == QLatin1String("sites")) {
            QVERIFY(SaveSites(QFileInfo(Path).absolutePath() + u'/', TKestrunCollection()));
        } else {
            QVERIFY(QDir().mkpath(QFileInfo(Path).absolutePath()));
            QFile File(Path);
            QVERIFY(File.open(QIODevice::WriteOnly));
            File.write("not a library\n");
        }
    }

    const QString DataHome = Scratch.filePath(QStringLiteral("data"));
    const QString Runtime = Scratch.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(Runtime));
    QVERIFY(QFile::setPermissions(Runtime,
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    const TRun Result =
        Run(Launcher, Arguments, FromBuildFolder ? BuildFolder() : Scratch.path(), DataHome, Runtime);
    QVERIFY2(Result.Status == Status, Result.Error.constData());
    // A body that runs comes as far as its main window, and ends well when stopped there.
    QCOMPARE(Result.Listened, !DataFolder.isEmpty());
    if (!Message.isEmpty())
        QVERIFY2(Result.Error.contains(Message), Result.Error.constData());
    if (Status != 0)
        QVERIFY2(Result.Error.count('\n') == 1, Result.Error.constData());
    // Only the body makes the data folder, and it chooses it by the launcher's own folder.
    QCOMPARE(QFileInfo::exists(DataHome + QStringLiteral("/Kestrune")), DataFolder == QLatin1String("user"));
    QCOMPARE(QFileInfo::exists(Scratch.filePath(QStringLiteral("bin/Icons"))),
             DataFolder == QLatin1String("beside"));
}

// A later start with links hands them to the copy that runs and ends without loading the body: a
// launcher with no body anywhere it looks still delivers. Once no copy answers, the same start
// needs its body (and says that it is missing) instead of passing for handed over.
void TestLauncher::laterStartNeedsNoBody()
{
    QTemporaryDir Scratch;
    const QString Launcher = Scratch.filePath(QStringLiteral("bin/kestrune"));
    QVERIFY(Copy(BuildFolder() + QStringLiteral("kestrune"), Launcher));
    const QString Runtime = Scratch.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(Runtime));
    QVERIFY(QFile::setPermissions(Runtime,
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    Environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), Runtime);
    Environment.insert(QStringLiteral("XDG_DATA_HOME"), Scratch.filePath(QStringLiteral("data")));

    // The first copy: the guard's listening side, logging what it is handed.
    const QString Log = Scratch.filePath(QStringLiteral("first.log"));
    auto Logged = [&Log] {
        QFile File(Log);
        return File.open(QIODevice::ReadOnly) ? File.readAll().split('\n') : QList<QByteArray>();
    };
    QProcess First;
    First.setProcessEnvironment(Environment);
    First.start(qEnvironmentVariable("KESTRUNE_TEST_BINARY_DIR") + QStringLiteral("/tests/handover_peer"),
                {QStringLiteral("--log"), Log});
    QVERIFY(First.waitForStarted());
    const auto StopFirst = qScopeGuard([&First] {
        if (First.state() != QProcess::NotRunning) {
            First.kill();
            First.waitForFinished();
        }
    });
    QTRY_VERIFY_WITH_TIMEOUT(Logged().contains("listening") || First.state() == QProcess::NotRunning, 30000);
    QVERIFY(Logged().contains("listening"));

    const QStringList Links{QStringLiteral("4b524c5000014107"), QStringLiteral("4b524c5000024107")};
    auto RunLater = [&](int &Status, QByteArray &Error) {
        QProcess Later;
        Later.setProcessEnvironment(Environment);
        Later.start(Launcher, Links);
        if (!Later.waitForFinished(30000)) {
            Later.kill();
            Later.waitForFinished();
            return false;
        }
        Status = Later.exitStatus() == QProcess::NormalExit ? Later.exitCode() : -1;
        Error = Later.readAllStandardError();
        return true;
    };
    int Status = -1;
    QByteArray Error;
    QVERIFY(RunLater(Status, Error));
    QVERIFY2(Status == 0, Error.constData());
    QVERIFY2(Error.isEmpty(), Error.constData());
    const QList<QByteArray> Lines = Logged();
    const qsizetype FirstEnd = Lines.indexOf("end " + Links[0].toLatin1().toHex());
    const qsizetype Second = Lines.indexOf("begin " + Links[1].toLatin1().toHex());
    QVERIFY2(FirstEnd >= 0 && Second > FirstEnd, Lines.join('|').constData());

    First.closeWriteChannel();
    QVERIFY(First.waitForFinished(30000));
    QVERIFY(RunLater(Status, Error));
    QCOMPARE(Status, 1);
    QVERIFY2(Error.contains("kestrune: the program's module libkestrune-app.so is missing"),
             Error.constData());
}

QTEST_GUILESS_MAIN(TestLauncher)
#include "tst_launcher.moc"
