#include "DesktopEntry.h"
#include "KestruneVersion.h"
#include "Main.h"
#include "SiteDlg.h"
#include "SiteIdentity.h"
#include "TestDesktopServices.h"
#include "TestDockSettings.h"
#include "UpdateCheck.h"
#include "platform/DockFavorites.h"
#include "platform/MessageBoxes.h"
#include "platform/ShellLinks.h"
#include "platform/WebProfile.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <sys/stat.h>

namespace {

QString Env(const char *Name)
{
    return QString::fromLocal8Bit(qgetenv(Name));
}

QByteArray ReadAll(const QString &Path)
{
    QFile File(Path);
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}

bool WriteFile(const QString &Path, const QByteArray &Bytes)
{
    QFile File(Path);
    return File.open(QIODevice::WriteOnly) && File.write(Bytes) == Bytes.size();
}

QMap<QByteArray, QByteArray> EntryKeys(const QString &Path)
{
    return ReadDesktopEntryGroup(ReadAll(Path));
}

int Mode(const QString &Path)
{
    struct stat Status;
    return ::stat(QFile::encodeName(Path).constData(), &Status) == 0 ? int(Status.st_mode & 07777) : -1;
}

// The link parameter a shortcut file hands to the program.
std::optional<TLinkParameter> ShortcutLink(const QString &Path)
{
    const std::optional<QByteArrayList> Exec = SplitExecLine(EntryKeys(Path).value("Exec"));
    TLinkParameter Link;
    if (!Exec || Exec->size() != 2 ||
        Exec->at(0) != QFile::encodeName(QCoreApplication::applicationFilePath()) ||
        !DecodeLinkParameter(Exec->at(1), Link))
        return std::nullopt;
    return Link;
}

QString DesktopId(const QByteArray &Title)
{
    return QStringLiteral("kestrune-") + QString::fromUtf8(Title) + QStringLiteral(".desktop");
}

QStringList Favorites()
{
    return ReadDockFavorites().value_or(QStringList());
}

// Every file below the given folders, for "nothing was written" checks.
QStringList AllFiles(const QStringList &Roots)
{
    QStringList Files;
    for (const QString &Root : Roots) {
        QDirIterator It(Root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (It.hasNext())
            Files << It.next();
    }
    Files.sort();
    return Files;
}

constexpr int FilePlaces[] = {TShortcutPlace::StartMenu, TShortcutPlace::Desktop, TShortcutPlace::Startup};

} // namespace

class TestMainShortcuts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void placeFolders();
    void createAtEachPlace_data();
    void createAtEachPlace();
    void freshHome_data();
    void freshHome();
    void placeCannotBeWritten_data();
    void placeCannotBeWritten();
    void titleThatNamesNoFile_data();
    void titleThatNamesNoFile();
    void otherProgramsEntriesStayAlone();
    void programEntryIsNoSiteShortcut();
    void sharedTitleAndRenamedSite();
    void removeRoad_data();
    void removeRoad();
    void editRoad_data();
    void editRoad();
    void menuEntries();
    void quickLaunchCommands_data();
    void quickLaunchCommands();
    void addRoadBoxes_data();
    void addRoadBoxes();

private:
    TKestrunSite *AddSite(const QByteArray &Title, const QByteArray &URL = "http://127.0.0.1/");
    QString SiteFile(int Place, const QByteArray &Title) const;
    QStringList Roots() const;
    void RemoveAllFolders();

    mutable TTestDesktopServices FDesktop;
    TWebProfile FProfile;
    QTemporaryDir FSchemas;
    std::unique_ptr<QTemporaryDir> FData;
    std::unique_ptr<TfMainForm> FForm;
};

void TestMainShortcuts::initTestCase()
{
    QVERIFY(Env("XDG_CONFIG_HOME").startsWith(Env("HOME")));
    QVERIFY(Env("XDG_DATA_HOME").startsWith(Env("HOME")));
    QVERIFY(FSchemas.isValid());
    const QString Error = UsePrivateDockSettings(FSchemas.path());
    QVERIFY2(Error.isEmpty(), qPrintable(Error));
    MessageBoxTest::Enable();
}

void TestMainShortcuts::init()
{
    qputenv("XDG_CURRENT_DESKTOP", "GNOME");
    QVERIFY(WriteDockFavorites({QStringLiteral("firefox-esr.desktop")}));
    for (const int Place : FilePlaces)
        QVERIFY(QDir().mkpath(ShortcutPlaceFolder(FDesktop, Place)));
    FData = std::make_unique<QTemporaryDir>();
    QVERIFY(FData->isValid());
    FForm = std::make_unique<TfMainForm>(FDesktop, FProfile, FData->path(), QList<QByteArray>());
    MessageBoxTest::TakeRecords();
}

