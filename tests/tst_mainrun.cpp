#include "BrowserWin.h"
#include "Main.h"
#include "PageTools.h"
#include "SampleIcons.h"
#include "Settings.h"
#include "SiteWatch.h"
#include "TestDesktopServices.h"
#include "TestHttpServer.h"
#include "images/ImageDecoding.h"
#include "platform/EmbeddedWB.h"
#include "platform/MessageBoxes.h"
#include "platform/WebProfile.h"

#include <QAction>
#include <QBuffer>
#include <QLabel>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

namespace {

constexpr int LoadTimeout = 30000;

// 44 characters; the last blank among the first 30 is at 28.
const QByteArray LongTitle = "Kestrune inbox and drafts o bservations today";

struct TSiteSpec
{
    QByteArray Title;
    QByteArray URL;
    quint8 BrowserChoice = 1;
    QByteArray IconName = "web";
};

void WriteSites(const QString &Folder, const QList<TSiteSpec> &Specs)
{
    TKestrunCollection Sites;
    for (const TSiteSpec &Spec : Specs) {
        auto Site = std::make_unique<TKestrunSite>();
        Site->SetTitle(Spec.Title);
        Site->SetURL(Spec.URL);
        Site->SetBrowserChoice(Spec.BrowserChoice);
        Site->SetIconName(Spec.IconName);
        Site->SetWindowState(0);
        Site->SetWindowRect({10, 10, 410, 310});
        Sites.Add(std::move(Site));
    }
    QVERIFY(SaveSites(Folder, Sites));
}

QByteArray PageWithTitle(const QByteArray &Title)
{
    return "data:text/html," +
           QByteArray("<html><head><title>" + Title + "</title></head><body>x</body></html>")
               .toPercentEncoding("<>/=:,");
}

// The open-window section of the tray menu, top to bottom.
QList<QAction *> OpenWindowEntries(const TfMainForm &Form)
{
    const QList<QAction *> Entries = Form.pmTray->actions();
    return Entries.mid(Entries.indexOf(Form.miTrayOpenedSitesDelimiter) + 1,
                       Entries.indexOf(Form.N4) - Entries.indexOf(Form.miTrayOpenedSitesDelimiter) - 1);
}

QStringList Captions(const QList<QAction *> &Entries)
{
    QStringList Result;
    for (const QAction *Entry : Entries)
        Result << Entry->text();
    return Result;
}

QByteArray ReadFileBytes(const QString &Path)
{
    QFile File(Path);
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}

TfBrowserWin *WindowOf(const TOpenBrowser &Record)
{
    return qobject_cast<TfBrowserWin *>(Record.Window.data());
}

} // namespace

class TestMainRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void runTwiceThenCloseWindow();
    void systemBrowserRoads();
    void handedOverLinkAnswersBeforeItsWindowIsMade();
    void siteAddress_data();
    void siteAddress();
    void trayEntriesOpenTheirOwnSiteAndWindow();
    void asRootWithoutSandboxSiteWindowsAreRefused();
    void pageIconBecomesTheSiteIcon();
    void zoomKeptAcrossRuns();
    void placementSavedWhileOpen();

private:
    void Select(int Row)
    {
        FForm->lvSites->setCurrentItem(FForm->lvSites->topLevelItem(Row));
        QVERIFY(FForm->SelectedSite() == FForm->Sites[Row]);
    }

    TTestDesktopServices FDesktop;
    TWebProfile FProfile;
    std::unique_ptr<QTemporaryDir> FFolder;
    std::unique_ptr<TfMainForm> FForm;
};

void TestMainRun::initTestCase()
{
    // The window's start-up would otherwise ask the product's server for a newer version.
    QSettings Store(SettingsOrganization, SettingsApplication);
    Store.setValue(LastUpdateCheckKey, EncodeLastUpdateCheck(QDateTime::currentDateTime()));
    MessageBoxTest::Enable();
}

