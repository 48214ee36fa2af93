#include "platform/InstanceGuard.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using TParameters = QList<QByteArray>;

namespace {

constexpr const char *GuardName = "{B730922C-2110-4F3C-9E24-C5613B177BA3}";
// Far above any real run; only a broken build waits this long.
constexpr int Patience = 30000;

QByteArray Header(quint32 Count, quint32 Length)
{
    QByteArray B(HandOverHeaderSize, '\0');
    qToLittleEndian<quint32>(Count, B.data());
    qToLittleEndian<quint32>(Length, B.data() + 4);
    return B;
}

// An instance's lock and socket as Qt names files.
struct TQtPaths
{
    QString Folder;
    QString LockFile;
    QString Socket;
};

TQtPaths QtPaths(const TInstancePaths &Paths)
{
    return {QFile::decodeName(Paths.Folder.c_str()), QFile::decodeName(Paths.LockFile.c_str()),
            QFile::decodeName(Paths.Socket.c_str())};
}

QByteArray Encoded(const THandOverRecord &Record)
{
    return QByteArray::fromStdString(EncodeHandOverRecord(Record));
}

QString ProgramPath(const QString &Relative)
{
    return QString::fromLocal8Bit(qgetenv("KESTRUNE_TEST_BINARY_DIR")) + u'/' + Relative;
}

// A user session of its own: home, runtime folder (0700) and the other XDG folders.
class TSession
{
public:
    TSession() : FHome(QDir::tempPath() + QStringLiteral("/kh-XXXXXX"))
    {
        Runtime = FHome.path() + QStringLiteral("/run");
        QDir().mkpath(Runtime);
        QFile::setPermissions(Runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir().mkpath(FHome.path() + QStringLiteral("/tmp"));
        Env = QProcessEnvironment::systemEnvironment();
        Env.insert(QStringLiteral("HOME"), FHome.path());
        Env.insert(QStringLiteral("XDG_RUNTIME_DIR"), Runtime);
        Env.insert(QStringLiteral("XDG_DATA_HOME"), FHome.path() + QStringLiteral("/data"));
        Env.insert(QStringLiteral("XDG_CONFIG_HOME"), FHome.path() + QStringLiteral("/config"));
        Env.insert(QStringLiteral("XDG_CACHE_HOME"), FHome.path() + QStringLiteral("/cache"));
        Env.insert(QStringLiteral("TMPDIR"), FHome.path() + QStringLiteral("/tmp"));
    }
    QString Path(const QString &Name) const { return FHome.path() + u'/' + Name; }
    TQtPaths Paths() const
    {
        return QtPaths(InstancePathsIn(QFile::encodeName(Runtime).toStdString(), GuardName));
    }

    QString Runtime;
    QProcessEnvironment Env;

private:
    QTemporaryDir FHome;
};

// One start of the peer program; its log lines tell what it did.
class TPeer
{
public:
    TPeer(const TSession &Session, const QString &Label, const TParameters &Parameters,
          const QStringList &Options = {})
        : FLog(Session.Path(Label + QStringLiteral(".log")))
    {
        QStringList Arguments{QStringLiteral("--log"), FLog};
        Arguments << Options << QStringLiteral("--");
        for (const QByteArray &P : Parameters)
            Arguments << QString::fromUtf8(P);
        FProcess.setProcessEnvironment(Session.Env);
        FProcess.setProgram(ProgramPath(QStringLiteral("tests/handover_peer")));
        FProcess.setArguments(Arguments);
        FProcess.start();
        FProcess.waitForStarted();
    }
    ~TPeer()
    {
        if (FProcess.state() == QProcess::NotRunning)
            return;
        FProcess.closeWriteChannel();
        if (!FProcess.waitForFinished(5000))
            FProcess.kill();
        FProcess.waitForFinished(5000);
    }