void TestMainShortcuts::cleanup()
{
    FForm.reset();
    FData.reset();
    TfSiteDlg::ModalRunnerForTests = nullptr;
    RemoveAllFolders();
    MessageBoxTest::TakeRecords();
}

// A new account's home: none of the folders shortcuts go to, no user-dirs file.
void TestMainShortcuts::RemoveAllFolders()
{
    for (const int Place : FilePlaces) {
        const QString Folder = ShortcutPlaceFolder(FDesktop, Place);
        if (!Folder.isEmpty() && Folder != Env("HOME"))
            QDir(Folder).removeRecursively();
    }
    QDir(Env("HOME") + QStringLiteral("/.local")).removeRecursively();
    QDir(Env("XDG_DATA_HOME")).removeRecursively();
    QDir(Env("XDG_CONFIG_HOME")).removeRecursively();
    QDir(Env("HOME") + QStringLiteral("/Desktop")).removeRecursively();
}

TKestrunSite *TestMainShortcuts::AddSite(const QByteArray &Title, const QByteArray &URL)
{
    auto Site = std::make_unique<TKestrunSite>();
    Site->SetTitle(Title);
    Site->SetURL(URL);
    TKestrunSite *Added = Site.get();
    FForm->Sites.Add(std::move(Site));
    FForm->FillSiteList();
    return Added;
}

QString TestMainShortcuts::SiteFile(int Place, const QByteArray &Title) const
{
    return ShortcutPlaceFolder(FDesktop, Place) + QLatin1Char('/') + DesktopId(Title);
}

QStringList TestMainShortcuts::Roots() const
{
    return {Env("HOME"), FData->path()};
}

void TestMainShortcuts::placeFolders()
{
    const QString StartMenu = Env("XDG_DATA_HOME") + QStringLiteral("/applications");
    QCOMPARE(ShortcutPlaceFolder(FDesktop, TShortcutPlace::StartMenu), StartMenu);
    QCOMPARE(ShortcutPlaceFolder(FDesktop, TShortcutPlace::Desktop),
             Env("HOME") + QStringLiteral("/Desktop"));
    // The entry the dock pins is the Start menu's.
    QCOMPARE(ShortcutPlaceFolder(FDesktop, TShortcutPlace::QuickLaunch), StartMenu);
    QCOMPARE(ShortcutPlaceFolder(FDesktop, TShortcutPlace::Startup),
             Env("XDG_CONFIG_HOME") + QStringLiteral("/autostart"));
    QCOMPARE(ShortcutPlaceFolder(FDesktop, 0), QString());
    QCOMPARE(ShortcutPlaceFolder(FDesktop, 5), QString());
}

void TestMainShortcuts::createAtEachPlace_data()
{
    QTest::addColumn<int>("place");
    QTest::addColumn<QByteArray>("title");
    QTest::addColumn<QByteArray>("iconName");
    QTest::addColumn<bool>("iconFile");

    QTest::newRow("Start menu, an icon named whose file is not there")
        << TShortcutPlace::StartMenu << QByteArray("Mail") << QByteArray("missing-icon") << false;
    QTest::newRow("Desktop, title with blanks and quotes, no icon")
        << TShortcutPlace::Desktop << QByteArray("My \"best\" site") << QByteArray() << false;
    QTest::newRow("Quick launch, non-ASCII title, its icon file")
        << TShortcutPlace::QuickLaunch << QByteArray("K\xc3\xb6ln \xd0\x9f\xd0\xbe\xd1\x87\xd1\x82\xd0\xb0")
        << QByteArray("web") << true;
    QTest::newRow("Windows startup opens minimised")
        << TShortcutPlace::Startup << QByteArray("Mail") << QByteArray() << false;
}

