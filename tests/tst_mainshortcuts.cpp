#include "DesktopEntry.h"
#include "Main.h"
#include "SiteDlg.h"
#include "TestDesktopServices.h"
#include "UpdateCheck.h"
#include "platform/MessageBoxes.h"
#include "platform/ShellLinks.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

namespace {

QString Env(const char *Name)
{
    return QString::fromLocal8Bit(qgetenv(Name));
}

QMap<QByteArray, QByteArray> EntryKeys(const QString &Path)
{
    QFile File(Path);
    return File.open(QIODevice::ReadOnly) ? ReadDesktopEntryGroup(File.readAll())
                                          : QMap<QByteArray, QByteArray>();
}

// Every file below the shortcut folders and the data folder, for "nothing was written" checks.
QStringList AllFiles(const QStringList &Roots)
{
    QStringList Files;
    for (const QString &Root : Roots) {
        QDirIterator It(Root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (It.hasNext())
            Files << It.next();
    }
    Files.sort();
    return Files;
}

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
    void missingFolder_data();
    void missingFolder();
    void titleThatNamesNoFile_data();
    void titleThatNamesNoFile();
    void programEntryIsNoSiteShortcut();
    void sharedTitleAndRenamedSite();
    void removeRoad_data();
    void removeRoad();
    void menuEntries();
    void addRoadBoxes_data();
    void addRoadBoxes();

private:
    TKestrunSite *AddSite(const QByteArray &Title, const QByteArray &URL = "http://127.0.0.1/");
    QStringList Roots() const;

    mutable TTestDesktopServices FDesktop;
    std::unique_ptr<QTemporaryDir> FData;
    std::unique_ptr<TfMainForm> FForm;
};

void TestMainShortcuts::initTestCase()
{
    QVERIFY(Env("XDG_CONFIG_HOME").startsWith(Env("HOME")));
    // The start-up's update check must not leave this machine.
    UpdateCheckTest::SetServer("http://127.0.0.1:9");
    MessageBoxTest::Enable();
}

void TestMainShortcuts::init()
{
    for (int Place = 1; Place <= 4; ++Place)
        QVERIFY(QDir().mkpath(ShortcutPlaceFolder(FDesktop, Place)));
    FData = std::make_unique<QTemporaryDir>();
    QVERIFY(FData->isValid());
    FForm = std::make_unique<TfMainForm>(FDesktop, FData->path(), QList<QByteArray>());
    MessageBoxTest::TakeRecords();
}

void TestMainShortcuts::cleanup()
{
    FForm.reset();
    FData.reset();
    for (int Place = 1; Place <= 4; ++Place)
        QDir(ShortcutPlaceFolder(FDesktop, Place)).removeRecursively();
    MessageBoxTest::TakeRecords();
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

QStringList TestMainShortcuts::Roots() const
{
    return {Env("XDG_DATA_HOME"), Env("XDG_CONFIG_HOME"), ShortcutPlaceFolder(FDesktop, 2), FData->path()};
}

void TestMainShortcuts::placeFolders()
{
    QCOMPARE(ShortcutPlaceFolder(FDesktop, 1), Env("XDG_DATA_HOME") + QStringLiteral("/applications"));
    QCOMPARE(ShortcutPlaceFolder(FDesktop, 2), FDesktop.SpecialFolderPath(TSpecialFolder::Desktop));
    QCOMPARE(ShortcutPlaceFolder(FDesktop, 3),
             Env("XDG_CONFIG_HOME") + QStringLiteral("/Microsoft/Internet Explorer/Quick Launch"));
    QCOMPARE(ShortcutPlaceFolder(FDesktop, 4), Env("XDG_CONFIG_HOME") + QStringLiteral("/autostart"));
    QCOMPARE(ShortcutPlaceFolder(FDesktop, 0), QString());
    QCOMPARE(ShortcutPlaceFolder(FDesktop, 5), QString());
}

void TestMainShortcuts::createAtEachPlace_data()
{
    QTest::addColumn<int>("place");
    QTest::addColumn<QByteArray>("title");

    QTest::newRow("Start menu") << 1 << QByteArray("Mail");
    QTest::newRow("Desktop, title with blanks and quotes") << 2 << QByteArray("My \"best\" site");
    QTest::newRow("Quick launch, non-ASCII title")
        << 3 << QByteArray("K\xc3\xb6ln \xd0\x9f\xd0\xbe\xd1\x87\xd1\x82\xd0\xb0");
    QTest::newRow("Windows startup opens minimised") << 4 << QByteArray("Mail");
}

void TestMainShortcuts::createAtEachPlace()
{
    QFETCH(int, place);
    QFETCH(QByteArray, title);

    TKestrunSite *Site = AddSite(title, "https://127.0.0.1/inbox");
    Site->SetIconName("missing-icon");
    QVERIFY(!FForm->HasShortcuts(*Site));
    FForm->CreateShortcut(*Site, place);
    FForm->CreateShortcut(*Site, place); // rewritten, not doubled
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());

    const QString File = ShortcutPlaceFolder(FDesktop, place) + QLatin1Char('/') + QString::fromUtf8(title) +
                         QStringLiteral(".desktop");
    QCOMPARE(QDir(ShortcutPlaceFolder(FDesktop, place)).entryList(QDir::Files),
             QStringList{QFileInfo(File).fileName()});
    QVERIFY(QFileInfo(File).isExecutable());
    QVERIFY(FForm->HasShortcuts(*Site));

    const QMap<QByteArray, QByteArray> Keys = EntryKeys(File);
    QCOMPARE(Keys.value("Type"), QByteArray("Application"));
    QCOMPARE(Keys.value("Name"), title);
    QCOMPARE(Keys.value("Comment"), "Click here to open " + title);
    // The icon file is named even though it does not exist.
    QCOMPARE(Keys.value("Icon"),
             QFile::encodeName(FForm->ProgramFolder + QStringLiteral("Icons/missing-icon.ico")));
    const std::optional<QByteArrayList> Exec = SplitExecLine(Keys.value("Exec"));
    QVERIFY(Exec && Exec->size() == 2);
    QCOMPARE(Exec->at(0), QFile::encodeName(QCoreApplication::applicationFilePath()));
    TLinkParameter Link;
    QVERIFY(DecodeLinkParameter(Exec->at(1), Link));
    QCOMPARE(Link.OpenMinimized, place == 4);
    QCOMPARE(Link.Title, title);
    QCOMPARE(Link.URL, QByteArray("https://127.0.0.1/inbox"));

    const QString Validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (Validator.isEmpty())
        QSKIP("desktop-file-validate is not installed (desktop-file-utils)");
    QProcess Validate;
    Validate.start(Validator, {File});
    QVERIFY(Validate.waitForFinished(30000));
    QVERIFY2(Validate.exitCode() == 0, Validate.readAllStandardOutput().constData());
}

void TestMainShortcuts::missingFolder_data()
{
    QTest::addColumn<int>("place");

    QTest::newRow("Quick launch folder missing") << 3;
    QTest::newRow("desktop folder missing") << 2;
    QTest::newRow("no such place") << 9;
}

void TestMainShortcuts::missingFolder()
{
    QFETCH(int, place);

    TKestrunSite *Site = AddSite("Mail");
    if (!ShortcutPlaceFolder(FDesktop, place).isEmpty())
        QVERIFY(QDir(ShortcutPlaceFolder(FDesktop, place)).removeRecursively());
    const QStringList Before = AllFiles(Roots());
    FForm->CreateShortcut(*Site, place);

    const QList<MessageBoxTest::TRecord> Boxes = MessageBoxTest::TakeRecords();
    QCOMPARE(Boxes.size(), 1);
    QCOMPARE(Boxes[0].Kind, TMsgKind::Error);
    QCOMPARE(Boxes[0].Text, QStringLiteral("Can not create shortcut!"));
    QCOMPARE(Boxes[0].Buttons, TMsgButtons::Ok);
    QCOMPARE(AllFiles(Roots()), Before);
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
    QFile(Outside).open(QIODevice::WriteOnly);
    const QStringList Before = AllFiles(Roots());
    for (int Place = 1; Place <= 4; ++Place)
        FForm->CreateShortcut(*Site, Place);
    QCOMPARE(AllFiles(Roots()), Before);
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
    QVERIFY(!FForm->HasShortcuts(*Site));
    FForm->RemoveShortcuts(*Site);
    QVERIFY(QFileInfo::exists(Outside));
    QFile::remove(Outside);
}

void TestMainShortcuts::programEntryIsNoSiteShortcut()
{
    FForm->SetRunAtStartup(true);
    const QString ProgramEntry = FDesktop.ProgramAutostartFile();
    QVERIFY(FForm->IsRunAtStartup());
    QFile File(ProgramEntry);
    QVERIFY(File.open(QIODevice::ReadOnly));
    const QByteArray Original = File.readAll();
    File.close();

    // A site titled as the program's entry gets no startup shortcut, and its removal leaves the
    // program's entry alone.
    TKestrunSite *Site = AddSite(ProgramAutostartName.chopped(8).toUtf8());
    FForm->CreateShortcut(*Site, 4);
    FForm->CreateShortcut(*Site, 1);
    QVERIFY(QDir(ShortcutPlaceFolder(FDesktop, 1)).isEmpty());
    QVERIFY(!FForm->HasShortcuts(*Site));
    FForm->CreateShortcut(*Site, 2);
    QVERIFY(FForm->HasShortcuts(*Site));
    FForm->RemoveShortcuts(*Site);
    QVERIFY(File.open(QIODevice::ReadOnly));
    QCOMPARE(File.readAll(), Original);
    File.close();
    QVERIFY(FForm->IsRunAtStartup());

    // A site titled "Kestrune" has its own startup shortcut beside the program's entry.
    TKestrunSite *Namesake = AddSite("Kestrune");
    FForm->CreateShortcut(*Namesake, 4);
    QVERIFY(FForm->HasShortcuts(*Namesake));
    QVERIFY(FForm->IsRunAtStartup());
    FForm->RemoveShortcuts(*Namesake);
    QVERIFY(FForm->IsRunAtStartup());
    FForm->SetRunAtStartup(false);
}

void TestMainShortcuts::sharedTitleAndRenamedSite()
{
    TKestrunSite *First = AddSite("Mail");
    TKestrunSite *Second = AddSite("Mail", "http://127.0.0.1/other");
    FForm->CreateShortcut(*First, 2);
    FForm->CreateShortcut(*First, 4);
    QVERIFY(FForm->HasShortcuts(*Second));

    First->SetTitle("Post");
    QVERIFY(!FForm->HasShortcuts(*First));
    QVERIFY(FForm->HasShortcuts(*Second));

    FForm->RemoveShortcuts(*Second);
    QVERIFY(!FForm->HasShortcuts(*Second));
    QVERIFY(QDir(ShortcutPlaceFolder(FDesktop, 2)).isEmpty());
    QVERIFY(QDir(ShortcutPlaceFolder(FDesktop, 4)).isEmpty());
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
        FForm->CreateShortcut(*Site, 1);
        FForm->CreateShortcut(*Site, 3);
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
}

void TestMainShortcuts::menuEntries()
{
    AddSite("Mail");
    FForm->lvSites->clearSelection();
    FForm->miShortcut_Desktop->trigger();
    QVERIFY(QDir(ShortcutPlaceFolder(FDesktop, 2)).isEmpty());

    FForm->lvSites->topLevelItem(0)->setSelected(true);
    FForm->miShortcut_Desktop->trigger();
    FForm->Windowsstartup1->trigger();
    QVERIFY(QFileInfo::exists(ShortcutPlaceFolder(FDesktop, 2) + QStringLiteral("/Mail.desktop")));
    const std::optional<QByteArrayList> Exec = SplitExecLine(
        EntryKeys(ShortcutPlaceFolder(FDesktop, 4) + QStringLiteral("/Mail.desktop")).value("Exec"));
    QVERIFY(Exec && Exec->size() == 2);
    TLinkParameter Link;
    QVERIFY(DecodeLinkParameter(Exec->at(1), Link));
    QVERIFY(Link.OpenMinimized);
    QVERIFY(QDir(ShortcutPlaceFolder(FDesktop, 1)).isEmpty());
}

void TestMainShortcuts::addRoadBoxes_data()
{
    QTest::addColumn<QList<int>>("ticked");
    QTest::addColumn<bool>("quickLaunchFolder");
    QTest::addColumn<QList<int>>("created");
    QTest::addColumn<int>("messages");

    QTest::newRow("Desktop and Windows startup ticked") << QList<int>{2, 4} << true << QList<int>{2, 4} << 0;
    QTest::newRow("all ticked, Quick launch folder missing")
        << QList<int>{1, 2, 3, 4} << false << QList<int>{1, 2, 4} << 1;
    QTest::newRow("none ticked") << QList<int>{} << true << QList<int>{} << 0;
}

void TestMainShortcuts::addRoadBoxes()
{
    QFETCH(QList<int>, ticked);
    QFETCH(bool, quickLaunchFolder);
    QFETCH(QList<int>, created);
    QFETCH(int, messages);

    if (!quickLaunchFolder)
        QVERIFY(QDir(ShortcutPlaceFolder(FDesktop, 3)).removeRecursively());
    TfSiteDlg::ModalRunnerForTests = [ticked](TfSiteDlg &Dialog) {
        Dialog.edTitle->setText(QStringLiteral("Mail"));
        Dialog.edURL->setText(QStringLiteral("http://127.0.0.1/inbox"));
        const std::pair<QCheckBox *, int> Boxes[] = {{Dialog.cbStartMenu, 1},
                                                     {Dialog.cbDesktopIcon, 2},
                                                     {Dialog.cbQuickLaunch, 3},
                                                     {Dialog.cbWindowsStartup, 4}};
        for (const auto &[Box, Place] : Boxes)
            Box->setChecked(ticked.contains(Place));
        Dialog.btnOk->click();
        return Dialog.result();
    };
    FForm->tbAddClick();
    TfSiteDlg::ModalRunnerForTests = nullptr;

    QCOMPARE(FForm->Sites.Count(), 1);
    for (int Place = 1; Place <= 4; ++Place) {
        const QString File = ShortcutPlaceFolder(FDesktop, Place) + QStringLiteral("/Mail.desktop");
        QCOMPARE(QFileInfo::exists(File), created.contains(Place));
    }
    const QList<MessageBoxTest::TRecord> Boxes = MessageBoxTest::TakeRecords();
    QCOMPARE(Boxes.size(), messages);
    if (messages)
        QCOMPARE(Boxes[0].Text, QStringLiteral("Can not create shortcut!"));
}

QTEST_MAIN(TestMainShortcuts)
#include "tst_mainshortcuts.moc"