void TestMainRun::init()
{
    FFolder = std::make_unique<QTemporaryDir>();
    QVERIFY(FFolder->isValid());
    WriteSites(FFolder->path(), {{"Alpha", PageWithTitle(LongTitle)},
                                 {"Beta", "http://127.0.0.1:1/beta", 0},
                                 {"ALPHA", PageWithTitle("Second alpha")}});
    FForm = std::make_unique<TfMainForm>(FDesktop, FProfile, FFolder->path(), QList<QByteArray>());
    FDesktop.TrayAvailable = false;
    QCOMPARE(FForm->Sites.Count(), 3);
    FDesktop.TakeOpened();
}

void TestMainRun::cleanup()
{
    FForm.reset();
    FFolder.reset();
}

void TestMainRun::runTwiceThenCloseWindow()
{
    Select(0);
    TKestrunSite *Alpha = FForm->Sites[0];
    FForm->tbRunClick();
    FForm->Run1->trigger();
    QCOMPARE(FForm->OpenBrowsers.size(), 2);
    QCOMPARE(FForm->sbStatusPanel0->text(), QStringLiteral("Open browsers: 2"));
    QPointer<TfBrowserWin> Older = WindowOf(FForm->OpenBrowsers[0]);
    QPointer<TfBrowserWin> Newer = WindowOf(FForm->OpenBrowsers[1]);
    QVERIFY(Older && Newer && Older != Newer);
    QVERIFY(Older->isVisible() && Newer->isVisible());
    QCOMPARE(OpenWindowEntries(*FForm),
             (QList<QAction *>{FForm->OpenBrowsers[1].MenuItem, FForm->OpenBrowsers[0].MenuItem}));
    QCOMPARE(Captions(OpenWindowEntries(*FForm)),
             (QStringList{QStringLiteral("Alpha"), QStringLiteral("Alpha")}));

    // The page title reaches the entries, shortened at its last break among 30 characters.
    const QString Captioned = QStringLiteral("Alpha (Kestrune inbox and drafts o ...)");
    QTRY_COMPARE_WITH_TIMEOUT(Captions(OpenWindowEntries(*FForm)), (QStringList{Captioned, Captioned}),
                              LoadTimeout);
    QCOMPARE(Newer->windowTitle(), QStringLiteral("Kestrune: ") + QString::fromUtf8(LongTitle));

    FForm->pmSitePopup();
    QVERIFY(FForm->miSitePopupRun->isEnabled());
    QVERIFY(FForm->miClosewindow->isEnabled());

    // "Close window" destroys the newer window directly: its close road does not run.
    FForm->miClosewindow->trigger();
    QVERIFY(!Newer);
    QVERIFY(Older);
    QCOMPARE(FForm->OpenBrowsers.size(), 1);
    QCOMPARE(WindowOf(FForm->OpenBrowsers[0]), Older.data());
    QCOMPARE(FForm->sbStatusPanel0->text(), QStringLiteral("Open browsers: 1"));
    QCOMPARE(OpenWindowEntries(*FForm).size(), 1);
    QCOMPARE(Alpha->IsOpen(), quint8(1));

    // The window's own close removes its record through BrowserClosed.
    Older->move(30, 40);
    Older->Closewindow1()->trigger();
    QCOMPARE(FForm->OpenBrowsers.size(), 0);
    QCOMPARE(FForm->sbStatusPanel0->text(), QStringLiteral("No open browsers"));
    QVERIFY(OpenWindowEntries(*FForm).isEmpty());
    QCOMPARE(Alpha->IsOpen(), quint8(0));
    QCOMPARE(Alpha->WindowRect().Left, 30);
    QTRY_VERIFY(!Older);

    FForm->pmSitePopup();
    QVERIFY(!FForm->miClosewindow->isEnabled());
}

