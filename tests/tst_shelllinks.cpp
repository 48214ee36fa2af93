#include "DesktopEntry.h"
#include "TestDesktopServices.h"
#include "platform/ShellLinks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

QByteArray ReadAll(const QString &Path)
{
    QFile File(Path);
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}

QString Env(const char *Name)
{
    return QString::fromLocal8Bit(qgetenv(Name));
}

int Mode(const QString &Path)
{
    struct stat Status;
    return ::stat(QFile::encodeName(Path).constData(), &Status) == 0 ? int(Status.st_mode & 07777) : -1;
}

bool WriteFile(const QString &Path, const QByteArray &Bytes)
{
    QFile File(Path);
    return File.open(QIODevice::WriteOnly) && File.write(Bytes) == Bytes.size();
}

} // namespace

class TestShellLinks : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void specialFolders();
    void desktopFolder_data();
    void desktopFolder();
    void saveReplacesOneFile();
    void saveRefusesAMissingTarget();
    void siteMark_data();
    void siteMark();
    void siteMarkOfNoRegularFile();
    void launcherRunsProgram_data();
    void launcherRunsProgram();
    void programAutostartEntry();

private:
    TTestDesktopServices FDesktop;
    QTemporaryDir FDir;
};

void TestShellLinks::initTestCase()
{
    QVERIFY(FDir.isValid());
    // The test runner gives every test private folders; never work on a real user's.
    QVERIFY(Env("XDG_CONFIG_HOME").startsWith(Env("HOME")));
    QVERIFY(QFileInfo(QStringLiteral(ARGV_RECORDER)).isExecutable());
}

void TestShellLinks::specialFolders()
{
    QCOMPARE(FDesktop.SpecialFolderPath(TSpecialFolder::StartMenu),
             Env("XDG_DATA_HOME") + QStringLiteral("/applications"));
    QCOMPARE(FDesktop.SpecialFolderPath(TSpecialFolder::AppData), Env("XDG_CONFIG_HOME"));
    QCOMPARE(FDesktop.SpecialFolderPath(TSpecialFolder::Startup),
             Env("XDG_CONFIG_HOME") + QStringLiteral("/autostart"));
    QVERIFY(!QFileInfo::exists(Env("XDG_CONFIG_HOME") + QStringLiteral("/user-dirs.dirs")));
    QCOMPARE(FDesktop.SpecialFolderPath(TSpecialFolder::Desktop), Env("HOME") + QStringLiteral("/Desktop"));
}

void TestShellLinks::desktopFolder_data()
{
    QTest::addColumn<QByteArray>("userDirs"); // "@HOME@" stands for the home folder
    QTest::addColumn<QString>("folder");      // below the home folder; empty: none
    QTest::addColumn<bool>("made");           // made on request when missing

    QTest::newRow("named below home")
        << QByteArray("XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n") << QStringLiteral("Schreibtisch") << true;
    QTest::newRow("named by its full path, blanks around the equals sign")
        << QByteArray("XDG_DESKTOP_DIR = \"@HOME@/Full path\"\n") << QStringLiteral("Full path") << true;
    QTest::newRow("escaped quote, other keys and comments")
        << QByteArray("# XDG_DESKTOP_DIR=\"$HOME/commented\"\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"
                      "XDG_DESKTOP_DIR=\"$HOME/My \\\"Desk\\\"\"\n")
        << QStringLiteral("My \"Desk\"") << true;
    QTest::newRow("the last line counts")
        << QByteArray("XDG_DESKTOP_DIR=\"$HOME/first\"\nXDG_DESKTOP_DIR=\"$HOME/second\"\n")
        << QStringLiteral("second") << true;
    QTest::newRow("no desktop line: the usual folder, never made")
        << QByteArray("XDG_MUSIC_DIR=\"$HOME/Music\"\n") << QStringLiteral("Desktop") << false;
    QTest::newRow("relative path is no path")
        << QByteArray("XDG_DESKTOP_DIR=\"Desktop2\"\n") << QStringLiteral("Desktop") << false;
    QTest::newRow("unquoted value is no path")
        << QByteArray("XDG_DESKTOP_DIR=$HOME/Desktop2\n") << QStringLiteral("Desktop") << false;
    QTest::newRow("the home folder: the user has none")
        << QByteArray("XDG_DESKTOP_DIR=\"$HOME/\"\n") << QString() << false;
}

void TestShellLinks::desktopFolder()
{
    QFETCH(QByteArray, userDirs);
    QFETCH(QString, folder);
    QFETCH(bool, made);

    const QString Home = Env("HOME");
    const QString UserDirs = Env("XDG_CONFIG_HOME") + QStringLiteral("/user-dirs.dirs");
    QVERIFY(QDir().mkpath(Env("XDG_CONFIG_HOME")));
    QVERIFY(WriteFile(UserDirs, userDirs.replace("@HOME@", QFile::encodeName(Home))));
    const QString Expected = folder.isEmpty() ? QString() : Home + QLatin1Char('/') + folder;
    if (!Expected.isEmpty())
        QVERIFY(!QFileInfo::exists(Expected));

    QCOMPARE(FDesktop.SpecialFolderPath(TSpecialFolder::Desktop), Expected);
    QCOMPARE(FDesktop.SpecialFolderPath(TSpecialFolder::Desktop, true), made ? Expected : QString());
    if (made) {
        QVERIFY(QFileInfo(Expected).isDir());
        QCOMPARE(Mode(Expected), 0700);
        QVERIFY(QDir(Expected).removeRecursively());
    } else if (!Expected.isEmpty()) {
        QVERIFY(!QFileInfo::exists(Expected));
    }
    QVERIFY(QFile::remove(UserDirs));
}