void TestMainShortcuts::createAtEachPlace()
{
    QFETCH(int, place);
    QFETCH(QByteArray, title);
    QFETCH(QByteArray, iconName);
    QFETCH(bool, iconFile);

    TKestrunSite *Site = AddSite(title, "https://127.0.0.1/inbox");
    Site->SetIconName(iconName);
    const QString IconPath = FForm->ProgramFolder + QStringLiteral("Icons/") + QString::fromUtf8(iconName) +
                             QStringLiteral(".ico");
    if (iconFile) {
        QVERIFY(QDir().mkpath(FForm->ProgramFolder + QStringLiteral("Icons")));
        QFile Icon(IconPath);
        QVERIFY(Icon.open(QIODevice::WriteOnly));
        Icon.write(QByteArray("\0\0\1\0", 4));
    }
    auto DropIcon = qScopeGuard([&] { QFile::remove(IconPath); });
    QVERIFY(!FForm->HasShortcuts(*Site));
    FForm->CreateShortcut(*Site, place);
    FForm->CreateShortcut(*Site, place); // rewritten, not doubled
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());

    const int FilePlace = place == TShortcutPlace::QuickLaunch ? TShortcutPlace::StartMenu : place;
    const QString File = SiteFile(FilePlace, title);
    QCOMPARE(QDir(ShortcutPlaceFolder(FDesktop, FilePlace)).entryList(QDir::Files),
             QStringList{QFileInfo(File).fileName()});
    QCOMPARE(Mode(File), 0700);
    QVERIFY(FForm->HasShortcuts(*Site));
    QCOMPARE(Favorites().count(DesktopId(title)), place == TShortcutPlace::QuickLaunch ? 1 : 0);

    const QMap<QByteArray, QByteArray> Keys = EntryKeys(File);
    QCOMPARE(Keys.value("Type"), QByteArray("Application"));
    QCOMPARE(Keys.value("Name"), title);
    QCOMPARE(Keys.value("Comment"), "Click here to open " + title);
    QCOMPARE(Keys.value(SiteMarkKey), QByteArray("true"));
    QCOMPARE(Keys.value("StartupWMClass"), SiteWindowClass(title));
    // The site's icon file where it has one; otherwise the program's icon, never a path to nothing.
    QCOMPARE(Keys.value("Icon"), iconFile ? QFile::encodeName(IconPath) : QByteArray(KESTRUNE_APP_ID));
    const std::optional<TLinkParameter> Link = ShortcutLink(File);
    QVERIFY(Link);
    QCOMPARE(Link->OpenMinimized, place == TShortcutPlace::Startup);
    QCOMPARE(Link->Title, title);
    QCOMPARE(Link->URL, QByteArray("https://127.0.0.1/inbox"));

    const QString Validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (Validator.isEmpty())
        QSKIP("desktop-file-validate is not installed (desktop-file-utils)");
    QProcess Validate;
    Validate.start(Validator, {File});
    QVERIFY(Validate.waitForFinished(30000));
    QVERIFY2(Validate.exitCode() == 0, Validate.readAllStandardOutput().constData());
}

void TestMainShortcuts::freshHome_data()
{
    QTest::addColumn<int>("place");
    QTest::addColumn<QByteArray>("userDirs"); // empty: no user-dirs file
    QTest::addColumn<QString>("folder");      // below the home folder
    QTest::addColumn<QStringList>("madeFolders");

    const QStringList DataFolders{QStringLiteral(".local"), QStringLiteral(".local/share"),
                                  QStringLiteral(".local/share/applications")};
    QTest::newRow("Start menu") << TShortcutPlace::StartMenu << QByteArray()
                                << QStringLiteral(".local/share/applications") << DataFolders;
    QTest::newRow("Quick launch") << TShortcutPlace::QuickLaunch << QByteArray()
                                  << QStringLiteral(".local/share/applications") << DataFolders;
    QTest::newRow("Windows startup") << TShortcutPlace::Startup << QByteArray()
                                     << QStringLiteral(".config/autostart")
                                     << QStringList{QStringLiteral(".config"),
                                                    QStringLiteral(".config/autostart")};
    QTest::newRow("Desktop that user-dirs names")
        << TShortcutPlace::Desktop << QByteArray("XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n")
        << QStringLiteral("Bureau") << QStringList{QStringLiteral("Bureau")};
    QTest::newRow("Desktop that nothing names")
        << TShortcutPlace::Desktop << QByteArray() << QString() << QStringList();
    QTest::newRow("Desktop that user-dirs sets to the home folder")
        << TShortcutPlace::Desktop << QByteArray("XDG_DESKTOP_DIR=\"$HOME/\"\n") << QString()
        << QStringList();
}