    TParameters Log() const
    {
        QFile F(FLog);
        if (!F.open(QIODevice::ReadOnly))
            return {};
        TParameters Lines = F.readAll().split('\n');
        Lines.removeLast();
        return Lines;
    }
    bool WaitFor(const QByteArray &Line)
    {
        QDeadlineTimer Deadline(Patience);
        while (!Log().contains(Line)) {
            if (Deadline.hasExpired() || FProcess.state() == QProcess::NotRunning)
                return Log().contains(Line);
            QTest::qWait(10);
        }
        return true;
    }
    // True when the process ended by itself with status 0.
    bool Finished()
    {
        if (FProcess.state() != QProcess::NotRunning && !FProcess.waitForFinished(Patience))
            return false;
        return FProcess.exitStatus() == QProcess::NormalExit && FProcess.exitCode() == 0;
    }
    bool Running() const { return FProcess.state() == QProcess::Running; }
    bool Quit()
    {
        FProcess.closeWriteChannel();
        return Finished();
    }
    void CloseInput() { FProcess.closeWriteChannel(); }
    void Kill()
    {
        FProcess.kill();
        FProcess.waitForFinished(Patience);
    }
    QByteArray Output() { return FProcess.readAllStandardOutput() + FProcess.readAllStandardError(); }

private:
    QString FLog;
    QProcess FProcess;
};

QByteArray Begin(const QByteArray &P)
{
    return "begin " + P.toHex();
}

TParameters Handled(const TParameters &Parameters)
{
    TParameters Lines;
    for (const QByteArray &P : Parameters)
        Lines << Begin(P) << "end " + P.toHex();
    return Lines;
}

} // namespace

class TestHandOverProcesses : public QObject
{
    Q_OBJECT

private slots:
    void noParameterEndsSilently();
    void handsOver_data();
    void handsOver();
    void laterStartWhileFirstIsStarting();
    void laterStartWhileFirstIsQuitting();
    void searchGivesUpAfterElevenPauses();
    void staleLockAfterKill();
    void cleanEndLeavesNothing();
    void anotherSessionIsFirstCopy();
    void senderLeavingAfterItsRecord();
    void badClientDoesNotBlock_data();
    void badClientDoesNotBlock();
    void runtimeFolder_data();
    void runtimeFolder();
    void fallbackFolderNotOurs();
    void guardInOneProcess();

private:
    void SetEnv(const char *Name, const QByteArray &Value);
    QList<std::pair<QByteArray, QByteArray>> FSavedEnv;

private slots:
    void cleanup();
};

void TestHandOverProcesses::noParameterEndsSilently()
{
    TSession S;
    TPeer First(S, QStringLiteral("first"), {});
    QVERIFY(First.WaitFor("listening"));

    TPeer Later(S, QStringLiteral("later"), {});
    QVERIFY(Later.Finished());
    QCOMPARE(Later.Log(), TParameters{"later"});
    QCOMPARE(Later.Output(), QByteArray());
    QVERIFY(First.Running());
    QCOMPARE(First.Log(), (TParameters{"first", "listening"}));
}

void TestHandOverProcesses::handsOver_data()
{
    QTest::addColumn<TParameters>("parameters");
    QTest::addColumn<int>("handlerDelay");

    QTest::newRow("one parameter") << TParameters{"abc"} << 0;
    QTest::newRow("two parameters in order") << TParameters{"b", "a"} << 0;
    QTest::newRow("an empty parameter among others") << TParameters{"a", "", "b"} << 0;
    QTest::newRow("a lone parameter keeps its line break") << TParameters{"x\ny"} << 0;
    // The later copy must wait for the handler, as it would for a message box.
    QTest::newRow("handler busy in a nested event loop") << TParameters{"a", "b"} << 300;
    const QByteArray Big(100 * 1024, 'x');
    QTest::newRow("a command line larger than one record")
        << TParameters{Big + 'a', Big + 'b', Big + 'c'} << 0;
}

void TestHandOverProcesses::handsOver()
{
    QFETCH(TParameters, parameters);
    QFETCH(int, handlerDelay);

    TSession S;
    TPeer First(S, QStringLiteral("first"), {},
                {QStringLiteral("--handler-delay"), QString::number(handlerDelay)});
    QVERIFY(First.WaitFor("listening"));

    TPeer Later(S, QStringLiteral("later"), parameters);
    QVERIFY(Later.Finished());
    QCOMPARE(Later.Log(), TParameters{"later"});
    // Read the moment the later copy ended: every handler had returned before.
    QCOMPARE(First.Log(), TParameters({"first", "listening"}) + Handled(parameters));
    QVERIFY(First.Running());
}

void TestHandOverProcesses::laterStartWhileFirstIsStarting()
{
    TSession S;
    TPeer First(S, QStringLiteral("first"), {}, {QStringLiteral("--listen-delay"), QStringLiteral("2500")});
    QVERIFY(First.WaitFor("first"));
    QVERIFY(!First.Log().contains("listening"));

    TPeer Later(S, QStringLiteral("later"), {"abc"});
    QVERIFY(Later.Finished());
    QCOMPARE(Later.Log(), TParameters{"later"});
    QCOMPARE(First.Log(), TParameters({"first", "listening"}) + Handled({"abc"}));
}

// A link that comes while the first copy is on its way out is refused, not dropped: the later
// start waits until the lock is free and opens the link as the first copy itself.
void TestHandOverProcesses::laterStartWhileFirstIsQuitting()
{
    TSession S;
    TPeer First(S, QStringLiteral("first"), {}, {QStringLiteral("--quit-delay"), QStringLiteral("1500")});
    QVERIFY(First.WaitFor("listening"));
    // Taken in before the quit began, whole after it: refused as well.
    const QByteArray Record = Encoded({1, "pending"});
    QLocalSocket Pending;
    Pending.connectToServer(S.Paths().Socket);
    QVERIFY(Pending.waitForConnected(Patience));
    Pending.write(Record.left(HandOverHeaderSize));
    QVERIFY(Pending.waitForBytesWritten(Patience));
    QTest::qWait(500);
    First.CloseInput();
    QVERIFY(First.WaitFor("quitting"));
    Pending.write(Record.mid(HandOverHeaderSize));
    QVERIFY(Pending.waitForReadyRead(Patience));
    QCOMPARE(Pending.readAll(), QByteArray(1, HandOverRefusal));

    TPeer Later(S, QStringLiteral("later"), {"abc"});
    QVERIFY(Later.WaitFor("listening"));
    QCOMPARE(Later.Log(), (TParameters{"first", "own " + QByteArray("abc").toHex(), "listening"}));
    QVERIFY(First.Finished());
    QCOMPARE(First.Log(), (TParameters{"first", "listening", "quitting"}));
}

// A first copy that holds the lock but never takes the link: 11 searches, each followed by a
// pause, and the later start gives up.
void TestHandOverProcesses::searchGivesUpAfterElevenPauses()
{
    TSession S;
    TPeer First(S, QStringLiteral("first"), {}, {QStringLiteral("--listen-delay"), QStringLiteral("60000")});
    QVERIFY(First.WaitFor("first"));
    // Stands in for the first copy's socket: refuses every record and counts the searches.
    QLocalServer Refuser;
    QVERIFY(Refuser.listen(S.Paths().Socket));
    int Searches = 0;
    QList<QLocalSocket *> Open;
    connect(&Refuser, &QLocalServer::newConnection, &Refuser, [&] {
        while (QLocalSocket *Socket = Refuser.nextPendingConnection()) {
            ++Searches;
            Open.append(Socket);
            connect(Socket, &QLocalSocket::readyRead, Socket, [Socket] {
                Socket->readAll();
                Socket->write(&HandOverRefusal, 1);
                Socket->flush();
            });
        }
    });
    QElapsedTimer Clock;
    Clock.start();
    TPeer Later(S, QStringLiteral("later"), {"abc"});
    QTRY_VERIFY_WITH_TIMEOUT(!Later.Running(), 3 * Patience);
    QVERIFY(Later.Finished());
    QCOMPARE(Later.Log(), TParameters{"later"});
    QCOMPARE(Searches, RetryCount + 1);
    // The last search is followed by its pause too (a lower bound only).
    QVERIFY2(Clock.elapsed() >= (RetryCount + 1) * RetryInterval - 100,
             qPrintable(QString::number(Clock.elapsed())));
}

void TestHandOverProcesses::staleLockAfterKill()
{
    TSession S;
    {
        TPeer Crashed(S, QStringLiteral("crashed"), {});
        QVERIFY(Crashed.WaitFor("listening"));
        Crashed.Kill();
    }
    // What a crash leaves behind.
    QVERIFY(QFile::exists(S.Paths().LockFile));
    QVERIFY(QFile::exists(S.Paths().Socket));

    TPeer Next(S, QStringLiteral("next"), {"abc"});
    QVERIFY(Next.WaitFor("listening"));
    QCOMPARE(Next.Log(), (TParameters{"first", "own " + QByteArray("abc").toHex(), "listening"}));

    TPeer Later(S, QStringLiteral("later"), {"x"});
    QVERIFY(Later.Finished());
    QCOMPARE(Next.Log().mid(3), Handled({"x"}));
}

void TestHandOverProcesses::cleanEndLeavesNothing()
{
    TSession S;
    {
        TPeer First(S, QStringLiteral("first"), {});
        QVERIFY(First.WaitFor("listening"));
        QVERIFY(First.Quit());
    }
    QVERIFY(!QFile::exists(S.Paths().LockFile));
    QVERIFY(!QFile::exists(S.Paths().Socket));

    TPeer Again(S, QStringLiteral("again"), {});
    QVERIFY(Again.WaitFor("listening"));
}

void TestHandOverProcesses::anotherSessionIsFirstCopy()
{
    TSession Mine;
    TSession Other;
    TPeer First(Mine, QStringLiteral("first"), {});
    QVERIFY(First.WaitFor("listening"));

    TPeer Second(Other, QStringLiteral("second"), {"abc"});
    QVERIFY(Second.WaitFor("listening"));
    QCOMPARE(Second.Log(), (TParameters{"first", "own " + QByteArray("abc").toHex(), "listening"}));
    QCOMPARE(First.Log(), (TParameters{"first", "listening"}));
}

void TestHandOverProcesses::senderLeavingAfterItsRecord()
{
    TSession S;
    TPeer First(S, QStringLiteral("first"), {});
    QVERIFY(First.WaitFor("listening"));

    // A later copy stopped while it waits: what it sent whole still arrives.
    QLocalSocket Sender;
    Sender.connectToServer(S.Paths().Socket);
    QVERIFY(Sender.waitForConnected(Patience));
    Sender.write(Encoded({2, "a\r\nb\r\n"}));
    Sender.disconnectFromServer();
    QVERIFY(First.WaitFor("end " + QByteArray("b").toHex()));
    QCOMPARE(First.Log(), TParameters({"first", "listening"}) + Handled({"a", "b"}));
}

void TestHandOverProcesses::badClientDoesNotBlock_data()
{
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("length over the cap") << Header(1, quint32(MaxHandOverTextSize) + 2);
    QTest::newRow("zero count") << Header(0, 4) + QByteArray("abc\0", 4);
    QTest::newRow("text without its closing zero, and a flood after it")
        << Header(1, 5) + QByteArray(1024 * 1024, 'x');
    QTest::newRow("not a record") << QByteArray("GET / HTTP/1.1\r\n\r\n");
    QTest::newRow("slow: header, then nothing") << Header(1, 10) + "abc";
    QTest::newRow("silent: connects, sends nothing") << QByteArray();
}

void TestHandOverProcesses::badClientDoesNotBlock()
{
    QFETCH(QByteArray, bytes);

    TSession S;
    TPeer First(S, QStringLiteral("first"), {});
    QVERIFY(First.WaitFor("listening"));

    QLocalSocket Bad;
    Bad.connectToServer(S.Paths().Socket);
    QVERIFY(Bad.waitForConnected(Patience));
    Bad.write(bytes);
    Bad.flush();

    TPeer Later(S, QStringLiteral("later"), {"abc"});
    QVERIFY(Later.Finished());
    QCOMPARE(First.Log(), TParameters({"first", "listening"}) + Handled({"abc"}));

    // The bad connection is dropped, never answered, and nothing of it reaches the handler.
    QTRY_COMPARE_WITH_TIMEOUT(Bad.state(), QLocalSocket::UnconnectedState, Patience);
    QCOMPARE(Bad.readAll(), QByteArray());
    QCOMPARE(First.Log().size(), 4);
    QVERIFY(First.Running());
}

void TestHandOverProcesses::SetEnv(const char *Name, const QByteArray &Value)
{
    FSavedEnv.append({Name, qEnvironmentVariableIsSet(Name) ? qgetenv(Name) : QByteArray()});
    if (Value.isNull())
        qunsetenv(Name);
    else
        qputenv(Name, Value);
}

void TestHandOverProcesses::cleanup()
{
    while (!FSavedEnv.isEmpty()) {
        const auto [Name, Value] = FSavedEnv.takeLast();
        if (Value.isNull())
            qunsetenv(Name.constData());
        else
            qputenv(Name.constData(), Value);
    }
}

void TestHandOverProcesses::runtimeFolder_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<bool>("used");