void TestMainRun::pageIconBecomesTheSiteIcon()
{
    QImage Picture(48, 48, QImage::Format_ARGB32);
    Picture.fill(QColor(200, 30, 160));
    QByteArray Png;
    QBuffer Buffer(&Png);
    Buffer.open(QIODevice::WriteOnly);
    QVERIFY(Picture.save(&Buffer, "PNG"));
    TTestServer Server;
    const auto Page = [](const QByteArray &Icon) {
        return HttpReply("200 OK",
                         "<html><head><title>Shop</title><link rel=icon href=" + Icon +
                             "></head><body>x</body></html>",
                         "Content-Type: text/html\r\n");
    };
    Server.Replies["/"] = Page("/shop.png");
    Server.Replies["/own"] = Page("/own.png");
    Server.Replies["/shop.png"] = HttpReply("200 OK", Png, "Content-Type: image/png\r\n");
    Server.Replies["/own.png"] = HttpReply("200 OK", Png, "Content-Type: image/png\r\n");
    Server.Replies["/favicon.ico"] = HttpReply("404 Not Found", "");
    // The user's own file of the name the site's title gives, and the icon of a site that has one.
    const QString Icons = FFolder->path() + QStringLiteral("/Icons/");
    QVERIFY(QDir().mkpath(Icons));
    Write(Icons + QStringLiteral("Shop.ico"), SampleIcon(0));
    Write(Icons + QStringLiteral("mine.ico"), SampleIcon(1));
    FForm.reset();
    WriteSites(FFolder->path(),
               {{"Shop", Server.Url("/").toUtf8()}, {"Own", Server.Url("/own").toUtf8(), 1, "mine"}});
    FForm = std::make_unique<TfMainForm>(FDesktop, FProfile, FFolder->path(), QList<QByteArray>());
    TKestrunSite *Shop = FForm->Sites[0];
    TKestrunSite *Own = FForm->Sites[1];

    // Our own fetch of the page's icon says who it is; the engine fetches it too, for itself.
    const auto Fetches = [&Server](const QByteArray &Path) {
        return std::count_if(
            Server.Requests.cbegin(), Server.Requests.cend(),
            [&Path](const QByteArray &Request) { return Request.startsWith("GET " + Path + " "); });
    };
    const auto OurFetches = [&Server](const QByteArray &Path) {
        return std::count_if(Server.Requests.cbegin(), Server.Requests.cend(),
                             [&Path](const QByteArray &Request) {
                                 return Request.startsWith("GET " + Path + " ") &&
                                        Request.contains("User-Agent: Microsoft Internet Explorer");
                             });
    };
    Select(1);
    FForm->tbRunClick();
    Select(0);
    FForm->tbRunClick();
    QTRY_COMPARE_WITH_TIMEOUT(Shop->IconName(), QByteArray("Shop (2)"), LoadTimeout);
    QCOMPARE(OurFetches("/shop.png"), 1);
    QCOMPARE(ReadFileBytes(Icons + QStringLiteral("Shop.ico")), SampleIcon(0));
    const QIcon Saved = DecodeIconFile(ReadFileBytes(Icons + QStringLiteral("Shop (2).ico")));
    QCOMPARE(Saved.pixmap(48, 48).toImage().pixelColor(24, 24), QColor(200, 30, 160));
    // Shown in the list, the tray and the window, and saved with the site.
    QCOMPARE(FForm->lvSites->topLevelItem(0)->icon(0).pixmap(16, 16).toImage().pixelColor(8, 8),
             QColor(200, 30, 160));
    QCOMPARE(qobject_cast<QAction *>(Shop->MenuItem())->icon().pixmap(16, 16).toImage().pixelColor(8, 8),
             QColor(200, 30, 160));
    TfBrowserWin *ShopWindow = nullptr;
    for (const TOpenBrowser &Record : std::as_const(FForm->OpenBrowsers))
        if (Record.Site == Shop)
            ShopWindow = WindowOf(Record);
    QVERIFY(ShopWindow);
    QCOMPARE(ShopWindow->windowIcon().pixmap(16, 16).toImage().pixelColor(8, 8), QColor(200, 30, 160));
    TKestrunCollection Stored;
    QCOMPARE(LoadSites(FFolder->path(), Stored).Status, TLoadSitesResult::Loaded);
    QCOMPARE(Stored[0]->IconName(), QByteArray("Shop (2)"));

    // The site with an icon file of its own keeps it; its page's icon is never fetched by us.
    QTRY_VERIFY_WITH_TIMEOUT(Fetches("/own.png") >= 1, LoadTimeout);
    QTest::qWait(500);
    QCOMPARE(OurFetches("/own.png"), 0);
    QCOMPARE(Own->IconName(), QByteArray("mine"));
    // Once saved, a reload fetches nothing more.
    ShopWindow->WebBrowser()->Refresh();
    QTRY_VERIFY_WITH_TIMEOUT(Fetches("/") >= 2, LoadTimeout);
    QTest::qWait(500);
    QCOMPARE(OurFetches("/shop.png"), 1);
    QCOMPARE(QDir(Icons).entryList(QDir::Files).size(), 3);
}