void TestMainShortcuts::freshHome()
{
    QFETCH(int, place);
    QFETCH(QByteArray, userDirs);
    QFETCH(QString, folder);
    QFETCH(QStringList, madeFolders);

    const QString Home = Env("HOME");
    TKestrunSite *Site = AddSite("Mail");
    RemoveAllFolders();
    if (!userDirs.isEmpty()) {
        QVERIFY(QDir().mkpath(Env("XDG_CONFIG_HOME")));
        QVERIFY(WriteFile(Env("XDG_CONFIG_HOME") + QStringLiteral("/user-dirs.dirs"), userDirs));
    }
    const QStringList Before = AllFiles(Roots());
    FForm->CreateShortcut(*Site, place);

    const QList<MessageBoxTest::TRecord> Boxes = MessageBoxTest::TakeRecords();
    if (folder.isEmpty()) {
        // No desktop folder: nothing made up, nothing written into the home folder.
        QCOMPARE(Boxes.size(), 1);
        QCOMPARE(Boxes[0].Text, QStringLiteral("Can not create shortcut!"));
        QCOMPARE(AllFiles(Roots()), Before);
        QVERIFY(!QFileInfo::exists(Home + QStringLiteral("/Desktop")));
        return;
    }
    QVERIFY(Boxes.isEmpty());
    const QString File = Home + QLatin1Char('/') + folder + QStringLiteral("/kestrune-Mail.desktop");
    QCOMPARE(Mode(File), 0700);
    QVERIFY(ShortcutLink(File));
    for (const QString &Made : madeFolders)
        QVERIFY2(Mode(Home + QLatin1Char('/') + Made) == 0700, qPrintable(Made));
    QCOMPARE(Favorites().contains(DesktopId("Mail")), place == TShortcutPlace::QuickLaunch);
}

void TestMainShortcuts::placeCannotBeWritten_data()
{
    QTest::addColumn<int>("place");
    QTest::addColumn<QByteArray>("desktop");
    QTest::addColumn<bool>("fileForStartMenu");

    QTest::newRow("a file where the Start-menu folder belongs")
        << TShortcutPlace::StartMenu << QByteArray("GNOME") << true;
    QTest::newRow("Quick launch where the dock has no favourites")
        << TShortcutPlace::QuickLaunch << QByteArray("KDE") << false;
    QTest::newRow("Quick launch whose Start-menu entry cannot be written")
        << TShortcutPlace::QuickLaunch << QByteArray("GNOME") << true;
    QTest::newRow("no such place") << 9 << QByteArray("GNOME") << false;
}

void TestMainShortcuts::placeCannotBeWritten()
{
    QFETCH(int, place);
    QFETCH(QByteArray, desktop);
    QFETCH(bool, fileForStartMenu);

    qputenv("XDG_CURRENT_DESKTOP", desktop);
    TKestrunSite *Site = AddSite("Mail");
    if (fileForStartMenu) {
        const QString StartMenu = ShortcutPlaceFolder(FDesktop, TShortcutPlace::StartMenu);
        QVERIFY(QDir(StartMenu).removeRecursively());
        QVERIFY(WriteFile(StartMenu, "not a folder"));
    }
    const QStringList Before = AllFiles(Roots());
    FForm->CreateShortcut(*Site, place);

    const QList<MessageBoxTest::TRecord> Boxes = MessageBoxTest::TakeRecords();
    QCOMPARE(Boxes.size(), 1);
    QCOMPARE(Boxes[0].Kind, TMsgKind::Error);
    QCOMPARE(Boxes[0].Text, QStringLiteral("Can not create shortcut!"));
    QCOMPARE(Boxes[0].Buttons, TMsgButtons::Ok);
    QCOMPARE(AllFiles(Roots()), Before);
    qputenv("XDG_CURRENT_DESKTOP", "GNOME");
    QCOMPARE(Favorites(), QStringList{QStringLiteral("firefox-esr.desktop")});
    if (fileForStartMenu)
        QVERIFY(QFile::remove(ShortcutPlaceFolder(FDesktop, TShortcutPlace::StartMenu)));
}

void TestMainShortcuts::titleThatNamesNoFile_data()
{
    QTest::addColumn<QByteArray>("title");

    QTest::newRow("slash") << QByteArray("News/Sport");
    QTest::newRow("reaching out of the folder") << QByteArray("../escaped");
    QTest::newRow("empty") << QByteArray();
}

void TestMainShortcuts::titleThatNamesNoFile()
{
    QFETCH(QByteArray, title);

    TKestrunSite *Site = AddSite(title);
    // Files that a careless join of folder and title would reach.
    const QString Outside = Env("XDG_CONFIG_HOME") + QStringLiteral("/escaped.desktop");
    QVERIFY(WriteFile(Outside, "[Desktop Entry]\nX-Kestrune-Site=true\n"));
    const QStringList Before = AllFiles(Roots());
    for (int Place = TShortcutPlace::StartMenu; Place <= TShortcutPlace::Startup; ++Place)
        FForm->CreateShortcut(*Site, Place);
    QCOMPARE(AllFiles(Roots()), Before);
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
    QVERIFY(!FForm->HasShortcuts(*Site));
    FForm->RemoveShortcuts(*Site);
    QVERIFY(QFileInfo::exists(Outside));
    QCOMPARE(Favorites(), QStringList{QStringLiteral("firefox-esr.desktop")});
    QFile::remove(Outside);
}