    QTest::newRow("private runtime folder is used") << QStringLiteral("private") << true;
    QTest::newRow("runtime folder open to others") << QStringLiteral("open") << false;
    QTest::newRow("runtime folder is a link to a private one") << QStringLiteral("link") << false;
    QTest::newRow("runtime folder owned by another user") << QStringLiteral("foreign") << false;
    // Named the same by every copy, however the session spells the folder.
    QTest::newRow("runtime folder spelt with extra slashes") << QStringLiteral("unclean") << true;
    QTest::newRow("runtime folder missing") << QStringLiteral("missing") << false;
    QTest::newRow("relative runtime folder") << QStringLiteral("relative") << false;
    QTest::newRow("runtime folder too deep for a socket") << QStringLiteral("deep") << false;
    QTest::newRow("no runtime folder set") << QStringLiteral("unset") << false;
}

void TestHandOverProcesses::runtimeFolder()
{
    QFETCH(QString, setup);
    QFETCH(bool, used);

    QTemporaryDir Dir(QDir::tempPath() + QStringLiteral("/kf-XXXXXX"));
    // The cache folder does not exist yet, as on a fresh account.
    const QString Cache = Dir.filePath(QStringLiteral("home/.cache"));
    SetEnv("XDG_CACHE_HOME", QFile::encodeName(Cache));

    QString Runtime = Dir.filePath(QStringLiteral("run"));
    QDir().mkpath(Runtime);
    ::chmod(QFile::encodeName(Runtime).constData(), 0700);
    if (setup == QStringLiteral("open")) {
        ::chmod(QFile::encodeName(Runtime).constData(), 0755);
    } else if (setup == QStringLiteral("link")) {
        const QString Link = Dir.filePath(QStringLiteral("link"));
        QVERIFY(QFile::link(Runtime, Link));
        Runtime = Link;
    } else if (setup == QStringLiteral("foreign")) {
        if (::geteuid() != 0)
            QSKIP("only root can give a folder away");
        QCOMPARE(::chown(QFile::encodeName(Runtime).constData(), 4242, 4242), 0);
    } else if (setup == QStringLiteral("missing")) {
        Runtime = Dir.filePath(QStringLiteral("gone"));
    } else if (setup == QStringLiteral("relative")) {
        Runtime = QStringLiteral("run");
    } else if (setup == QStringLiteral("deep")) {
        Runtime = Dir.filePath(QString(100, u'd'));
        QDir().mkpath(Runtime);
        ::chmod(QFile::encodeName(Runtime).constData(), 0700);
    }
    QString Spelt = Runtime;
    if (setup == QStringLiteral("unclean"))
        Spelt = Dir.path() + QStringLiteral("//./run/");
    SetEnv("XDG_RUNTIME_DIR", setup == QStringLiteral("unset") ? QByteArray() : QFile::encodeName(Spelt));

    const TQtPaths Paths = QtPaths(InstancePaths(GuardName));
    const QString Fallback = Cache + QStringLiteral("/kestrune");
    QCOMPARE(Paths.Folder, used ? Runtime : Fallback);
    QCOMPARE(Paths.Socket,
             Paths.Folder + QStringLiteral("/kestrune-b730922c-2110-4f3c-9e24-c5613b177ba3.socket"));
    struct stat Info;
    QCOMPARE(::lstat(QFile::encodeName(Paths.Folder).constData(), &Info), 0);
    QCOMPARE(Info.st_mode & 0777, 0700u);
}

