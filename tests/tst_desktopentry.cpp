#include "DesktopEntry.h"
#include "SiteIdentity.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class TestDesktopEntry : public QObject
{
    Q_OBJECT

private slots:
    void execArgument_data();
    void execArgument();
    void malformedExec_data();
    void malformedExec();
    void plainEntry();
    void stringValues_data();
    void stringValues();
    void validatorAccepts_data();
    void validatorAccepts();
};

void TestDesktopEntry::execArgument_data()
{
    QTest::addColumn<QByteArray>("argument");
    QTest::addColumn<QByteArray>("quoted");

    QTest::newRow("link parameter") << QByteArray("4b524c50") << QByteArray("\"4b524c50\"");
    QTest::newRow("path with a space")
        << QByteArray("/opt/my apps/kestrune") << QByteArray("\"/opt/my apps/kestrune\"");
    QTest::newRow("double quote") << QByteArray("a\"b") << QByteArray("\"a\\\"b\"");
    QTest::newRow("backtick and dollar") << QByteArray("`x`$HOME") << QByteArray("\"\\`x\\`\\$HOME\"");
    QTest::newRow("backslash") << QByteArray("a\\b") << QByteArray("\"a\\\\b\"");
    QTest::newRow("percent is no field code") << QByteArray("50%u") << QByteArray("\"50%%u\"");
    QTest::newRow("semicolon and quote of a shell")
        << QByteArray("x; rm -rf ~ '") << QByteArray("\"x; rm -rf ~ '\"");
    QTest::newRow("empty") << QByteArray() << QByteArray("\"\"");
    QTest::newRow("non-ASCII") << QByteArray("K\xc3\xb6ln") << QByteArray("\"K\xc3\xb6ln\"");
}

void TestDesktopEntry::execArgument()
{
    QFETCH(QByteArray, argument);
    QFETCH(QByteArray, quoted);

    QCOMPARE(QuoteExecArgument(argument), quoted);
    // What a launcher reads back is the argument itself, also next to others and after the string
    // escaping of the file.
    const QByteArray Line = BuildExecLine("/usr/bin/kestrune", {argument, "second"});
    const QByteArray Stored = EscapeDesktopString(Line);
    const std::optional<QByteArrayList> Split = SplitExecLine(UnescapeDesktopString(Stored));
    QVERIFY(Split);
    QCOMPARE(*Split, (QByteArrayList{"/usr/bin/kestrune", argument, "second"}));
}

void TestDesktopEntry::malformedExec_data()
{
    QTest::addColumn<QByteArray>("exec");

    QTest::newRow("quote left open") << QByteArray("/usr/bin/kestrune \"abc");
    QTest::newRow("field code") << QByteArray("/usr/bin/kestrune %u");
    QTest::newRow("lone percent at the end") << QByteArray("/usr/bin/kestrune 5%");
}

void TestDesktopEntry::malformedExec()
{
    QFETCH(QByteArray, exec);
    QVERIFY(!SplitExecLine(exec));
}

void TestDesktopEntry::plainEntry()
{
    TDesktopEntry Entry;
    Entry.Name = "Mail";
    Entry.Comment = "Click here to open Mail";
    Entry.Program = "/usr/bin/kestrune";
    Entry.Arguments = {"4b524c50"};
    Entry.Icon = "/home/u/.local/share/Kestrune/Icons/web.ico";
    Entry.StartupWMClass = "kestrune-Mail";
    Entry.SiteMark = true;
    QCOMPARE(BuildDesktopEntry(Entry), QByteArray("[Desktop Entry]\n"
                                                  "Type=Application\n"
                                                  "Version=1.0\n"
                                                  "Name=Mail\n"
                                                  "Comment=Click here to open Mail\n"
                                                  "Exec=\"/usr/bin/kestrune\" \"4b524c50\"\n"
                                                  "Icon=/home/u/.local/share/Kestrune/Icons/web.ico\n"
                                                  "Terminal=false\n"
                                                  "StartupWMClass=kestrune-Mail\n"
                                                  "X-Kestrune-Site=true\n"));

    const QMap<QByteArray, QByteArray> Keys = ReadDesktopEntryGroup(BuildDesktopEntry(Entry));
    QCOMPARE(Keys.value("Name"), QByteArray("Mail"));
    QCOMPARE(Keys.value("Exec"), QByteArray("\"/usr/bin/kestrune\" \"4b524c50\""));
    QCOMPARE(Keys.value(SiteMarkKey), QByteArray("true"));
    QVERIFY(!Keys.contains("Path"));

    // Without a window class or the mark, neither key is written.
    Entry.StartupWMClass.clear();
    Entry.SiteMark = false;
    const QByteArray Plain = BuildDesktopEntry(Entry);
    QVERIFY(!Plain.contains("StartupWMClass"));
    QVERIFY(!Plain.contains(SiteMarkKey));
}

