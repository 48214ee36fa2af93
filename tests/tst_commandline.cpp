#include "CommandLine.h"
#include "Settings.h"

#include <QProcess>
#include <QtTest>

using Args = QList<QByteArray>;
Q_DECLARE_METATYPE(TCommandLineAction)

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void texts();
    void program_data();
    void program();
    void versionWhileRunning();
};

namespace {

QByteArray Bytes(std::string_view Text)
{
    return QByteArray(Text.data(), qsizetype(Text.size()));
}

QString BuiltProgram()
{
    return qEnvironmentVariable("KESTRUNE_TEST_BINARY_DIR") + QStringLiteral("/sources/kestrune");
}

} // namespace

void TestCommandLine::parse_data()
{
    QTest::addColumn<Args>("arguments");
    QTest::addColumn<TCommandLineAction>("action");
    QTest::addColumn<Args>("parameters");

    const QByteArray Link = "4b524c5000014107687474703a2f2f00";
    const auto Run = TCommandLineAction::Run;
    const auto Help = TCommandLineAction::ShowHelp;
    const auto Version = TCommandLineAction::ShowVersion;

    QTest::newRow("no arguments") << Args{} << Run << Args{};
    QTest::newRow("one link") << Args{Link} << Run << Args{Link};
    QTest::newRow("two links keep their order")
        << Args{Link, Link.toUpper()} << Run << Args{Link, Link.toUpper()};
    QTest::newRow("--help") << Args{"--help"} << Help << Args{};
    QTest::newRow("-h") << Args{"-h"} << Help << Args{};
    QTest::newRow("--version") << Args{"--version"} << Version << Args{};
    QTest::newRow("option after a link still wins") << Args{Link, "--version"} << Version << Args{};
    QTest::newRow("first option decides") << Args{"--version", "--help"} << Version << Args{};
    // Everything else takes the open-link road, where it meets "Can't open link!".
    QTest::newRow("unknown long option") << Args{"--foo"} << Run << Args{"--foo"};
    QTest::newRow("option spelt differently") << Args{"--HELP", "-help", "--version=1", "-v"} << Run
                                              << Args{"--HELP", "-help", "--version=1", "-v"};
    // The toolkit's own options and their values are not links.
    QTest::newRow("session manager restart")
        << Args{"-session", "10b7c2e4a1f6000170000000100000_1765"} << Run << Args{};
    QTest::newRow("toolkit options around a link")
        << Args{"-platform", "offscreen", Link, "-reverse", "--style=fusion", "--display", ":1"} << Run
        << Args{Link};
    QTest::newRow("toolkit option without its value") << Args{Link, "-qwindowtitle"} << Run << Args{Link};
    QTest::newRow("debugger port") << Args{"-qmljsdebugger=port:1234", Link} << Run << Args{Link};
    QTest::newRow("file name") << Args{"/tmp/sites.dat"} << Run << Args{"/tmp/sites.dat"};
    QTest::newRow("empty argument is kept") << Args{""} << Run << Args{""};
    QTest::newRow("non-UTF-8 bytes kept") << Args{"\xff\xfe"} << Run << Args{"\xff\xfe"};
}

void TestCommandLine::parse()
{
    QFETCH(Args, arguments);
    QFETCH(TCommandLineAction, action);
    QFETCH(Args, parameters);

    std::vector<std::string> Arguments;
    for (const QByteArray &Argument : arguments)
        Arguments.push_back(Argument.toStdString());
    const TCommandLine Line = ParseCommandLine(Arguments);
    QCOMPARE(Line.Action, action);
    Args Parameters;
    for (const std::string &Parameter : Line.Parameters)
        Parameters.append(QByteArray::fromStdString(Parameter));
    QCOMPARE(Parameters, parameters);
}

void TestCommandLine::texts()
{
    QCOMPARE(Bytes(VersionText()), QByteArray("Kestrune 1.0.1.0\n"));
    const QByteArray Usage = Bytes(CommandLineUsage());
    QVERIFY(Usage.startsWith("Usage: kestrune"));
    QVERIFY(Usage.contains("--help") && Usage.contains("--version"));
    QVERIFY(Usage.endsWith('\n'));
}

