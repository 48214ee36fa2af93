#include "KestruneClasses.h"
#include "Settings.h"
#include "SingleInstance.h"

#include <QtTest>

#include <csignal>

// Two real processes of the built program in one private user session: the later start hands over
// without a display and ends; the first copy keeps running.

namespace {

constexpr int Patience = 30000;

QString Program()
{
    return qEnvironmentVariable("KESTRUNE_TEST_BINARY_DIR") + QStringLiteral("/sources/kestrune");
}

class TSession
{
public:
    TSession() : FHome(QDir::tempPath() + QStringLiteral("/kp-XXXXXX"))
    {
        const QString Runtime = FHome.filePath(QStringLiteral("run"));
        QDir().mkpath(Runtime);
        QFile::setPermissions(Runtime,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        const QString Base =
            Runtime + u'/' +
            QString::fromStdString(InstanceFileBaseName("{B730922C-2110-4F3C-9E24-C5613B177BA3}"));
        Socket = Base + QStringLiteral(".socket");
        LockFile = Base + QStringLiteral(".lock");

        Gui = QProcessEnvironment::systemEnvironment();
        Gui.insert(QStringLiteral("HOME"), FHome.path());
        Gui.insert(QStringLiteral("XDG_DATA_HOME"), FHome.filePath(QStringLiteral("data")));
        Gui.insert(QStringLiteral("XDG_CONFIG_HOME"), FHome.filePath(QStringLiteral("config")));
        Gui.insert(QStringLiteral("XDG_CACHE_HOME"), FHome.filePath(QStringLiteral("cache")));
        Gui.insert(QStringLiteral("XDG_RUNTIME_DIR"), Runtime);
        Gui.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // The handed-over link opens its site's window; the web engine refuses root with its sandbox.
        Gui.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
        Gui.insert(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"), QStringLiteral("--disable-gpu"));
        // A later start must not need a display: give it none.
        NoDisplay = Gui;
        for (const QString &Name : {QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("DISPLAY"),
                                    QStringLiteral("WAYLAND_DISPLAY")})
            NoDisplay.remove(Name);
    }

    // One site, and no update check for a week (it would ask the product's server).
    bool Prepare(const TKestrunSite &Site)
    {
        const QString Data = FHome.filePath(QStringLiteral("data/Kestrune"));
        QDir().mkpath(Data);
        TKestrunCollection Sites;
        auto Copy = std::make_unique<TKestrunSite>();
        Copy->Assign(Site);
        Sites.Add(std::move(Copy));
        QSettings Store(FHome.filePath(QStringLiteral("config/Brinmoor/Kestrune.conf")),
                        QSettings::IniFormat);
        Store.setValue(LastUpdateCheckKey, EncodeLastUpdateCheck(QDateTime::currentDateTime()));
        Store.sync();
        return SaveSites(Data, Sites) && Store.status() == QSettings::NoError;
    }

    // Starts a first copy and waits until it takes hand-overs.
    bool StartFirst(QProcess &First) const
    {
        First.setProcessEnvironment(Gui);
        First.setProcessChannelMode(QProcess::ForwardedChannels);
        First.start(Program(), {});
        QDeadlineTimer Deadline(Patience);
        while (!QFileInfo::exists(Socket) && !Deadline.hasExpired() && First.state() != QProcess::NotRunning)
            QTest::qWait(20);
        return QFileInfo::exists(Socket);
    }

    void StartLater(QProcess &Later, const QStringList &Arguments) const
    {
        Later.setProcessEnvironment(NoDisplay);
        Later.start(Program(), Arguments);
    }

    QString Path(const QString &Name) const { return FHome.filePath(Name); }

    QString Socket;
    QString LockFile;
    QProcessEnvironment Gui;
    QProcessEnvironment NoDisplay;

private:
    QTemporaryDir FHome;
};

bool EndedSilently(QProcess &Process)
{
    return Process.waitForFinished(Patience) && Process.exitStatus() == QProcess::NormalExit &&
           Process.exitCode() == 0 && Process.readAll().isEmpty() && Process.readAllStandardError().isEmpty();
}

TKestrunSite &ExampleSite()
{
    static TKestrunSite Site;
    Site.SetTitle("Example");
    // Nothing listens there; only this machine is ever asked.
    Site.SetURL("http://127.0.0.1:9/");
    return Site;
}

} // namespace

class TestHandOverProgram : public QObject
{
    Q_OBJECT

private slots:
    void laterStarts();
    void staleLockAfterKill();
    void dataFolderInUseElsewhere();
};

void TestHandOverProgram::laterStarts()
{
    QVERIFY2(QFileInfo(Program()).isExecutable(), qPrintable(Program()));
    TSession S;
    QVERIFY(S.Prepare(ExampleSite()));
    QProcess First;
    QVERIFY(S.StartFirst(First));

    QProcess Silent;
    S.StartLater(Silent, {});
    QVERIFY(EndedSilently(Silent));

    // The site is known and unchanged: the first copy opens it without a question and answers.
    const QString Link = QString::fromLatin1(EncodeLinkParameter(ExampleSite(), false));
    QProcess Linked;
    S.StartLater(Linked, {Link, Link});
    QVERIFY(EndedSilently(Linked));
    QCOMPARE(First.state(), QProcess::Running);

    // Not a link: the first copy's message box waits for the user, and so does the later start,
    // until the first copy is stopped (its stop closes the box and ends it).
    QProcess Waiting;
    S.StartLater(Waiting, {QStringLiteral("not-a-link")});
    QVERIFY(!Waiting.waitForFinished(1500));
    ::kill(pid_t(First.processId()), SIGTERM);
    QVERIFY(First.waitForFinished(Patience));
    QCOMPARE(First.exitCode(), 0);
    QVERIFY(EndedSilently(Waiting));
    QVERIFY(!QFileInfo::exists(S.Socket));
    QVERIFY(!QFileInfo::exists(S.LockFile));
}

void TestHandOverProgram::staleLockAfterKill()
{
    QVERIFY2(QFileInfo(Program()).isExecutable(), qPrintable(Program()));
    TSession S;
    QVERIFY(S.Prepare(ExampleSite()));
    {
        QProcess Crashed;
        QVERIFY(S.StartFirst(Crashed));
        Crashed.kill();
        QVERIFY(Crashed.waitForFinished(Patience));
    }
    QVERIFY(QFileInfo::exists(S.LockFile));

    // The next start is the first copy at once: it does not hand over to the dead one.
    QFile::remove(S.Socket);
    QProcess Next;
    QVERIFY(S.StartFirst(Next));
    QProcess Later;
    S.StartLater(Later, {});
    QVERIFY(EndedSilently(Later));
    ::kill(pid_t(Next.processId()), SIGTERM);
    QVERIFY(Next.waitForFinished(Patience));
    QCOMPARE(Next.exitCode(), 0);
}

// Two starts that do not see the same runtime folder (another XDG_RUNTIME_DIR, or none) share one
// data folder: the second says so and ends without writing anything there.
void TestHandOverProgram::dataFolderInUseElsewhere()
{
    QVERIFY2(QFileInfo(Program()).isExecutable(), qPrintable(Program()));
    TSession S;
    QVERIFY(S.Prepare(ExampleSite()));
    QProcess First;
    QVERIFY(S.StartFirst(First));
    const QString Sites = S.Path(QStringLiteral("data/Kestrune/sites.dat"));
    const auto Snapshot = [&S] {
        QStringList Files;
        QDirIterator It(S.Path(QStringLiteral("data")),
                        QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (It.hasNext()) {
            const QFileInfo Info(It.next());
            QFile File(Info.filePath());
            File.open(QIODevice::ReadOnly);
            Files << Info.filePath() + u' ' + QString::number(Info.lastModified().toMSecsSinceEpoch()) +
                         u' ' + QString::fromLatin1(File.readAll().toHex());
        }
        Files.sort();
        return Files;
    };
    const QStringList Before = Snapshot();
    QVERIFY(Before.join(u'\n').contains(Sites));

    const QString OtherRuntime = S.Path(QStringLiteral("other-run"));
    QVERIFY(QDir().mkpath(OtherRuntime));
    QFile::setPermissions(OtherRuntime,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString Link = QString::fromLatin1(EncodeLinkParameter(ExampleSite(), false));
    for (const QString &Runtime : {OtherRuntime, QString()}) {
        QProcessEnvironment Environment = S.Gui;
        if (Runtime.isEmpty())
            Environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        else
            Environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), Runtime);
        QProcess Second;
        Second.setProcessEnvironment(Environment);
        Second.start(Program(), {Link});
        QVERIFY(Second.waitForFinished(Patience));
        QCOMPARE(Second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(Second.exitCode(), 1);
        // No display to show a box on: one line on standard error.
        const QByteArray Error = Second.readAllStandardError();
        QVERIFY2(Error.startsWith("kestrune: Kestrune already runs elsewhere with the data folder \"" +
                                  QFile::encodeName(S.Path(QStringLiteral("data/Kestrune"))) + "\""),
                 Error.constData());
        QCOMPARE(Error.count('\n'), 1);
        QCOMPARE(Snapshot(), Before);
        QCOMPARE(First.state(), QProcess::Running);
    }

    // Once the first copy has ended, the other session's start is a first copy of its own.
    ::kill(pid_t(First.processId()), SIGTERM);
    QVERIFY(First.waitForFinished(Patience));
    QCOMPARE(First.exitCode(), 0);
    QProcess Next;
    QProcessEnvironment Environment = S.Gui;
    Environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), OtherRuntime);
    Next.setProcessEnvironment(Environment);
    Next.start(Program(), {});
    const QString OtherSocket = OtherRuntime + QFileInfo(S.Socket).fileName().prepend(u'/');
    QDeadlineTimer Deadline(Patience);
    while (!QFileInfo::exists(OtherSocket) && !Deadline.hasExpired() && Next.state() != QProcess::NotRunning)
        QTest::qWait(20);
    QVERIFY(QFileInfo::exists(OtherSocket));
    ::kill(pid_t(Next.processId()), SIGTERM);
    QVERIFY(Next.waitForFinished(Patience));
    QCOMPARE(Next.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestHandOverProgram)
#include "tst_handover_program.moc"