void TestHandOverProcesses::fallbackFolderNotOurs()
{
    QTemporaryDir Dir(QDir::tempPath() + QStringLiteral("/kf-XXXXXX"));
    SetEnv("XDG_CACHE_HOME", QFile::encodeName(Dir.path()));
    SetEnv("XDG_RUNTIME_DIR", QByteArray());
    const QString Fallback = Dir.filePath(QStringLiteral("kestrune"));

    // Ours but open to others (an old umask): made private and used.
    QDir().mkpath(Fallback);
    ::chmod(QFile::encodeName(Fallback).constData(), 0777);
    QCOMPARE(QtPaths(InstancePaths(GuardName)).Folder, Fallback);
    QCOMPARE(QFileInfo(Fallback).permissions() & 0x0077, QFileDevice::Permissions());

    // A link put in its place: refused.
    QVERIFY(QDir(Fallback).removeRecursively());
    const QString Elsewhere = Dir.filePath(QStringLiteral("elsewhere"));
    QDir().mkpath(Elsewhere);
    QVERIFY(QFile::link(Elsewhere, Fallback));
    try {
        InstancePaths(GuardName);
        QFAIL("a planted folder was accepted");
    } catch (const std::runtime_error &Error) {
        QVERIFY2(QByteArray(Error.what())
                     .startsWith("Error creating shared memory " + QFile::encodeName(Fallback) + " ("),
                 Error.what());
    }
}

