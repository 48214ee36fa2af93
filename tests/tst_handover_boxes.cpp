#include "KestruneClasses.h"
#include "PrivateSession.h"
#include "Settings.h"
#include "SingleInstance.h"

#include <QtTest>

#include <csignal>

// Two real processes of the built program on a private X server: what a later start's parameters
// do in the first copy, seen as the boxes the first copy opens, in their order.

namespace {

QString Program()
{
    return qEnvironmentVariable("KESTRUNE_TEST_BINARY_DIR") + QStringLiteral("/sources/kestrune");
}

QByteArray Link(const QByteArray &Title, const QByteArray &URL)
{
    TKestrunSite Site;
    Site.SetTitle(Title);
    Site.SetURL(URL);
    return EncodeLinkParameter(Site, false);
}

} // namespace

class TestHandOverBoxes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void laterStart_data();
    void laterStart();
    void laterStartDuringOwnBox();
    void dataFolderInUseShowsBox();
    void guardFailureShowsBox();
    void linkDuringQuit();

private:
    // A private session for both copies with one site, "Mail", in Home.
    QProcessEnvironment PrepareSession(const QTemporaryDir &Home);
    // The shown windows named Name on the private display.
    QStringList Windows(const QString &Name);
    // Waits (bounded) for a window named Name that is not in Known; empty when none came.
    QString NewWindow(const QString &Name, const QStringList &Known);
    bool Xdotool(const QStringList &Arguments, QByteArray *Output = nullptr);
    // Starts the program in Environment with its standard error passed on; false when it did not start.
    static bool Start(QProcess &Process, const QProcessEnvironment &Environment,
                      const QStringList &Arguments = {});
    // Answers the box (or window) Id with Return, as a user would.
    bool Answer(const QString &Id);
    // Stops a copy with SIGTERM, as a logout does; true when it ended well.
    static bool Stop(QProcess &Process);

    QProcess FServer;
    QString FDisplay;
};

void TestHandOverBoxes::initTestCase()
{
    QVERIFY2(QFileInfo(Program()).isExecutable(), qPrintable(Program()));
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("Xvfb and xdotool are needed");
    FDisplay = StartPrivateXServer(FServer);
    QVERIFY2(!FDisplay.isEmpty(), "Xvfb gave no display");
}

void TestHandOverBoxes::cleanupTestCase()
{
    StopPrivateXServer(FServer);
}

bool TestHandOverBoxes::Xdotool(const QStringList &Arguments, QByteArray *Output)
{
    QProcess Tool;
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    Environment.insert(QStringLiteral("DISPLAY"), FDisplay);
    Tool.setProcessEnvironment(Environment);
    Tool.start(QStringLiteral("xdotool"), Arguments);
    if (!Tool.waitForFinished(10000)) {
        Tool.kill();
        Tool.waitForFinished();
        return false;
    }
    if (Output)
        *Output = Tool.readAllStandardOutput();
    return Tool.exitCode() == 0;
}

bool TestHandOverBoxes::Start(QProcess &Process, const QProcessEnvironment &Environment,
                              const QStringList &Arguments)
{
    Process.setProcessEnvironment(Environment);
    Process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    Process.start(Program(), Arguments);
    return Process.waitForStarted(10000);
}

bool TestHandOverBoxes::Answer(const QString &Id)
{
    return Xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), Id, QStringLiteral("key"),
                    QStringLiteral("Return")});
}

bool TestHandOverBoxes::Stop(QProcess &Process)
{
    if (Process.state() != QProcess::NotRunning) {
        ::kill(pid_t(Process.processId()), SIGTERM);
        // (Waiting for a process that has ended fails.)
        if (Process.state() != QProcess::NotRunning && !Process.waitForFinished(20000))
            return false;
    }
    return Process.exitStatus() == QProcess::NormalExit && Process.exitCode() == 0;
}