void TestMainRun::zoomKeptAcrossRuns()
{
    Select(0);
    FForm->tbRunClick();
    QPointer<TfBrowserWin> Window = WindowOf(FForm->OpenBrowsers[0]);
    QTRY_COMPARE_WITH_TIMEOUT(Window->windowTitle(),
                              QStringLiteral("Kestrune: ") + QString::fromUtf8(LongTitle), LoadTimeout);
    Window->PageTools()->StepZoom(1);
    Window->PageTools()->StepZoom(1);
    QCOMPARE(FForm->WatchOf(*FForm->Sites[0]).Zoom, 1.25);
    // Saved at once: a crash now loses nothing.
    const QList<TSiteWatchEntry> Saved = LoadSiteWatches(FFolder->path());
    QCOMPARE(Saved.size(), 1);
    QCOMPARE(Saved[0].Title, QByteArray("Alpha"));
    QCOMPARE(Saved[0].Watch.Zoom, 1.25);
    // The other site of the same name ignoring case keeps the page's own size.
    QCOMPARE(FForm->WatchOf(*FForm->Sites[2]).Zoom, 1.0);

    Window->Closewindow1()->trigger();
    FForm.reset();
    FForm = std::make_unique<TfMainForm>(FDesktop, FProfile, FFolder->path(), QList<QByteArray>());
    QCOMPARE(FForm->WatchOf(*FForm->Sites[0]).Zoom, 1.25);
    Select(0);
    FForm->tbRunClick();
    Window = WindowOf(FForm->OpenBrowsers[0]);
    QTRY_COMPARE_WITH_TIMEOUT(Window->windowTitle(),
                              QStringLiteral("Kestrune: ") + QString::fromUtf8(LongTitle), LoadTimeout);
    QCOMPARE(Window->PageTools()->Zoom(), 1.25);
    QTRY_COMPARE(Window->WebBrowser()->zoomFactor(), 1.25);
}

void TestMainRun::placementSavedWhileOpen()
{
    Select(0);
    FForm->tbRunClick();
    QPointer<TfBrowserWin> Window = WindowOf(FForm->OpenBrowsers[0]);
    Window->move(77, 66);
    Window->resize(520, 380);
    // On disk once the window has settled, while it is still open: a crash or a lost display keeps it.
    const auto StoredRect = [this] {
        TKestrunCollection Stored;
        LoadSites(FFolder->path(), Stored);
        return Stored.Count() > 0 ? Stored[0]->WindowRect() : TWindowRect();
    };
    QTRY_COMPARE_WITH_TIMEOUT(StoredRect(), (TWindowRect{77, 66, 597, 446}), 5000);
    QVERIFY(Window);
}