void TestMainShortcuts::otherProgramsEntriesStayAlone()
{
    // The user's own menu entries: another program's, and one under the very name of a site's.
    const QString StartMenu = ShortcutPlaceFolder(FDesktop, TShortcutPlace::StartMenu);
    const QString Firefox = StartMenu + QStringLiteral("/firefox.desktop");
    const QByteArray FirefoxEntry = "[Desktop Entry]\nType=Application\nName=Firefox\nExec=firefox %u\n";
    QVERIFY(WriteFile(Firefox, FirefoxEntry));
    const QString UsersOwn = SiteFile(TShortcutPlace::Desktop, "Mail");
    const QByteArray UsersEntry = "[Desktop Entry]\nType=Application\nName=My mail\nExec=thunderbird\n";
    QVERIFY(WriteFile(UsersOwn, UsersEntry));
    QVERIFY(WriteDockFavorites({QStringLiteral("firefox.desktop")}));

    // A site titled as another program's desktop id has a launcher of its own name.
    TKestrunSite *Namesake = AddSite("firefox");
    FForm->CreateShortcut(*Namesake, TShortcutPlace::StartMenu);
    FForm->CreateShortcut(*Namesake, TShortcutPlace::QuickLaunch);
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
    QVERIFY(ShortcutLink(SiteFile(TShortcutPlace::StartMenu, "firefox")));
    QCOMPARE(Favorites(), QStringList({QStringLiteral("firefox.desktop"), DesktopId("firefox")}));
    FForm->RemoveShortcuts(*Namesake);
    QVERIFY(!FForm->HasShortcuts(*Namesake));
    QVERIFY(!QFileInfo::exists(SiteFile(TShortcutPlace::StartMenu, "firefox")));
    QCOMPARE(ReadAll(Firefox), FirefoxEntry);
    QCOMPARE(Favorites(), QStringList{QStringLiteral("firefox.desktop")});

    // The user's file under a site's name is not the site's: not counted, not replaced, not deleted.
    TKestrunSite *Mail = AddSite("Mail");
    QVERIFY(!FForm->HasShortcuts(*Mail));
    FForm->CreateShortcut(*Mail, TShortcutPlace::Desktop);
    const QList<MessageBoxTest::TRecord> Boxes = MessageBoxTest::TakeRecords();
    QCOMPARE(Boxes.size(), 1);
    QCOMPARE(Boxes[0].Text, QStringLiteral("Can not create shortcut!"));
    FForm->CreateShortcut(*Mail, TShortcutPlace::Startup);
    QVERIFY(FForm->HasShortcuts(*Mail));
    FForm->RemoveShortcuts(*Mail);
    QVERIFY(!FForm->HasShortcuts(*Mail));
    QVERIFY(!QFileInfo::exists(SiteFile(TShortcutPlace::Startup, "Mail")));
    QCOMPARE(ReadAll(UsersOwn), UsersEntry);
}

void TestMainShortcuts::programEntryIsNoSiteShortcut()
{
    FForm->SetRunAtStartup(true);
    const QString ProgramEntry = FDesktop.ProgramAutostartFile();
    QVERIFY(FForm->IsRunAtStartup());
    const QByteArray Original = ReadAll(ProgramEntry);
    QVERIFY(!Original.isEmpty());

    // Sites titled as the program's entry, or as the program, have shortcuts of their own beside the
    // program's entry; removing them leaves it alone.
    for (const QByteArray &Title : {ProgramAutostartName.chopped(8).toUtf8(), QByteArray("Kestrune")}) {
        TKestrunSite *Site = AddSite(Title);
        FForm->CreateShortcut(*Site, TShortcutPlace::Startup);
        FForm->CreateShortcut(*Site, TShortcutPlace::StartMenu);
        QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
        QVERIFY(ShortcutLink(SiteFile(TShortcutPlace::Startup, Title)));
        QVERIFY(FForm->HasShortcuts(*Site));
        FForm->RemoveShortcuts(*Site);
        QVERIFY(!FForm->HasShortcuts(*Site));
        QCOMPARE(ReadAll(ProgramEntry), Original);
        QVERIFY(FForm->IsRunAtStartup());
    }
    FForm->SetRunAtStartup(false);
}