void TestDesktopEntry::stringValues_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QByteArray>("readBack");

    QTest::newRow("plain") << QByteArray("Mail") << QByteArray("Mail") << QByteArray("Mail");
    QTest::newRow("quotes stay") << QByteArray("My \"best\" site") << QByteArray("My \"best\" site")
                                 << QByteArray("My \"best\" site");
    QTest::newRow("backslash doubled") << QByteArray("a\\b") << QByteArray("a\\\\b") << QByteArray("a\\b");
    QTest::newRow("line break cannot end the line")
        << QByteArray("one\ntwo\r\tthree") << QByteArray("one\\ntwo\\r\\tthree")
        << QByteArray("one\ntwo\r\tthree");
    QTest::newRow("leading blank kept") << QByteArray(" x y") << QByteArray("\\sx y") << QByteArray(" x y");
    QTest::newRow("non-ASCII kept") << QByteArray("\xd0\x9f\xd0\xbe\xd1\x87\xd1\x82\xd0\xb0 \xe2\x9c\x89")
                                    << QByteArray("\xd0\x9f\xd0\xbe\xd1\x87\xd1\x82\xd0\xb0 \xe2\x9c\x89")
                                    << QByteArray("\xd0\x9f\xd0\xbe\xd1\x87\xd1\x82\xd0\xb0 \xe2\x9c\x89");
    QTest::newRow("broken UTF-8 replaced")
        << QByteArray("Caf\xe9") << QByteArray("Caf\xef\xbf\xbd") << QByteArray("Caf\xef\xbf\xbd");
    QTest::newRow("other control characters dropped")
        << QByteArray("a\x01\x1b[1mb\x7f") << QByteArray("a[1mb") << QByteArray("a[1mb");
}

void TestDesktopEntry::stringValues()
{
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, stored);
    QFETCH(QByteArray, readBack);

    QCOMPARE(EscapeDesktopString(value), stored);
    TDesktopEntry Entry;
    Entry.Name = value;
    Entry.Program = "/usr/bin/kestrune";
    const QByteArray Text = BuildDesktopEntry(Entry);
    QVERIFY(Text.contains("\nName=" + stored + '\n'));
    QCOMPARE(ReadDesktopEntryGroup(Text).value("Name"), readBack);
}

void TestDesktopEntry::validatorAccepts_data()
{
    QTest::addColumn<QByteArray>("title");
    QTest::addColumn<QByteArray>("program");
    QTest::addColumn<QByteArray>("icon");

    const QByteArray IconFile = "/home/u/.local/share/Kestrune/Icons/web.ico";
    QTest::newRow("plain title") << QByteArray("Mail") << QByteArray("/usr/bin/kestrune") << IconFile;
    QTest::newRow("spaces and quotes, the program's icon by name")
        << QByteArray("My \"best\" 'site' `x` $y") << QByteArray("/opt/My Apps/kestrune")
        << QByteArray("io.github.brinmoor.Kestrune");
    QTest::newRow("non-ASCII letters") << QByteArray("K\xc3\xb6ln \xd0\x9f\xd0\xbe\xd1\x87\xd1\x82\xd0\xb0")
                                       << QByteArray("/opt/\xc3\xa9t\xc3\xa9/kestrune") << IconFile;
    QTest::newRow("backslashes, percent and a line break")
        << QByteArray("C:\\sites 100%\nnext") << QByteArray("/opt/a\\b 50%/kestrune") << IconFile;
    QTest::newRow("leading blank and broken UTF-8")
        << QByteArray(" \xff\xfe site") << QByteArray("/usr/bin/kestrune") << IconFile;
}

void TestDesktopEntry::validatorAccepts()
{
    QFETCH(QByteArray, title);
    QFETCH(QByteArray, program);
    QFETCH(QByteArray, icon);

    const QString Validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (Validator.isEmpty())
        QSKIP("desktop-file-validate is not installed (desktop-file-utils)");

    TDesktopEntry Entry;
    Entry.Name = title;
    Entry.Comment = "Click here to open " + title;
    Entry.Program = program;
    Entry.Arguments = {"4b524c500001410768"};
    Entry.Icon = icon;
    Entry.StartupWMClass = SiteWindowClass(title);
    Entry.SiteMark = true;
    QTemporaryDir Dir;
    QVERIFY(Dir.isValid());
    QFile File(Dir.filePath(QStringLiteral("site.desktop")));
    QVERIFY(File.open(QIODevice::WriteOnly));
    File.write(BuildDesktopEntry(Entry));
    File.close();

    QProcess Validate;
    Validate.start(Validator, {File.fileName()});
    QVERIFY(Validate.waitForFinished(30000));
    const QByteArray Output = Validate.readAllStandardOutput() + Validate.readAllStandardError();
    QVERIFY2(Validate.exitCode() == 0 && !Output.contains("error"), Output.constData());
}

QTEST_GUILESS_MAIN(TestDesktopEntry)
#include "tst_desktopentry.moc"
