#include "CommandLine.h"

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
};

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
    QTest::newRow("file name") << Args{"/tmp/sites.dat"} << Run << Args{"/tmp/sites.dat"};
    QTest::newRow("empty argument is kept") << Args{""} << Run << Args{""};
    QTest::newRow("non-UTF-8 bytes kept") << Args{"\xff\xfe"} << Run << Args{"\xff\xfe"};
}

void TestCommandLine::parse()
{
    QFETCH(Args, arguments);
    QFETCH(TCommandLineAction, action);
    QFETCH(Args, parameters);

    const TCommandLine Line = ParseCommandLine(arguments);
    QCOMPARE(Line.Action, action);
    QCOMPARE(Line.Parameters, parameters);
}

void TestCommandLine::texts()
{
    QCOMPARE(VersionText(), QByteArray("Kestrune 1.0.1.0\n"));
    const QByteArray Usage = CommandLineUsage();
    QVERIFY(Usage.startsWith("Usage: kestrune"));
    QVERIFY(Usage.contains("--help") && Usage.contains("--version"));
    QVERIFY(Usage.endsWith('\n'));
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