void TestMainRun::systemBrowserRoads()
{
    Select(1); // Beta runs in the system browser
    FForm->tbRunClick();
    QCOMPARE(FDesktop.TakeOpened(), QList<QByteArray>{"http://127.0.0.1:1/beta"});
    QVERIFY(FForm->OpenBrowsers.isEmpty());
    QVERIFY(FForm->sbStatusPanel0->text().isEmpty());

    Select(0); // Alpha has its own window, but "Open in default web browser" forces the system one
    FForm->miOpenDefault->trigger();
    FForm->miRunDefaultBrowser->trigger();
    const QByteArray Alpha = SiteAddress(PageWithTitle(LongTitle)).toEncoded();
    QCOMPARE(FDesktop.TakeOpened(), (QList<QByteArray>{Alpha, Alpha}));
    QVERIFY(FForm->OpenBrowsers.isEmpty());

    // Nothing selected: the commands do nothing.
    FForm->lvSites->setCurrentItem(nullptr);
    FForm->lvSites->clearSelection();
    FForm->tbRunClick();
    FForm->miRunDefaultBrowserClick();
    FForm->miClosewindowClick();
    QVERIFY(FDesktop.TakeOpened().isEmpty());
    QVERIFY(FForm->OpenBrowsers.isEmpty());

    // The user's own addresses go to the desktop whatever their scheme, and a bare host name is
    // taken as http; a page's links to other sites keep to http and https (the browser window's).
    FForm->Sites[1]->SetURL("www.example.org/start");
    Select(1);
    FForm->tbRunClick();
    FForm->Sites[1]->SetURL("mailto:someone@example.org");
    FForm->tbRunClick();
    QCOMPARE(FDesktop.TakeOpened(),
             (QList<QByteArray>{"http://www.example.org/start", "mailto:someone@example.org"}));
}

// A link handed over by a later start: its boxes and the system browser come before the later
// start has its answer; the site's own window is made right after, from the event loop, unless
// the program has ended meanwhile.
void TestMainRun::handedOverLinkAnswersBeforeItsWindowIsMade()
{
    constexpr auto AfterAnswer = TfMainForm::TWindowFor::AfterAnswer;
    FForm->OpenLink(EncodeLinkParameter(*FForm->Sites[0], false), AfterAnswer);
    QVERIFY(FForm->OpenBrowsers.isEmpty());
    QTRY_COMPARE(FForm->OpenBrowsers.size(), 1);
    QCOMPARE(FForm->OpenBrowsers[0].Site, FForm->Sites[0]);
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());

    FForm->OpenLink(EncodeLinkParameter(*FForm->Sites[1], false), AfterAnswer);
    QCOMPARE(FDesktop.TakeOpened(), QList<QByteArray>{"http://127.0.0.1:1/beta"});

    // The notice of a changed address is a box: shown before the answer, the window after it.
    TKestrunSite Moved;
    Moved.SetTitle("Alpha");
    Moved.SetURL("http://elsewhere/");
    FForm->OpenLink(EncodeLinkParameter(Moved, false), AfterAnswer);
    QCOMPARE(MessageBoxTest::TakeRecords().size(), 1);
    QCOMPARE(FForm->OpenBrowsers.size(), 1);
    QTRY_COMPARE(FForm->OpenBrowsers.size(), 2);

    // The program ends before the window was made: it is never made.
    while (!FForm->OpenBrowsers.isEmpty())
        WindowOf(FForm->OpenBrowsers[0])->Closewindow1()->trigger();
    FForm->OpenLink(EncodeLinkParameter(*FForm->Sites[0], false), AfterAnswer);
    FForm->QuitWithoutQuestions();
    QVERIFY(FForm->Closed());
    QTest::qWait(100);
    for (QWidget *Window : QApplication::topLevelWidgets())
        QVERIFY(!qobject_cast<TfBrowserWin *>(Window) || !Window->isVisible());
    QVERIFY(FDesktop.TakeOpened().isEmpty());
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
}

void TestMainRun::siteAddress_data()
{
    QTest::addColumn<QByteArray>("Given");
    QTest::addColumn<QByteArray>("Opened"); // empty: nothing is opened
    QTest::newRow("https as it is") << QByteArray(" https://example.org/a?b=1 ")
                                    << QByteArray("https://example.org/a?b=1");
    QTest::newRow("no scheme") << QByteArray("www.example.org") << QByteArray("http://www.example.org");
    QTest::newRow("host and port") << QByteArray("localhost:8080/app")
                                   << QByteArray("http://localhost:8080/app");
    QTest::newRow("mail") << QByteArray("mailto:a@example.org") << QByteArray("mailto:a@example.org");
    QTest::newRow("ftp") << QByteArray("ftp://files.example.org/") << QByteArray("ftp://files.example.org/");
    QTest::newRow("empty") << QByteArray("  ") << QByteArray();
}