void TestMainShortcuts::sharedTitleAndRenamedSite()
{
    TKestrunSite *First = AddSite("Mail");
    TKestrunSite *Second = AddSite("Mail", "http://127.0.0.1/other");
    FForm->CreateShortcut(*First, TShortcutPlace::Desktop);
    FForm->CreateShortcut(*First, TShortcutPlace::Startup);
    QVERIFY(FForm->HasShortcuts(*Second));

    // Renamed past the edit road, the site no longer finds its shortcuts.
    First->SetTitle("Post");
    QVERIFY(!FForm->HasShortcuts(*First));
    QVERIFY(FForm->HasShortcuts(*Second));

    FForm->RemoveShortcuts(*Second);
    QVERIFY(!FForm->HasShortcuts(*Second));
    QVERIFY(QDir(ShortcutPlaceFolder(FDesktop, TShortcutPlace::Desktop)).isEmpty());
    QVERIFY(QDir(ShortcutPlaceFolder(FDesktop, TShortcutPlace::Startup)).isEmpty());
}

void TestMainShortcuts::removeRoad_data()
{
    QTest::addColumn<bool>("withShortcuts");
    QTest::addColumn<TMsgResult>("answer");
    QTest::addColumn<bool>("siteRemoved");
    QTest::addColumn<bool>("shortcutsLeft");

    QTest::newRow("Yes removes both") << true << TMsgResult::Yes << true << false;
    QTest::newRow("No keeps the shortcut files") << true << TMsgResult::No << true << true;
    QTest::newRow("Cancel keeps the site") << true << TMsgResult::Cancel << false << true;
    QTest::newRow("no shortcuts, no question") << false << TMsgResult::Ok << true << false;
}

void TestMainShortcuts::removeRoad()
{
    QFETCH(bool, withShortcuts);
    QFETCH(TMsgResult, answer);
    QFETCH(bool, siteRemoved);
    QFETCH(bool, shortcutsLeft);

    TKestrunSite *Site = AddSite("Mail");
    if (withShortcuts) {
        FForm->CreateShortcut(*Site, TShortcutPlace::Desktop);
        FForm->CreateShortcut(*Site, TShortcutPlace::QuickLaunch);
        MessageBoxTest::QueueAnswer(answer);
    }
    FForm->RemoveSite(FForm->lvSites->topLevelItem(0));

    const QList<MessageBoxTest::TRecord> Boxes = MessageBoxTest::TakeRecords();
    QCOMPARE(Boxes.size(), withShortcuts ? 1 : 0);
    if (withShortcuts) {
        QCOMPARE(Boxes[0].Kind, TMsgKind::Confirm);
        QCOMPARE(Boxes[0].Buttons, TMsgButtons::YesNoCancel);
        QCOMPARE(
            Boxes[0].Text,
            QStringLiteral("There are active shortcuts for this site. Whould you like to remove them too?"));
    }
    QCOMPARE(FForm->Sites.Count(), siteRemoved ? 0 : 1);
    TKestrunSite Probe;
    Probe.SetTitle("Mail");
    QCOMPARE(FForm->HasShortcuts(Probe), shortcutsLeft);
    for (const int Place : {TShortcutPlace::StartMenu, TShortcutPlace::Desktop})
        QCOMPARE(QFileInfo::exists(SiteFile(Place, "Mail")), shortcutsLeft);
    QCOMPARE(Favorites().contains(DesktopId("Mail")), shortcutsLeft);

    // A favourite alone counts too.
    if (shortcutsLeft && siteRemoved) {
        QVERIFY(QFile::remove(SiteFile(TShortcutPlace::StartMenu, "Mail")));
        QVERIFY(QFile::remove(SiteFile(TShortcutPlace::Desktop, "Mail")));
        QVERIFY(FForm->HasShortcuts(Probe));
        FForm->RemoveShortcuts(Probe);
        QVERIFY(!FForm->HasShortcuts(Probe));
    }
}

void TestMainShortcuts::editRoad_data()
{
    QTest::addColumn<QList<int>>("places");
    QTest::addColumn<QByteArray>("title");
    QTest::addColumn<QByteArray>("url");
    QTest::addColumn<int>("messages");

    const QByteArray OldURL = "http://127.0.0.1/inbox";
    const QByteArray NewURL = "http://127.0.0.1/new";
    const QList<int> All{TShortcutPlace::StartMenu, TShortcutPlace::Desktop, TShortcutPlace::QuickLaunch,
                         TShortcutPlace::Startup};
    QTest::newRow("renamed: every place follows") << All << QByteArray("Post") << OldURL << 0;
    QTest::newRow("address changed: the same files open the new one")
        << QList<int>{TShortcutPlace::Desktop, TShortcutPlace::Startup} << QByteArray("Mail") << NewURL << 0;
    QTest::newRow("renamed and moved, pinned only")
        << QList<int>{TShortcutPlace::QuickLaunch} << QByteArray("Post & more") << NewURL << 0;
    QTest::newRow("no shortcuts: none made") << QList<int>{} << QByteArray("Post") << NewURL << 0;
    QTest::newRow("renamed to a title that names no file")
        << QList<int>{TShortcutPlace::Desktop} << QByteArray("News/Sport") << OldURL << 1;
}