void TestShellLinks::saveReplacesOneFile()
{
    const QString Folder = FDir.filePath(QStringLiteral("replace"));
    QVERIFY(QDir().mkpath(Folder));
    TShellLink Link(QStringLiteral(ARGV_RECORDER));
    Link.SetDescription("first");
    Link.SetArguments({"4b524c50"});
    Link.SetIconPath(QStringLiteral("/nowhere/Icons/web.ico"));
    QVERIFY(Link.Save(Folder + QStringLiteral("/My site"), true));
    Link.SetDescription("second");
    QVERIFY(Link.Save(Folder + QStringLiteral("/My site.desktop"), true));

    QCOMPARE(QDir(Folder).entryList(QDir::Files), QStringList{QStringLiteral("My site.desktop")});
    const QString File = Folder + QStringLiteral("/My site.desktop");
    const QMap<QByteArray, QByteArray> Keys = ReadDesktopEntryGroup(ReadAll(File));
    QCOMPARE(Keys.value("Name"), QByteArray("My site"));
    QCOMPARE(Keys.value("Comment"), QByteArray("second"));
    QCOMPARE(Keys.value("Icon"), QByteArray("/nowhere/Icons/web.ico"));
    QCOMPARE(SplitExecLine(Keys.value("Exec")), std::optional<QByteArrayList>({ARGV_RECORDER, "4b524c50"}));
    QVERIFY(!Keys.contains(SiteMarkKey));
    // It may hold a site's title and address: for the owner alone, executable for the desktop.
    QCOMPARE(Mode(File), 0700);

    // Rewriting a file that others could read leaves it the owner's alone as well.
    QVERIFY(QFile::setPermissions(File, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                            QFile::ReadOther | QFile::ExeOther));
    Link.SetSiteMark(true);
    Link.SetWindowClass("kestrune-My_site-0123abcd");
    QVERIFY(Link.Save(File, true));
    QCOMPARE(Mode(File), 0700);
    QVERIFY(IsSiteShellLink(File));
    QCOMPARE(ReadShellLinkKeys(File).value("StartupWMClass"), QByteArray("kestrune-My_site-0123abcd"));
}

void TestShellLinks::siteMark_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("ours");

    const QByteArray Entry = "[Desktop Entry]\nType=Application\nName=Mail\nExec=kestrune\n";
    QTest::newRow("marked") << Entry + "X-Kestrune-Site=true\n" << true;
    QTest::newRow("the user's own entry") << Entry << false;
    QTest::newRow("mark switched off") << Entry + "X-Kestrune-Site=false\n" << false;
    QTest::newRow("mark in another group") << Entry + "[Desktop Action x]\nX-Kestrune-Site=true\n" << false;
    QTest::newRow("larger than any launcher")
        << Entry + "X-Kestrune-Site=true\n" + "#" + QByteArray(64 * 1024, 'x') + "\n"
        << false;
}

void TestShellLinks::siteMark()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, ours);

    const QString File = FDir.filePath(QStringLiteral("kestrune-Mail.desktop"));
    QVERIFY(WriteFile(File, content));
    QCOMPARE(IsSiteShellLink(File), ours);
    QVERIFY(QFile::remove(File));
}

void TestShellLinks::siteMarkOfNoRegularFile()
{
    const QString Fifo = FDir.filePath(QStringLiteral("fifo.desktop"));
    QCOMPARE(::mkfifo(QFile::encodeName(Fifo).constData(), 0600), 0);
    // Opened for reading, a FIFO without a writer would hold the program forever.
    QVERIFY(!IsSiteShellLink(Fifo));
    QVERIFY(ReadShellLinkKeys(Fifo).isEmpty());
    QVERIFY(QFile::remove(Fifo));
    const QString Folder = FDir.filePath(QStringLiteral("folder.desktop"));
    QVERIFY(QDir().mkpath(Folder));
    QVERIFY(!IsSiteShellLink(Folder));
    QVERIFY(!IsSiteShellLink(FDir.filePath(QStringLiteral("missing.desktop"))));
    QVERIFY(!IsSiteShellLink(QString()));
}