QStringList TestHandOverBoxes::Windows(const QString &Name)
{
    QByteArray Output;
    // Only mapped windows: the program's unmapped group leader carries the same name.
    Xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
             QLatin1Char('^') + Name + QLatin1Char('$')},
            &Output);
    return QString::fromLatin1(Output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString TestHandOverBoxes::NewWindow(const QString &Name, const QStringList &Known)
{
    QDeadlineTimer Deadline(20000);
    while (!Deadline.hasExpired()) {
        const QStringList Now = Windows(Name);
        for (const QString &Id : Now) {
            if (!Known.contains(Id))
                return Id;
        }
        QTest::qWait(50);
    }
    return QString();
}

QProcessEnvironment TestHandOverBoxes::PrepareSession(const QTemporaryDir &Home)
{
    QProcessEnvironment Environment = PrivateSessionEnvironment(Home, FDisplay);
    if (Environment.isEmpty())
        return {};
    const QString Data = Home.filePath(QStringLiteral("data/Kestrune/"));
    if (!QDir().mkpath(Data))
        return {};
    {
        TKestrunCollection Sites;
        auto Site = std::make_unique<TKestrunSite>();
        Site->SetTitle("Mail");
        // Not a web address, in the system browser: opening it does nothing outside the test.
        Site->SetURL("about:blank");
        Site->SetBrowserChoice(0);
        Sites.Add(std::move(Site));
        if (!SaveSites(Data, Sites))
            return {};
        QSettings Store(Home.filePath(QStringLiteral("config/Brinmoor/Kestrune.conf")), QSettings::IniFormat);
        Store.setValue(LastUpdateCheckKey, EncodeLastUpdateCheck(QDateTime::currentDateTime()));
    }
    return Environment;
}

void TestHandOverBoxes::laterStart_data()
{
    QTest::addColumn<QList<QByteArray>>("Parameters");
    QTest::addColumn<QStringList>("Boxes"); // the captions of the boxes the first copy opens, in order

    const QByteArray Moved = Link("MAIL", "about:moved");
    QTest::newRow("no parameter: ends silently") << QList<QByteArray>() << QStringList();
    QTest::newRow("one parameter reaches OpenLink")
        << QList<QByteArray>{Moved} << QStringList{QStringLiteral("Information")};
    QTest::newRow("two parameters, in order")
        << QList<QByteArray>{Moved, "not-a-link"}
        << QStringList{QStringLiteral("Information"), QStringLiteral("Kestrune")};
    QTest::newRow("two parameters, the other order")
        << QList<QByteArray>{"not-a-link", Moved}
        << QStringList{QStringLiteral("Kestrune"), QStringLiteral("Information")};
}

void TestHandOverBoxes::laterStart()
{
    QFETCH(QList<QByteArray>, Parameters);
    QFETCH(QStringList, Boxes);

    QTemporaryDir Home;
    const QProcessEnvironment Environment = PrepareSession(Home);
    QVERIFY(!Environment.isEmpty());

    QProcess First;
    QVERIFY(Start(First, Environment, {}));
    const QString Main = NewWindow(QStringLiteral("Kestrune"), {});
    QVERIFY2(FServer.state() == QProcess::Running, "the private X server ended");
    QVERIFY2(!Main.isEmpty(), "the first copy showed no window");
    const QStringList Before = Windows(QStringLiteral("Kestrune")) + Windows(QStringLiteral("Information"));

    QProcess Second;
    Second.setProcessEnvironment(Environment);
    Second.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList Arguments;
    for (const QByteArray &Parameter : Parameters)
        Arguments.append(QString::fromLatin1(Parameter));
    Second.start(Program(), Arguments);
    QVERIFY(Second.waitForStarted(10000));

    QStringList Known = Before;
    for (const QString &Caption : Boxes) {
        const QString Box = NewWindow(Caption, Known);
        QVERIFY2(!Box.isEmpty(), qPrintable(QStringLiteral("no box \"%1\" in the first copy").arg(Caption)));
        Known.append(Box);
        // The later copy waits until the first copy's OpenLink has returned for every parameter.
        QCOMPARE(Second.state(), QProcess::Running);
        QVERIFY(Answer(Box));
    }
    QVERIFY(Second.waitForFinished(20000));
    QCOMPARE(Second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(Second.exitCode(), 0);

    // No window of its own, no box left over, and the first copy goes on.
    QStringList After = Windows(QStringLiteral("Kestrune")) + Windows(QStringLiteral("Information"));
    for (const QString &Answered : Known.mid(Before.size()))
        After.removeAll(Answered);
    QCOMPARE(After, Before);
    QCOMPARE(First.state(), QProcess::Running);

    QVERIFY(Stop(First));
}

// The first copy takes hand-overs while a box of its own link parameters is still open: the later
// start's link is opened at once and the later copy ends, instead of searching in vain until its
// link is lost.
void TestHandOverBoxes::laterStartDuringOwnBox()
{
    QTemporaryDir Home;
    const QProcessEnvironment Environment = PrepareSession(Home);
    QVERIFY(!Environment.isEmpty());

    QProcess First;
    QVERIFY(Start(First, Environment, {QString::fromLatin1(Link("MAIL", "about:moved"))}));
    // The main window is shown once its own parameters are done, so no "Kestrune" window exists yet.
    const QString Own = NewWindow(QStringLiteral("Information"), {});
    QVERIFY2(FServer.state() == QProcess::Running, "the private X server ended");
    QVERIFY2(!Own.isEmpty(), "the first copy showed no box for its own parameter");

    QProcess Second;
    QVERIFY(Start(Second, Environment, {QStringLiteral("not-a-link")}));
    const QString HandedOver = NewWindow(QStringLiteral("Kestrune"), {});
    QVERIFY2(!HandedOver.isEmpty(),
             "the later start's link was not opened while the first copy's box was open");
    QCOMPARE(Second.state(), QProcess::Running);
    QVERIFY(Answer(HandedOver));
    QVERIFY(Second.waitForFinished(20000));
    QCOMPARE(Second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(Second.exitCode(), 0);
    QVERIFY(Windows(QStringLiteral("Information")).contains(Own));

    QVERIFY(Answer(Own));
    QVERIFY2(!NewWindow(QStringLiteral("Kestrune"), {HandedOver}).isEmpty(),
             "the first copy showed no window");
    QCOMPARE(First.state(), QProcess::Running);
    QVERIFY(Stop(First));
}

// A start from the menu that finds its data folder used by a copy it cannot reach (another runtime
// folder) says so in a box, not only on a standard error nobody reads.
void TestHandOverBoxes::dataFolderInUseShowsBox()
{
    QTemporaryDir Home;
    const QProcessEnvironment Environment = PrepareSession(Home);
    QVERIFY(!Environment.isEmpty());
    QProcess First;
    QVERIFY(Start(First, Environment, {}));
    QVERIFY2(!NewWindow(QStringLiteral("Kestrune"), {}).isEmpty(), "the first copy showed no window");

    QProcessEnvironment Other = Environment;
    Other.insert(QStringLiteral("XDG_RUNTIME_DIR"), Home.filePath(QStringLiteral("other-run")));
    QVERIFY(QDir().mkpath(Home.filePath(QStringLiteral("other-run"))));
    QFile::setPermissions(Home.filePath(QStringLiteral("other-run")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcess Second;
    Second.setProcessEnvironment(Other);
    Second.start(Program(), {});
    QVERIFY(Second.waitForStarted(10000));
    const QString Box = NewWindow(QStringLiteral("Error"), {});
    QVERIFY2(!Box.isEmpty(), "the second start showed no box");
    QCOMPARE(Second.state(), QProcess::Running);
    QVERIFY(Answer(Box));
    QVERIFY(Second.waitForFinished(20000));
    QCOMPARE(Second.exitCode(), 1);
    QVERIFY(Second.readAllStandardError().contains("already runs elsewhere with the data folder"));

    QVERIFY(Stop(First));
}

// No runtime folder, and the private folder in the cache planted as a link to someone else's: the
// start cannot guard its one copy and says so where the user sees it.
void TestHandOverBoxes::guardFailureShowsBox()
{
    QTemporaryDir Home;
    QProcessEnvironment Environment = PrepareSession(Home);
    QVERIFY(!Environment.isEmpty());
    Environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    QVERIFY(QDir().mkpath(Home.filePath(QStringLiteral("elsewhere"))));
    QVERIFY(QDir().mkpath(Home.filePath(QStringLiteral("cache"))));
    QVERIFY(QFile::link(Home.filePath(QStringLiteral("elsewhere")),
                        Home.filePath(QStringLiteral("cache/kestrune"))));
    QProcess Start;
    Start.setProcessEnvironment(Environment);
    Start.start(Program(), {});
    QVERIFY(Start.waitForStarted(10000));
    const QString Box = NewWindow(QStringLiteral("Error"), {});
    QVERIFY2(!Box.isEmpty(), "the start showed no box");
    QVERIFY(Answer(Box));
    QVERIFY(Start.waitForFinished(20000));
    QCOMPARE(Start.exitCode(), 1);
    QVERIFY(Start.readAllStandardError().startsWith("kestrune: Error creating shared memory "));
    QVERIFY(Windows(QStringLiteral("Kestrune")).isEmpty());
}

// A link handed over while the first copy is on its quit road is never lost: the first copy either
// opened it before it began to quit, or refused it, and the later start then waited for the lock and
// opened it as the first copy itself. The site opens in the "system browser", a script of the test
// that writes each address it is given to a file (the desktop's opener is used on an X server).
void TestHandOverBoxes::linkDuringQuit()
{
    QTemporaryDir Home;
    QProcessEnvironment Environment = PrepareSession(Home);
    QVERIFY(!Environment.isEmpty());
    const QString Opened = Home.filePath(QStringLiteral("opened.txt"));
    const QString Bin = Home.filePath(QStringLiteral("bin"));
    QVERIFY(QDir().mkpath(Bin));
    {
        QFile Script(Bin + QStringLiteral("/xdg-open"));
        QVERIFY(Script.open(QIODevice::WriteOnly));
        Script.write("#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"" + QFile::encodeName(Opened) + "\"\n");
        Script.close();
        QVERIFY(
            Script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    }
    Environment.insert(QStringLiteral("PATH"), Bin + u':' + Environment.value(QStringLiteral("PATH")));
    const QString Socket =
        Home.filePath(QStringLiteral("runtime/")) +
        QString::fromStdString(InstanceFileBaseName("{B730922C-2110-4F3C-9E24-C5613B177BA3}")) +
        QStringLiteral(".socket");
    const QString Link = QString::fromLatin1(::Link("Mail", "about:blank"));
    const auto Count = [&Opened] {
        QFile File(Opened);
        return File.open(QIODevice::ReadOnly) ? int(File.readAll().count('\n')) : 0;
    };

    // The later start comes at different moments of the quit road: Delay ms after the stop signal,
    // or before it when negative.
    int Expected = 0;
    for (const int Delay : {-40, -10, 0, 20, 60, 150, 400}) {
        QProcess First;
        First.setProcessEnvironment(Environment);
        First.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        First.start(Program(), {});
        QDeadlineTimer Started(20000);
        while (!QFileInfo::exists(Socket) && !Started.hasExpired() && First.state() != QProcess::NotRunning)
            QTest::qWait(20);
        QVERIFY(QFileInfo::exists(Socket));
        const auto Stop = [&First] { ::kill(pid_t(First.processId()), SIGTERM); };
        if (Delay >= 0) {
            Stop();
            QTest::qWait(Delay);
        }
        QProcess Later;
        Later.setProcessEnvironment(Environment);
        Later.setProcessChannelMode(QProcess::ForwardedChannels);
        Later.start(Program(), {Link});
        ++Expected;
        if (Delay < 0) {
            QTest::qWait(-Delay);
            Stop();
        }
        // (It may have ended already: waiting for a process that has ended fails.)
        QVERIFY(First.state() == QProcess::NotRunning || First.waitForFinished(20000));
        QCOMPARE(First.exitCode(), 0);
        // Handed over in time, the later start has ended; refused, it runs on as the first copy.
        QTRY_COMPARE_WITH_TIMEOUT(Count(), Expected, 20000);
        if (Later.state() != QProcess::NotRunning) {
            ::kill(pid_t(Later.processId()), SIGTERM);
            QVERIFY(Later.state() == QProcess::NotRunning || Later.waitForFinished(20000));
        }
        QCOMPARE(Later.exitStatus(), QProcess::NormalExit);
        QCOMPARE(Later.exitCode(), 0);
    }
    QTest::qWait(500);
    QCOMPARE(Count(), Expected);
}

QTEST_GUILESS_MAIN(TestHandOverBoxes)
#include "tst_handover_boxes.moc"