void TestMainShortcuts::editRoad()
{
    QFETCH(QList<int>, places);
    QFETCH(QByteArray, title);
    QFETCH(QByteArray, url);
    QFETCH(int, messages);

    TKestrunSite *Site = AddSite("Mail", "http://127.0.0.1/inbox");
    for (const int Place : places)
        FForm->CreateShortcut(*Site, Place);
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());

    TfSiteDlg::ModalRunnerForTests = [title, url](TfSiteDlg &Dialog) {
        Dialog.edTitle->setText(QString::fromUtf8(title));
        Dialog.edURL->setText(QString::fromUtf8(url));
        Dialog.btnOk->click();
        return Dialog.result();
    };
    FForm->EditSite(FForm->lvSites->topLevelItem(0));
    QCOMPARE(Site->Title(), title);
    QCOMPARE(MessageBoxTest::TakeRecords().size(), messages);

    const bool Renamed = title != "Mail";
    const bool Pinned = places.contains(TShortcutPlace::QuickLaunch);
    for (const int Place : FilePlaces) {
        if (Renamed)
            QVERIFY(!QFileInfo::exists(SiteFile(Place, "Mail")));
        if (messages)
            continue;
        const bool Expected = places.contains(Place) || (Place == TShortcutPlace::StartMenu && Pinned);
        const QString File = SiteFile(Place, title);
        QCOMPARE(QFileInfo::exists(File), Expected);
        if (!Expected)
            continue;
        const std::optional<TLinkParameter> Link = ShortcutLink(File);
        QVERIFY(Link);
        QCOMPARE(Link->Title, title);
        QCOMPARE(Link->URL, url);
        QCOMPARE(Link->OpenMinimized, Place == TShortcutPlace::Startup);
        const QMap<QByteArray, QByteArray> Keys = EntryKeys(File);
        QCOMPARE(Keys.value("Name"), title);
        QCOMPARE(Keys.value("StartupWMClass"), SiteWindowClass(title));
        QCOMPARE(Mode(File), 0700);
    }
    if (Renamed)
        QVERIFY(!Favorites().contains(DesktopId("Mail")));
    QCOMPARE(Favorites().contains(DesktopId(title)), Pinned && !messages);
    QCOMPARE(FForm->HasShortcuts(*Site), !places.isEmpty() && !messages);
    QVERIFY(Favorites().contains(QStringLiteral("firefox-esr.desktop")));
}

void TestMainShortcuts::menuEntries()
{
    AddSite("Mail");
    FForm->lvSites->clearSelection();
    FForm->miShortcut_Desktop->trigger();
    QVERIFY(QDir(ShortcutPlaceFolder(FDesktop, TShortcutPlace::Desktop)).isEmpty());

    FForm->lvSites->topLevelItem(0)->setSelected(true);
    FForm->miShortcut_Desktop->trigger();
    FForm->Windowsstartup1->trigger();
    FForm->Quicklaunch1->trigger();
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
    QVERIFY(ShortcutLink(SiteFile(TShortcutPlace::Desktop, "Mail")));
    const std::optional<TLinkParameter> Link = ShortcutLink(SiteFile(TShortcutPlace::Startup, "Mail"));
    QVERIFY(Link && Link->OpenMinimized);
    QVERIFY(ShortcutLink(SiteFile(TShortcutPlace::StartMenu, "Mail")));
    QVERIFY(Favorites().contains(DesktopId("Mail")));
}

void TestMainShortcuts::quickLaunchCommands_data()
{
    QTest::addColumn<QByteArray>("desktop");
    QTest::addColumn<bool>("offered");

    QTest::newRow("GNOME Shell's dock") << QByteArray("ubuntu:GNOME") << true;
    QTest::newRow("a desktop without dock favourites") << QByteArray("KDE") << false;
    QTest::newRow("Cinnamon without its settings installed") << QByteArray("X-Cinnamon") << false;
}