void TestMainRun::siteAddress()
{
    QFETCH(QByteArray, Given);
    QFETCH(QByteArray, Opened);
    const QUrl Url = SiteAddress(Given);
    QCOMPARE(Url.isValid(), !Opened.isEmpty());
    if (Url.isValid())
        QCOMPARE(Url.toEncoded(), Opened);
}

void TestMainRun::trayEntriesOpenTheirOwnSiteAndWindow()
{
    // "Alpha" and "ALPHA" differ in letter case only: each entry runs its own site.
    TKestrunSite *Second = FForm->Sites[2];
    FForm->TraySiteClick(qobject_cast<QAction *>(Second->MenuItem()));
    QCOMPARE(FForm->OpenBrowsers.size(), 1);
    QCOMPARE(FForm->OpenBrowsers[0].Site, Second);
    FForm->TraySiteClick(qobject_cast<QAction *>(FForm->Sites[0]->MenuItem()));
    QCOMPARE(FForm->OpenBrowsers.size(), 2);
    QCOMPARE(FForm->OpenBrowsers[1].Site, FForm->Sites[0]);

    // Each open-window entry shows its own window.
    TfBrowserWin *First = WindowOf(FForm->OpenBrowsers[0]);
    TfBrowserWin *Later = WindowOf(FForm->OpenBrowsers[1]);
    QTRY_VERIFY_WITH_TIMEOUT(FForm->OpenBrowsers[0].MenuItem->text().startsWith(QStringLiteral("ALPHA (")),
                             LoadTimeout);
    First->hide();
    Later->hide();
    FForm->OpenBrowsers[1].MenuItem->trigger();
    QVERIFY(Later->isVisible());
    QVERIFY(!First->isVisible());
    FForm->OpenBrowsers[0].MenuItem->trigger();
    QVERIFY(First->isVisible());

    // A minimised start of a taskbar site.
    FForm->RunSite(FForm->Sites[0], true);
    QCOMPARE(FForm->OpenBrowsers.size(), 3);
    QVERIFY(WindowOf(FForm->OpenBrowsers[2])->isMinimized());
}

QTEST_MAIN(TestMainRun)
void TestMainRun::asRootWithoutSandboxSiteWindowsAreRefused()
{
    // The engine ends the whole process when asked for a page as root with its sandbox on.
    const QByteArray Sandbox = qgetenv("QTWEBENGINE_DISABLE_SANDBOX");
    qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");
    auto Restore = qScopeGuard([&Sandbox] {
        if (!Sandbox.isNull())
            qputenv("QTWEBENGINE_DISABLE_SANDBOX", Sandbox);
    });
    FDesktop.AsRoot = true;
    auto NotRoot = qScopeGuard([this] { FDesktop.AsRoot = false; });

    FForm->RunSite(FForm->Sites[0], false);
    const QList<MessageBoxTest::TRecord> Boxes = MessageBoxTest::TakeRecords();
    QCOMPARE(Boxes.size(), 1);
    QCOMPARE(Boxes[0].Kind, TMsgKind::Error);
    QVERIFY2(Boxes[0].Text.contains(QStringLiteral("\"Alpha\"")) &&
                 Boxes[0].Text.contains(QStringLiteral("root")) &&
                 Boxes[0].Text.contains(QStringLiteral("as your own user")),
             qPrintable(Boxes[0].Text));
    QVERIFY(FForm->OpenBrowsers.isEmpty());
    QCOMPARE(FForm->Sites[0]->IsOpen(), quint8(0));

    // Once is enough: later tries stay quiet, the program goes on, and sites for the default
    // browser still open.
    FForm->RunSite(FForm->Sites[2], false);
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
    QVERIFY(FForm->OpenBrowsers.isEmpty());
    FForm->RunSite(FForm->Sites[1], false);
    QCOMPARE(FDesktop.TakeOpened(), QList<QByteArray>{"http://127.0.0.1:1/beta"});
    QVERIFY(!FForm->Closed());

    // With the sandbox turned off, as root is fine.
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    FForm->RunSite(FForm->Sites[0], false);
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
    QCOMPARE(FForm->OpenBrowsers.size(), 1);
}

#include "tst_mainrun.moc"