void TestHandOverProcesses::guardInOneProcess()
{
    QTemporaryDir Dir(QDir::tempPath() + QStringLiteral("/kg-XXXXXX"));
    ::chmod(QFile::encodeName(Dir.path()).constData(), 0700);
    SetEnv("XDG_RUNTIME_DIR", QFile::encodeName(Dir.path()));
    const std::string Name = "{5E1F0000-0000-4000-8000-000000000001}";

    auto Guard = std::make_unique<TInstanceGuard>(Name);
    QVERIFY(!Guard->AlreadyRunning({}));
    // The lock names this process.
    qint64 Holder = 0;
    QString Host, Application;
    QVERIFY(QLockFile(QtPaths(Guard->Paths()).LockFile).getLockInfo(&Holder, &Host, &Application));
    QCOMPARE(Holder, QCoreApplication::applicationPid());
    try {
        Guard->AlreadyRunning({});
        QFAIL("a second call was accepted");
    } catch (const EAssertionFailed &Error) {
        QCOMPARE(Error.Message(), QByteArray("Do not call AlreadyRunning more than once!"));
    }

    // Another guard of the same name finds the lock taken, and may not listen.
    TInstanceGuard Other(Name);
    QVERIFY(Other.AlreadyRunning({}));
    QObject Scratch;
    QVERIFY(!Other.Listen(&Scratch, [](const QByteArray &) {}));

    auto Window = std::make_unique<QObject>();
    QVERIFY(Guard->Listen(Window.get(), [](const QByteArray &) {}));
    QVERIFY(!Guard->Listen(Window.get(), [](const QByteArray &) {}));
    const TQtPaths Paths = QtPaths(Guard->Paths());
    QVERIFY(QFileInfo(Paths.Socket).exists());
    QCOMPARE(QFileInfo(Paths.Socket).permissions() & 0x0077, QFileDevice::Permissions());
    // Both carry the sticky bit that keeps a runtime folder's clean-up away.
    for (const QString &File : {Paths.Socket, Paths.LockFile}) {
        struct stat Info;
        QCOMPARE(::stat(QFile::encodeName(File).constData(), &Info), 0);
        QVERIFY2(Info.st_mode & S_ISVTX, qPrintable(File));
    }

    // The socket goes with the main window, the lock with the guard.
    Window.reset();
    QVERIFY(!QFileInfo::exists(Paths.Socket));
    QVERIFY(QFileInfo::exists(Paths.LockFile));
    Guard.reset();
    QVERIFY(!QFileInfo::exists(Paths.LockFile));
}

QTEST_GUILESS_MAIN(TestHandOverProcesses)
#include "tst_handover_processes.moc"