void TestMainShortcuts::quickLaunchCommands()
{
    QFETCH(QByteArray, desktop);
    QFETCH(bool, offered);

    // The commands follow the desktop each time their menu is about to open.
    qputenv("XDG_CURRENT_DESKTOP", offered ? "KDE" : "GNOME");
    emit FForm->pmShortcut->aboutToShow();
    QCOMPARE(FForm->miShortcut_QuickLaunch->isEnabled(), !offered);

    qputenv("XDG_CURRENT_DESKTOP", desktop);
    emit FForm->pmShortcut->aboutToShow();
    emit FForm->Shortcut1->aboutToShow();
    QCOMPARE(FForm->miShortcut_QuickLaunch->isEnabled(), offered);
    QCOMPARE(FForm->Quicklaunch1->isEnabled(), offered);
    for (QAction *Other : {FForm->miShortcut_StartMenu, FForm->Desktop1, FForm->Windowsstartup1})
        QVERIFY(Other->isEnabled());

    std::optional<bool> BoxOffered;
    TfSiteDlg::ModalRunnerForTests = [&BoxOffered](TfSiteDlg &Dialog) {
        BoxOffered = Dialog.cbQuickLaunch->isEnabled();
        return int(QDialog::Rejected);
    };
    FForm->tbAddClick();
    QCOMPARE(BoxOffered, std::optional<bool>(offered));
}

void TestMainShortcuts::addRoadBoxes_data()
{
    QTest::addColumn<QList<int>>("ticked");
    QTest::addColumn<QByteArray>("desktop");
    QTest::addColumn<bool>("freshHome");
    QTest::addColumn<QList<int>>("files");
    QTest::addColumn<bool>("pinned");
    QTest::addColumn<int>("messages");

    const QList<int> All{TShortcutPlace::StartMenu, TShortcutPlace::Desktop, TShortcutPlace::QuickLaunch,
                         TShortcutPlace::Startup};
    const QList<int> AllFiles{TShortcutPlace::StartMenu, TShortcutPlace::Desktop, TShortcutPlace::Startup};
    QTest::newRow("Desktop and Windows startup ticked")
        << QList<int>{TShortcutPlace::Desktop, TShortcutPlace::Startup} << QByteArray("GNOME") << false
        << QList<int>{TShortcutPlace::Desktop, TShortcutPlace::Startup} << false << 0;
    QTest::newRow("all ticked with a dock") << All << QByteArray("GNOME") << false << AllFiles << true << 0;
    QTest::newRow("all ticked without a dock: its box is off")
        << All << QByteArray("KDE") << false << AllFiles << false << 0;
    QTest::newRow("all ticked on a new account without a desktop folder")
        << All << QByteArray("GNOME") << true
        << QList<int>{TShortcutPlace::StartMenu, TShortcutPlace::Startup} << true << 1;
    QTest::newRow("none ticked") << QList<int>{} << QByteArray("GNOME") << false << QList<int>{} << false
                                 << 0;
}

void TestMainShortcuts::addRoadBoxes()
{
    QFETCH(QList<int>, ticked);
    QFETCH(QByteArray, desktop);
    QFETCH(bool, freshHome);
    QFETCH(QList<int>, files);
    QFETCH(bool, pinned);
    QFETCH(int, messages);

    qputenv("XDG_CURRENT_DESKTOP", desktop);
    if (freshHome)
        RemoveAllFolders();
    // The user ticks what the dialog offers.
    TfSiteDlg::ModalRunnerForTests = [ticked](TfSiteDlg &Dialog) {
        Dialog.edTitle->setText(QStringLiteral("Mail"));
        Dialog.edURL->setText(QStringLiteral("http://127.0.0.1/inbox"));
        const std::pair<QCheckBox *, int> Boxes[] = {{Dialog.cbStartMenu, TShortcutPlace::StartMenu},
                                                     {Dialog.cbDesktopIcon, TShortcutPlace::Desktop},
                                                     {Dialog.cbQuickLaunch, TShortcutPlace::QuickLaunch},
                                                     {Dialog.cbWindowsStartup, TShortcutPlace::Startup}};
        for (const auto &[Box, Place] : Boxes)
            Box->setChecked(ticked.contains(Place) && Box->isEnabled());
        Dialog.btnOk->click();
        return Dialog.result();
    };
    FForm->tbAddClick();

    QCOMPARE(FForm->Sites.Count(), 1);
    for (const int Place : FilePlaces)
        QCOMPARE(QFileInfo::exists(SiteFile(Place, "Mail")), files.contains(Place));
    qputenv("XDG_CURRENT_DESKTOP", "GNOME");
    QCOMPARE(Favorites().contains(DesktopId("Mail")), pinned);
    const QList<MessageBoxTest::TRecord> Boxes = MessageBoxTest::TakeRecords();
    QCOMPARE(Boxes.size(), messages);
    if (messages)
        QCOMPARE(Boxes[0].Text, QStringLiteral("Can not create shortcut!"));
}

QTEST_MAIN(TestMainShortcuts)
#include "tst_mainshortcuts.moc"