// The built program answers without a display and before the instance guard: run it with no
// display at all and with a runtime folder of its own, so a running copy could not answer for it.
void TestCommandLine::program_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<int>("status");

    QTest::newRow("--version") << QStringList{QStringLiteral("--version")} << Bytes(VersionText()) << 0;
    QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << Bytes(CommandLineUsage()) << 0;
    QTest::newRow("-h after a link") << QStringList{QStringLiteral("4b524c50"), QStringLiteral("-h")}
                                     << Bytes(CommandLineUsage()) << 0;
}

void TestCommandLine::program()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, output);
    QFETCH(int, status);

    const QString Program = BuiltProgram();
    if (!QFileInfo::exists(Program))
        QSKIP("the program is not built");

    QTemporaryDir Runtime;
    QVERIFY(Runtime.isValid());
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.remove(QStringLiteral("DISPLAY"));
    Env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    Env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    Env.insert(QStringLiteral("XDG_RUNTIME_DIR"), Runtime.path());

    QProcess Process;
    Process.setProcessEnvironment(Env);
    Process.start(Program, arguments);
    QVERIFY(Process.waitForFinished(30000));
    QCOMPARE(Process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(Process.exitCode(), status);
    QCOMPARE(Process.readAllStandardOutput(), output);
    QCOMPARE(Process.readAllStandardError(), QByteArray());
}

// With a first copy running in the same session, "--version" still answers itself instead of being
// handed over to that copy.
void TestCommandLine::versionWhileRunning()
{
    if (!QFileInfo::exists(BuiltProgram()))
        QSKIP("the program is not built");
    QTemporaryDir Home;
    QVERIFY(Home.isValid());
    const QString Runtime = Home.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(Runtime));
    QFile::setPermissions(Runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert(QStringLiteral("HOME"), Home.path());
    Env.insert(QStringLiteral("XDG_RUNTIME_DIR"), Runtime);
    Env.insert(QStringLiteral("XDG_DATA_HOME"), Home.filePath(QStringLiteral("data")));
    Env.insert(QStringLiteral("XDG_CONFIG_HOME"), Home.filePath(QStringLiteral("config")));
    Env.insert(QStringLiteral("XDG_CACHE_HOME"), Home.filePath(QStringLiteral("cache")));
    Env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    {
        // A fresh profile would ask the product's server for a newer version two seconds after start.
        QSettings Store(Home.filePath(QStringLiteral("config/Brinmoor/Kestrune.conf")), QSettings::IniFormat);
        Store.setValue(LastUpdateCheckKey, EncodeLastUpdateCheck(QDateTime::currentDateTime()));
    }
    QProcess First;
    First.setProcessEnvironment(Env);
    First.start(BuiltProgram(), {});
    QVERIFY(First.waitForStarted(30000));
    // The first copy is ready to take hand-overs once its socket is in the runtime folder.
    bool Listening = false;
    for (int i = 0; i < 300 && !Listening && First.state() == QProcess::Running; ++i) {
        Listening = !QDir(Runtime).entryList({QStringLiteral("*.socket")}, QDir::System).isEmpty();
        if (!Listening)
            First.waitForFinished(100);
    }
    if (!Listening) {
        First.kill();
        First.waitForFinished(30000);
        QSKIP("the first copy opened no hand-over socket");
    }

    QProcess Second;
    Second.setProcessEnvironment(Env);
    Second.start(BuiltProgram(), {QStringLiteral("--version")});
    QVERIFY(Second.waitForFinished(30000));
    const QByteArray Output = Second.readAllStandardOutput();
    First.terminate();
    if (!First.waitForFinished(30000))
        First.kill();
    QCOMPARE(Second.exitCode(), 0);
    QCOMPARE(Output, Bytes(VersionText()));
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