void TestShellLinks::saveRefusesAMissingTarget()
{
    const QString Folder = FDir.filePath(QStringLiteral("refuse"));
    QVERIFY(QDir().mkpath(Folder));
    const QString NotAProgram = FDir.filePath(QStringLiteral("plain.txt"));
    QFile(NotAProgram).open(QIODevice::WriteOnly);
    for (const QString &Target : {FDir.filePath(QStringLiteral("missing")), NotAProgram}) {
        TShellLink Link(Target);
        QVERIFY(!Link.Save(Folder + QStringLiteral("/x"), true));
        QVERIFY(!Link.LastError().isEmpty());
    }
    QVERIFY(QDir(Folder).isEmpty());
    QVERIFY(
        !TShellLink(QStringLiteral(ARGV_RECORDER)).Save(Folder + QStringLiteral("/no/such/folder/x"), true));
}

void TestShellLinks::launcherRunsProgram_data()
{
    QTest::addColumn<QString>("programFolder");
    QTest::addColumn<QByteArrayList>("arguments");

    QTest::newRow("link parameter") << QStringLiteral("plain")
                                    << QByteArrayList{"4b524c5000014107687474703a2f2f00"};
    QTest::newRow("program path with blanks, quotes, backslash, backtick and dollar")
        << QStringLiteral("my apps \"x\" a\\b `c` $HOME") << QByteArrayList{"4b524c5001"};
    QTest::newRow("arguments that a shell would take apart")
        << QStringLiteral("plain")
        << QByteArrayList{"a b", "q\"x", "50%", "$HOME", "`id`", "back\\slash", "x; touch pwned", ""};
    QTest::newRow("non-ASCII") << QStringLiteral("\u00e9t\u00e9") << QByteArrayList{"K\xc3\xb6ln"};
}

void TestShellLinks::launcherRunsProgram()
{
    QFETCH(QString, programFolder);
    QFETCH(QByteArrayList, arguments);

    const QString Gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
    if (Gio.isEmpty())
        QSKIP("gio is not installed (libglib2.0-bin)");

    QTemporaryDir Work;
    QVERIFY(Work.isValid());
    const QString Folder = Work.filePath(programFolder);
    QVERIFY(QDir().mkpath(Folder));
    const QString Program = Folder + QStringLiteral("/kestrune");
    QVERIFY(QFile::copy(QStringLiteral(ARGV_RECORDER), Program));
    QVERIFY(QFile::setPermissions(Program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    TShellLink Link(Program);
    Link.SetDescription("Click here to open it");
    Link.SetArguments(arguments);
    const QString Entry = Work.filePath(QStringLiteral("launch.desktop"));
    QVERIFY(Link.Save(Entry, true));

    const QString Record = Work.filePath(QStringLiteral("argv"));
    QProcess Launch;
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    Environment.insert(QStringLiteral("KESTRUNE_ARGV_FILE"), Record);
    Launch.setProcessEnvironment(Environment);
    Launch.start(Gio, {QStringLiteral("launch"), Entry});
    QVERIFY(Launch.waitForFinished(30000));
    QVERIFY2(Launch.exitCode() == 0, Launch.readAllStandardError().constData());
    // gio returns once the program is started; it writes its record at once.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(Record), 20000);

    QByteArrayList Received = ReadAll(Record).split('\0');
    QCOMPARE(Received.takeLast(), QByteArray());
    QCOMPARE(Received, arguments);
    QVERIFY(!QFileInfo::exists(Work.filePath(QStringLiteral("plain/pwned"))));
}

void TestShellLinks::programAutostartEntry()
{
    const QString Program = QStringLiteral(ARGV_RECORDER);
    const QString File = FDesktop.ProgramAutostartFile();
    QCOMPARE(File, Env("XDG_CONFIG_HOME") + QStringLiteral("/autostart/io.github.brinmoor.Kestrune.desktop"));
    QVERIFY(FDesktop.SetProgramAutostartEntry(false, Program));
    QVERIFY(!QFileInfo::exists(File));
    QVERIFY(!FDesktop.IsProgramAutostartEntry(Program));

    QVERIFY(FDesktop.SetProgramAutostartEntry(true, Program));
    QVERIFY(FDesktop.IsProgramAutostartEntry(Program));
    // Only the ASCII letters are folded when the paths are compared.
    QVERIFY(FDesktop.IsProgramAutostartEntry(Program.toUpper()));
    QVERIFY(!FDesktop.IsProgramAutostartEntry(Program + QStringLiteral("x")));
    QCOMPARE(SplitExecLine(ReadDesktopEntryGroup(ReadAll(File)).value("Exec")),
             std::optional<QByteArrayList>({QFile::encodeName(Program)}));

    const QString Validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (!Validator.isEmpty()) {
        QProcess Validate;
        Validate.start(Validator, {File});
        QVERIFY(Validate.waitForFinished(30000));
        QVERIFY2(Validate.exitCode() == 0, Validate.readAllStandardOutput().constData());
    }

    // A desktop's settings switch an entry off in place.
    QFile Entry(File);
    QVERIFY(Entry.open(QIODevice::Append));
    Entry.write("Hidden=true\n");
    Entry.close();
    QVERIFY(!FDesktop.IsProgramAutostartEntry(Program));

    QVERIFY(FDesktop.SetProgramAutostartEntry(false, Program));
    QVERIFY(!QFileInfo::exists(File));
}

QTEST_GUILESS_MAIN(TestShellLinks)
#include "tst_shelllinks.moc"
