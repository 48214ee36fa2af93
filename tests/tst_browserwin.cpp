#include "BrowserWin.h"
#include "FindBar.h"
#include "KestruneClasses.h"
#include "PageTools.h"
#include "RunTexts.h"
#include "TestDesktopServices.h"
#include "platform/EmbeddedWB.h"
#include "platform/MessageBoxes.h"
#include "platform/WebProfile.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QRandomGenerator>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QToolButton>
#include <QWebEngineHistory>
#include <QWebEngineProfile>
#include <QtTest>

#include <csignal>
#include <memory>

Q_DECLARE_METATYPE(TWindowRect)

namespace {

// A small HTTP server on 127.0.0.1. Each path answers as its entry says; every request is counted.
class TTestServer : public QObject
{
public:
    struct TPage
    {
        int Status = 200;
        QByteArray Body;
        bool Counter = false; // the body gets the request number: a page that changes on every load
        bool Hang = false;    // never answers
        QByteArray Headers = "Content-Type: text/html; charset=utf-8\r\n";
    };

    QHash<QByteArray, TPage> Pages;
    QList<QByteArray> Requests;
    QHash<QByteArray, QByteArray> Cookies; // the Cookie header of the last request of each path

    TTestServer() { QVERIFY2(FServer.listen(QHostAddress::LocalHost), "cannot listen on 127.0.0.1"); }

    QByteArray Url(const QByteArray &Path) const
    {
        return "http://127.0.0.1:" + QByteArray::number(FServer.serverPort()) + Path;
    }
    void Start()
    {
        connect(&FServer, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *Socket = FServer.nextPendingConnection()) {
                Socket->setParent(this);
                connect(Socket, &QTcpSocket::readyRead, this, [this, Socket] { Serve(Socket); });
            }
        });
    }

private:
    void Serve(QTcpSocket *Socket)
    {
        FBuffers[Socket] += Socket->readAll();
        if (!FBuffers[Socket].contains("\r\n\r\n"))
            return;
        const QByteArray Buffer = FBuffers.take(Socket);
        const QList<QByteArray> Line = Buffer.left(Buffer.indexOf("\r\n")).split(' ');
        const QByteArray Path = Line.value(1);
        for (const QByteArray &Header : Buffer.split('\n'))
            if (Header.toLower().startsWith("cookie:"))
                Cookies[Path] = Header.mid(7).trimmed();
        if (Path == "/favicon.ico") {
            Reply(Socket, 404, "no icon");
            return;
        }
        Requests.append(Path);
        const auto Found = Pages.constFind(Path);
        if (Found == Pages.constEnd()) {
            Reply(Socket, 404, "<html><head><title>Missing</title></head><body>missing</body></html>");
            return;
        }
        if (Found->Hang)
            return;
        QByteArray Body = Found->Body;
        if (Found->Counter)
            Body.replace("COUNTER", QByteArray::number(Requests.size()));
        Reply(Socket, Found->Status, Body, Found->Headers);
    }
    static void Reply(QTcpSocket *Socket, int Status, const QByteArray &Body,
                      const QByteArray &Headers = "Content-Type: text/html; charset=utf-8\r\n")
    {
        Socket->write("HTTP/1.1 " + QByteArray::number(Status) + " X\r\n" + Headers +
                      "Cache-Control: no-store\r\nConnection: close\r\nContent-Length: " +
                      QByteArray::number(Body.size()) + "\r\n\r\n" + Body);
        Socket->disconnectFromHost();
    }

    QTcpServer FServer;
    QHash<QTcpSocket *, QByteArray> FBuffers;
};

// Records every event a window raises.
struct TEvents
{
    int Opened = 0;
    int Closed = 0;
    int Changed = 0;
    int RequestsWhenOpened = -1;
    QStringList Titles;
    QStringList Traces;

    void Bind(TfBrowserWin *Window, const TTestServer *Server = nullptr)
    {
        Window->SetOnBrowserOpened([this, Server](TKestrunSite *, TfBrowserWin *) {
            ++Opened;
            RequestsWhenOpened = Server ? int(Server->Requests.size()) : -1;
        });
        Window->SetOnBrowserClosed([this](TKestrunSite *, TfBrowserWin *) { ++Closed; });
        Window->SetOnTitleChanged(
            [this](TKestrunSite *, TfBrowserWin *, const QString &Title) { Titles << Title; });
        Window->SetOnContentChanged([this](TKestrunSite *, TfBrowserWin *) { ++Changed; });
        Window->SetOnTrace([this](TfBrowserWin *, const QString &Text) { Traces << Text; });
    }
    int Count(const QString &Part) const { return int(Traces.filter(Part).size()); }
};

std::unique_ptr<TKestrunSite> MakeSite(const QByteArray &Url, quint8 MinimizeToTaskbar = 1,
                                       bool Monitor = false)
{
    auto Site = std::make_unique<TKestrunSite>();
    Site->SetTitle("Test site");
    Site->SetURL(Url);
    Site->SetMinimizeToTaskbar(MinimizeToTaskbar);
    Site->SetMonitorChanges(Monitor ? 1 : 0);
    Site->SetWindowState(0);
    Site->SetWindowRect({40, 50, 540, 450});
    return Site;
}

// Records the keys that reach it.
class TKeyRecorder : public QWidget
{
public:
    QStringList Keys;

protected:
    void keyPressEvent(QKeyEvent *Event) override
    {
        if (Event->key() != Qt::Key_Control && Event->key() != Qt::Key_Shift)
            Keys << QKeySequence(Event->keyCombination()).toString();
    }
};

constexpr int LoadTimeout = 30000;

// The page's answer to a script, waited for (bounded); invalid when none came.
QVariant Evaluate(QWebEnginePage *Page, const QString &Script)
{
    QVariant Result;
    bool Answered = false;
    Page->runJavaScript(Script, [&Result, &Answered](const QVariant &Value) {
        Result = Value;
        Answered = true;
    });
    if (!QTest::qWaitFor([&Answered] { return Answered; }, LoadTimeout))
        return QVariant();
    return Result;
}

} // namespace

class TestBrowserWin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void firstShowOpensThenTitleReachesCaptionTrayAndMenu();
    void nextWindowTakesThePageMadeAhead();
    void closeRoadStoresPlacement_data();
    void closeRoadStoresPlacement();
    void placementStoredOnceSettled_data();
    void placementStoredOnceSettled();
    void unusableStoredBounds_data();
    void unusableStoredBounds();
    void closeBoxAndHideToTray_data();
    void closeBoxAndHideToTray();
    void minimisedWindowComesBackMaximised();
    void uniqueNames();
    void ctrlNSwallowedWhileBrowserWindowExists();
    void monitorReportsChanges_data();
    void monitorReportsChanges();
    void compareModes_data();
    void compareModes();
    void failedLoadsCompleteAPass_data();
    void failedLoadsCompleteAPass();
    void stalledRefreshEndsWithUserNavigation();
    void windowDestroyedWhileSourcePending();
    void pageProcessDiesWhileSourcePending();
    void historyAndReloadKeys();
    void fullScreenAndBack();
    void findInPage();
    void zoomKeysWheelAndReload();
    void printThroughTheDialog();
    void newWindowRequests();
    void downloadSavedUnderAFreeName();
    void loginSurvivesRestart();
    void permissionAskedOncePerProfileAndNotificationShown();
    void routeNewWindow_data();
    void routeNewWindow();
    void uniqueDownloadName();

private:
    QPointer<TfBrowserWin> Open(TKestrunSite *Site, TEvents &Events, const TTestServer *Server = nullptr,
                                bool Fast = false)
    {
        auto *Window = new TfBrowserWin(&FOwner, QString(), Site, FDesktop, FProfile);
        Events.Bind(Window, Server);
        if (Fast)
            Window->Monitor().SetTimingForTests(50, {400, 400, 400});
        Window->ShowBrowserWindow();
        return Window;
    }

    TTestDesktopServices FDesktop;
    TWebProfile FProfile;
    // The windows go with it, before their profile.
    QObject FOwner;
};

void TestBrowserWin::initTestCase()
{
    MessageBoxTest::Enable();
}

void TestBrowserWin::cleanup()
{
    FDesktop.TrayAvailable = std::nullopt;
    FDesktop.PositionsKnown = std::nullopt;
    QList<QPointer<QWidget>> Windows;
    for (QWidget *Window : QApplication::topLevelWidgets())
        if (qobject_cast<TfBrowserWin *>(Window) || qobject_cast<TfBrowserPopup *>(Window))
            Windows << Window;
    for (const QPointer<QWidget> &Window : Windows)
        delete Window.data();
}

void TestBrowserWin::firstShowOpensThenTitleReachesCaptionTrayAndMenu()
{
    TTestServer Server;
    Server.Pages["/"] = {200, "<html><head><title>Hello &amp; welcome</title></head><body>hi</body></html>"};
    Server.Start();
    const auto Site = MakeSite(Server.Url("/"));
    TEvents Events;

    auto *Window = new TfBrowserWin(&FOwner, QStringLiteral("/nonexistent/Icons/web.ico"), Site.get(),
                                    FDesktop, FProfile);
    Events.Bind(Window, &Server);
    QCOMPARE(Site->IsOpen(), quint8(1));
    QCOMPARE(Window->windowTitle(), QStringLiteral("Kestrune: openning site... "));
    QVERIFY(!Window->windowIcon().isNull()); // a missing icon file leaves the program's icon
    QCOMPARE(Events.Opened, 0);

    Window->ShowBrowserWindow();
    QCOMPARE(Events.Opened, 1);
    QCOMPARE(Events.RequestsWhenOpened, 0);
    QCOMPARE(Events.Traces.value(0),
             QStringLiteral("Start navigate \"") + QString::fromUtf8(Server.Url("/")) + QLatin1Char('"'));
    QCOMPARE(Window->pos(), QPoint(40, 50));
    QCOMPARE(Window->size(), QSize(500, 400));

    QTRY_COMPARE_WITH_TIMEOUT(Window->windowTitle(), QStringLiteral("Kestrune: Hello & welcome"),
                              LoadTimeout);
    QCOMPARE(Events.Titles.last(), QStringLiteral("Hello & welcome"));
    QCOMPARE(Window->BrowserTrayIcon()->toolTip(), QStringLiteral("Kestrune: Hello & welcome"));
    QCOMPARE(Window->miShowBrowserWin()->text(), QStringLiteral("Show Hello && welcome"));
    QVERIFY(!Window->BrowserTrayIcon()->isVisible());

    // A second show does not navigate again.
    Window->hide();
    Window->ShowBrowserWindow();
    QCOMPARE(Events.Opened, 1);
    QCOMPARE(Server.Requests, QList<QByteArray>{"/"});

    // The status bar shows what the page's control reports, a download's progress included.
    emit Window->WebBrowser()->StatusMessage(QStringLiteral("http://127.0.0.1/next"));
    QCOMPARE(Window->StatusBar()->currentMessage(), QStringLiteral("http://127.0.0.1/next"));
}

// Once a site window has loaded, the profile starts the next window's page and its renderer
// process ahead. The next window takes it, for a site of its own: that process is then locked to
// the new site, apart from the first window's, and the empty first document leaves no history.
// Once the last window has gone, so has the page made ahead.
void TestBrowserWin::nextWindowTakesThePageMadeAhead()
{
    TTestServer Server;
    Server.Pages["/"] = {200, "<html><head><title>First</title></head><body>first</body></html>"};
    Server.Pages["/next"] = {200, "<html><head><title>Next</title></head><body>next</body></html>"};
    Server.Start();
    QVERIFY(!FProfile.HasSparePage());
    const auto First = MakeSite(Server.Url("/"));
    // Another host name is another site.
    const auto Next = MakeSite(Server.Url("/next").replace("127.0.0.1", "localhost"));
    TEvents Events;

    QPointer<TfBrowserWin> FirstWindow = Open(First.get(), Events, &Server);
    QTRY_COMPARE_WITH_TIMEOUT(FirstWindow->windowTitle(), QStringLiteral("Kestrune: First"), LoadTimeout);
    const qint64 FirstProcess = FirstWindow->WebBrowser()->page()->renderProcessPid();
    QVERIFY(FirstProcess > 0);
    QTRY_VERIFY_WITH_TIMEOUT(FProfile.HasSparePage(), LoadTimeout);

    auto *NextWindow = new TfBrowserWin(&FOwner, QString(), Next.get(), FDesktop, FProfile);
    QVERIFY(!FProfile.HasSparePage());
    QWebEnginePage *Page = NextWindow->WebBrowser()->page();
    QTRY_VERIFY_WITH_TIMEOUT(Page->renderProcessPid() > 0, LoadTimeout); // started before any load
    const qint64 Prepared = Page->renderProcessPid();
    QVERIFY(Prepared != FirstProcess);
    Events.Bind(NextWindow, &Server);
    NextWindow->ShowBrowserWindow();
    QTRY_COMPARE_WITH_TIMEOUT(NextWindow->windowTitle(), QStringLiteral("Kestrune: Next"), LoadTimeout);
    QCOMPARE(Page->renderProcessPid(), Prepared);
    QCOMPARE(Page->url(), QUrl(QString::fromLatin1(Next->URL())));
    QCOMPARE(Page->history()->count(), 1);
    QVERIFY(!Page->history()->canGoBack());
    QCOMPARE(FirstWindow->WebBrowser()->page()->renderProcessPid(), FirstProcess);
    QCOMPARE(Server.Requests, (QList<QByteArray>{"/", "/next"}));

    // And the page after it is made ahead in turn.
    QTRY_VERIFY_WITH_TIMEOUT(FProfile.HasSparePage(), LoadTimeout);

    delete FirstWindow.data();
    QVERIFY(FProfile.HasSparePage());
    delete NextWindow;
    QVERIFY(!FProfile.HasSparePage());
    QTest::qWait(2 * TWebProfile::SparePageDelay);
    QVERIFY(!FProfile.HasSparePage());
}

void TestBrowserWin::closeRoadStoresPlacement_data()
{
    QTest::addColumn<bool>("maximised");
    QTest::addColumn<int>("storedState");
    QTest::newRow("normal window stores its bounds") << false << 0;
    QTest::newRow("maximised window stores state 2 and keeps the old bounds") << true << 2;
}

void TestBrowserWin::closeRoadStoresPlacement()
{
    QFETCH(bool, maximised);
    QFETCH(int, storedState);
    const auto Site = MakeSite("about:blank");
    TEvents Events;
    QPointer<TfBrowserWin> Window = Open(Site.get(), Events);
    if (maximised) {
        Window->showMaximized();
    } else {
        Window->move(70, 80);
        Window->resize(300, 200);
    }
    Window->Closewindow1Click();
    QCOMPARE(Events.Closed, 1);
    QCOMPARE(int(Site->WindowState()), storedState);
    const TWindowRect Expected = maximised ? TWindowRect{40, 50, 540, 450} : TWindowRect{70, 80, 370, 280};
    QCOMPARE(Site->WindowRect(), Expected);
    QCOMPARE(Site->IsOpen(), quint8(0));
    QTRY_VERIFY(!Window);

    // A maximised site opens maximised, its stored bounds underneath: un-maximising gives them back.
    Site->SetWindowState(2);
    Window = Open(Site.get(), Events);
    QVERIFY(Window->isMaximized());
    QCOMPARE(Window->normalGeometry().size(),
             QSize(Expected.Right - Expected.Left, Expected.Bottom - Expected.Top));
}

void TestBrowserWin::placementStoredOnceSettled_data()
{
    QTest::addColumn<bool>("PositionKnown");
    QTest::addColumn<TWindowRect>("Kept");
    QTest::newRow("X11: where the window is") << true << TWindowRect{120, 130, 720, 550};
    // A Wayland client cannot know where its window is: its size only.
    QTest::newRow("Wayland: the size") << false << TWindowRect{40, 50, 640, 470};
}

void TestBrowserWin::placementStoredOnceSettled()
{
    QFETCH(bool, PositionKnown);
    QFETCH(TWindowRect, Kept);
    FDesktop.PositionsKnown = PositionKnown;
    const auto Site = MakeSite("about:blank");
    TEvents Events;
    QPointer<TfBrowserWin> Window = Open(Site.get(), Events);
    int Told = 0;
    Window->SetOnPlacementChanged([&Told](TKestrunSite *, TfBrowserWin *) { ++Told; });
    QTest::qWait(TfBrowserWin::PlacementSettleTime + 300);
    QCOMPARE(Told, 0); // opening where it was stored changes nothing

    // A drag is many moves: stored once, after the window has settled, without closing it.
    for (int Step = 0; Step <= 8; ++Step) {
        Window->move(40 + Step * 10, 50 + Step * 10);
        QTest::qWait(20);
    }
    Window->resize(600, 420);
    QCOMPARE(Told, 0);
    QCOMPARE(Site->WindowRect(), (TWindowRect{40, 50, 540, 450}));
    QTRY_COMPARE_WITH_TIMEOUT(Told, 1, 5000);
    QCOMPARE(Site->WindowRect(), Kept);
    QCOMPARE(int(Site->WindowState()), 0);
    QCOMPARE(Site->IsOpen(), quint8(1));

    // Hidden or minimised, the window is passing through: nothing is stored.
    Window->hide();
    Window->resize(300, 200);
    QTest::qWait(TfBrowserWin::PlacementSettleTime + 300);
    QCOMPARE(Told, 1);
    QCOMPARE(Site->WindowRect(), Kept);
    FDesktop.PositionsKnown = std::nullopt;
}

void TestBrowserWin::unusableStoredBounds_data()
{
    QTest::addColumn<TWindowRect>("stored");
    QTest::addColumn<QSize>("size"); // empty: a good part of the screen, centred on it
    QTest::newRow("never placed: all zero") << TWindowRect{0, 0, 0, 0} << QSize();
    QTest::newRow("right of its left edge") << TWindowRect{300, 200, 100, 400} << QSize();
    QTest::newRow("far off every screen") << TWindowRect{-90000, -90000, -89500, -89600} << QSize(500, 400);
}

void TestBrowserWin::unusableStoredBounds()
{
    // A rectangle that cannot be a window, or lies where no screen is, would leave the window out of reach.
    QFETCH(TWindowRect, stored);
    QFETCH(QSize, size);
    const auto Site = MakeSite("about:blank");
    Site->SetWindowRect(stored);
    TEvents Events;
    QPointer<TfBrowserWin> Window = Open(Site.get(), Events);
    QVERIFY(Window->screen()->availableVirtualGeometry().intersects(Window->geometry()));
    if (!size.isEmpty()) {
        QCOMPARE(Window->size(), size);
        return;
    }
    const QRect Area = Window->screen()->availableGeometry();
    QVERIFY(Window->width() >= Area.width() / 2 && Window->height() >= Area.height() / 2);
    QVERIFY(Area.contains(Window->geometry()));
    QVERIFY((Window->frameGeometry().center() - Area.center()).manhattanLength() <= 40);
}

void TestBrowserWin::closeBoxAndHideToTray_data()
{
    QTest::addColumn<int>("minimizeToTaskbar");
    QTest::addColumn<bool>("tray");
    QTest::addColumn<bool>("closeBoxCloses");
    QTest::addColumn<bool>("iconAtStart");

    QTest::newRow("tray-icon site with a tray: the close box hides") << 0 << true << false << true;
    // Otherwise the window could never be closed from itself.
    QTest::newRow("tray-icon site without a tray: the close box closes") << 0 << false << true << true;
    QTest::newRow("taskbar site: the close box closes") << 1 << true << true << false;
}

void TestBrowserWin::closeBoxAndHideToTray()
{
    QFETCH(int, minimizeToTaskbar);
    QFETCH(bool, tray);
    QFETCH(bool, closeBoxCloses);
    QFETCH(bool, iconAtStart);
    FDesktop.TrayAvailable = tray;
    const auto Site = MakeSite("about:blank", quint8(minimizeToTaskbar));
    TEvents Events;
    QPointer<TfBrowserWin> Window = Open(Site.get(), Events);
    QCOMPARE(Window->BrowserTrayIcon()->isVisible(), iconAtStart);

    // "Hide to tray" from the page's context menu or its key, for any site.
    Window->HideToTrayAction()->trigger();
    QCOMPARE(Window->isVisible(), !tray);
    QCOMPARE(Window->isMinimized(), !tray);
    if (tray)
        QVERIFY(Window->BrowserTrayIcon()->isVisible());
    Window->miShowBrowserWinClick();
    QVERIFY(Window->isVisible());
    QCOMPARE(Window->BrowserTrayIcon()->isVisible(), iconAtStart); // a taskbar site loses the icon again

    Window->showNormal();
    Window->close();
    if (closeBoxCloses) {
        QCOMPARE(Events.Closed, 1);
        QTRY_VERIFY(!Window);
        return;
    }
    QCOMPARE(Events.Closed, 0);
    QVERIFY(Window);
    QCOMPARE(Window->isVisible(), !tray);
    QCOMPARE(Window->isMinimized(), !tray);
    QCOMPARE(Site->IsOpen(), quint8(1));

    // Only "Close window" of the tray menu ends a tray-icon site's window.
    Window->Closewindow1()->trigger();
    QCOMPARE(Events.Closed, 1);
    QCOMPARE(Site->IsOpen(), quint8(0));
    QTRY_VERIFY(!Window);
}

void TestBrowserWin::minimisedWindowComesBackMaximised()
{
    const auto Site = MakeSite("about:blank");
    TEvents Events;
    QPointer<TfBrowserWin> Window = Open(Site.get(), Events);
    Window->MinimizeOrHide(); // a taskbar site: minimised
    QVERIFY(Window->isMinimized());
    Window->BrowserTrayIconClick();
    QVERIFY(Window->isMaximized());
    QVERIFY(!Window->isMinimized());
}

void TestBrowserWin::uniqueNames()
{
    const auto Site = MakeSite("about:blank");
    auto Make = [&] { return new TfBrowserWin(&FOwner, QString(), Site.get(), FDesktop, FProfile); };
    auto Number = [](TfBrowserWin *Window) {
        return Window->objectName().mid(TfBrowserWin::NamePrefix.size()).toInt();
    };
    TfBrowserWin *One = Make();
    TfBrowserWin *Two = Make();
    TfBrowserWin *Three = Make();
    QCOMPARE(One->objectName(), QStringLiteral("fKestruneBrowserWindow_1"));
    QCOMPARE(Number(Three), 3);
    delete Two;
    TfBrowserWin *Four = Make();
    QCOMPARE(Number(Four), 4); // 1 and 3 open: the next is 4
    delete Four;
    TfBrowserWin *Again = Make();
    QCOMPARE(Number(Again), 4); // the highest closed: its number is given out anew
    delete One;
    delete Three;
    delete Again;
    QCOMPARE(Number(Make()), 1);
}

void TestBrowserWin::ctrlNSwallowedWhileBrowserWindowExists()
{
    TKeyRecorder Recorder;
    int ShortcutFired = 0;
    auto *Shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_N), &Recorder);
    connect(Shortcut, &QShortcut::activated, this, [&] { ++ShortcutFired; });
    Recorder.show();
    QVERIFY(QTest::qWaitForWindowActive(&Recorder));

    const auto Site = MakeSite("about:blank");
    auto *Window = new TfBrowserWin(&FOwner, QString(), Site.get(), FDesktop, FProfile);
    auto *Other = new TfBrowserWin(&FOwner, QString(), Site.get(), FDesktop, FProfile);
    // The keys that reach the recorder of Ctrl+N, Ctrl+Shift+N and N.
    auto Press = [&] {
        Recorder.Keys.clear();
        QTest::keyClick(&Recorder, Qt::Key_N, Qt::ControlModifier);
        QTest::keyClick(&Recorder, Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
        QTest::keyClick(&Recorder, Qt::Key_N);
        return Recorder.Keys;
    };
    QCOMPARE(Press(), QStringList{QStringLiteral("N")});
    QCOMPARE(ShortcutFired, 0);
    // One of two windows gone: the other still holds the keys.
    delete Window;
    QCOMPARE(Press(), QStringList{QStringLiteral("N")});
    QCOMPARE(ShortcutFired, 0);

    delete Other;
    Recorder.Keys.clear();
    QTest::keyClick(&Recorder, Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(&Recorder, Qt::Key_N, Qt::ControlModifier);
    QCOMPARE(Recorder.Keys, QStringList{QStringLiteral("Ctrl+Shift+N")});
    QCOMPARE(ShortcutFired, 1);
}

void TestBrowserWin::monitorReportsChanges_data()
{
    QTest::addColumn<bool>("changing");
    QTest::addColumn<int>("minimizeToTaskbar");
    QTest::addColumn<int>("events");
    QTest::addColumn<int>("balloons");

    QTest::newRow("page that never changes shows nothing") << false << 1 << 0 << 0;
    QTest::newRow("changing page, no tray icon: OnContentChanged") << true << 1 << 2 << 0;
    QTest::newRow("changing page with the tray icon: the balloon only") << true << 0 << 0 << 2;
}

void TestBrowserWin::monitorReportsChanges()
{
    QFETCH(bool, changing);
    QFETCH(int, minimizeToTaskbar);
    QFETCH(int, events);
    QFETCH(int, balloons);
    FDesktop.TrayAvailable = true;
    TTestServer Server;
    TTestServer::TPage Page{200, "<html><head><title>Clock</title></head><body>tick COUNTER</body></html>"};
    Page.Counter = changing;
    Server.Pages["/"] = Page;
    Server.Start();
    const auto Site = MakeSite(Server.Url("/"), quint8(minimizeToTaskbar), true);
    TEvents Events;
    QPointer<TfBrowserWin> Window = Open(Site.get(), Events, &Server, true);
    QStringList Balloons;
    connect(Window, &TfBrowserWin::BalloonShown, this,
            [&](const QString &Title, const QString &Text) { Balloons << Title << Text; });

    QTRY_VERIFY_WITH_TIMEOUT(Events.Count(QStringLiteral(" <-> ")) >= 2, LoadTimeout);
    const QStringList Checks = Events.Traces.filter(QStringLiteral(" <-> ")).mid(0, 2);
    QCOMPARE(Events.Changed, events);
    QCOMPARE(Balloons.size() / 2, balloons);
    if (balloons) {
        QCOMPARE(Balloons.value(0), QStringLiteral("Test site has changed!"));
        QCOMPARE(Balloons.value(1),
                 QStringLiteral("The content of site \"Test site\" has been changed. Take a look at them."));
    }
    for (const QString &Check : Checks) {
        const QStringList Sides = Check.split(QStringLiteral(" <-> "));
        QCOMPARE(Sides.value(0) == Sides.value(1), !changing);
        QVERIFY(Sides.value(1) != QStringLiteral("0"));
    }
    QVERIFY(Events.Count(QStringLiteral("Refreshing...")) >= 2);
    QVERIFY(Server.Requests.size() >= 3);
}

// What the monitor compares: the page's source, or the text a reader sees (with its same-origin
// frames, white space made one), or only the text of one element.
void TestBrowserWin::compareModes_data()
{
    QTest::addColumn<bool>("text");
    QTest::addColumn<QString>("selector");
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QByteArray>("frame"); // the body of /frame; COUNTER changes at every load
    QTest::addColumn<bool>("reported");

    const QByteArray Token = "<script>var token = 'COUNTER';</script><p>Same   text</p>";
    const QByteArray Framed = "<p>Outside</p><iframe src=\"/frame\"></iframe>";
    const QByteArray Ticking = "<p>tick COUNTER</p>";
    const QByteArray Parts = "<div id=\"fixed\">fixed</div><div id=\"moving\">COUNTER</div>";
    const QByteArray Markup = "<p class=\"cCOUNTER\">Hello\n   <b>world</b></p>";
    QTest::newRow("token in a script, source: reported")
        << false << QString() << Token << QByteArray() << true;
    QTest::newRow("token in a script, visible text: quiet")
        << true << QString() << Token << QByteArray() << false;
    QTest::newRow("change in a frame, source: not seen") << false << QString() << Framed << Ticking << false;
    QTest::newRow("change in a frame, visible text: reported")
        << true << QString() << Framed << Ticking << true;
    QTest::newRow("selector beside the change: quiet")
        << true << QStringLiteral("#fixed") << Parts << QByteArray() << false;
    QTest::newRow("selector on the change: reported")
        << true << QStringLiteral("#moving") << Parts << QByteArray() << true;
    QTest::newRow("selector met in the page before its frames: quiet")
        << true << QStringLiteral("p:not(:empty)") << Framed << Ticking << false;
    QTest::newRow("selector that finds nothing: quiet")
        << true << QStringLiteral("#none") << Parts << QByteArray() << false;
    QTest::newRow("selector that is none: quiet")
        << true << QStringLiteral("]'); alert(1); ('") << Parts << QByteArray() << false;
    QTest::newRow("markup changes, visible text: quiet")
        << true << QString() << Markup << QByteArray() << false;
    QTest::newRow("markup changes, source: reported") << false << QString() << Markup << QByteArray() << true;
}

void TestBrowserWin::compareModes()
{
    QFETCH(bool, text);
    QFETCH(QString, selector);
    QFETCH(QByteArray, page);
    QFETCH(QByteArray, frame);
    QFETCH(bool, reported);
    TTestServer Server;
    TTestServer::TPage Main{200, "<html><head><title>Watched</title></head><body>" + page + "</body></html>"};
    Main.Counter = true;
    Server.Pages["/"] = Main;
    TTestServer::TPage Frame{200, "<html><body>" + frame + "</body></html>"};
    Frame.Counter = true;
    Server.Pages["/frame"] = Frame;
    Server.Start();
    const auto Site = MakeSite(Server.Url("/"), 1, true);
    TEvents Events;
    auto *Window = new TfBrowserWin(&FOwner, QString(), Site.get(), FDesktop, FProfile);
    Events.Bind(Window, &Server);
    Window->Monitor().SetTimingForTests(50, {400, 400, 400});
    TSiteWatch Watch;
    Watch.Compare = text ? TCompareMode::VisibleText : TCompareMode::Source;
    Watch.Selector = selector;
    Window->SetWatch(Watch);
    Window->ShowBrowserWindow();

    QTRY_VERIFY_WITH_TIMEOUT(Events.Count(QStringLiteral(" <-> ")) >= 2, LoadTimeout);
    QCOMPARE(Events.Changed > 0, reported);
    // A reading was taken each time (a page that gives none would never report anything).
    QCOMPARE(Events.Count(QStringLiteral("No page source")), 0);
}

void TestBrowserWin::failedLoadsCompleteAPass_data()
{
    QTest::addColumn<bool>("refused");
    QTest::newRow("missing page (404)") << false;
    QTest::newRow("connection refused") << true;
}

void TestBrowserWin::failedLoadsCompleteAPass()
{
    QFETCH(bool, refused);
    QByteArray Url;
    std::unique_ptr<TTestServer> Server = std::make_unique<TTestServer>();
    Server->Start();
    Url = Server->Url("/nothing-here");
    if (refused)
        Server.reset(); // the port is closed now
    const auto Site = MakeSite(Url, 1, true);
    TEvents Events;
    QPointer<TfBrowserWin> Window = Open(Site.get(), Events, nullptr, true);
    QTRY_VERIFY_WITH_TIMEOUT(Events.Count(QStringLiteral("First CRC=")) >= 1, LoadTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(Events.Count(QStringLiteral(" <-> ")) >= 1, LoadTimeout);
}

void TestBrowserWin::stalledRefreshEndsWithUserNavigation()
{
    TTestServer Server;
    Server.Pages["/"] = {200, "<html><head><title>One</title></head><body>one</body></html>"};
    Server.Pages["/other"] = {200, "<html><head><title>Other</title></head><body>other</body></html>"};
    Server.Start();
    const auto Site = MakeSite(Server.Url("/"), 1, true);
    TEvents Events;
    QPointer<TfBrowserWin> Window = Open(Site.get(), Events, &Server, true);
    QTRY_VERIFY_WITH_TIMEOUT(Events.Count(QStringLiteral("First CRC=")) == 1, LoadTimeout);

    // The refresh never gets an answer.
    Server.Pages["/"].Hang = true;
    QTRY_VERIFY_WITH_TIMEOUT(Server.Requests.size() >= 2, LoadTimeout);
    QCOMPARE(Events.Count(QStringLiteral("Check timer")), 0);

    // The user goes elsewhere: the pass ends and the monitor goes on with its checks.
    Window->WebBrowser()->Navigate(Server.Url("/other"));
    QTRY_VERIFY_WITH_TIMEOUT(Events.Count(QStringLiteral("Check timer")) >= 1, LoadTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(Window->windowTitle(), QStringLiteral("Kestrune: Other"), LoadTimeout);
}

void TestBrowserWin::windowDestroyedWhileSourcePending()
{
    TTestServer Server;
    Server.Pages["/"] = {200, "<html><head><title>Going</title></head><body>soon gone</body></html>"};
    Server.Start();
    const auto Site = MakeSite(Server.Url("/"), 1, true);
    TEvents Events;
    QPointer<TfBrowserWin> Window = Open(Site.get(), Events, &Server, true);
    bool Deleted = false;
    Window->SetOnTrace([&](TfBrowserWin *Sender, const QString &Text) {
        Events.Traces << Text;
        if (Text == QLatin1String("Timer Zero") && !Deleted) {
            Deleted = true;
            // The source was asked for right after this trace; the window goes before it comes.
            QTimer::singleShot(0, Sender, [Sender] { delete Sender; });
        }
    });
    QTRY_VERIFY_WITH_TIMEOUT(Deleted && !Window, LoadTimeout);
    QTest::qWait(300);
    QCOMPARE(Events.Traces.last(), QStringLiteral("Timer Zero"));
    QCOMPARE(Events.Closed, 0); // destroyed directly: no close road
}

void TestBrowserWin::pageProcessDiesWhileSourcePending()
{
    TTestServer Server;
    Server.Pages["/"] = {200, "<html><head><title>Fragile</title></head><body>fragile</body></html>"};
    Server.Start();
    const auto Site = MakeSite(Server.Url("/"), 1, true);
    TEvents Events;
    QPointer<TfBrowserWin> Window = Open(Site.get(), Events, &Server, true);
    bool Killed = false;
    Window->SetOnTrace([&](TfBrowserWin *Sender, const QString &Text) {
        Events.Traces << Text;
        if (Text == QLatin1String("Timer Zero") && !Killed) {
            const qint64 Pid = Sender->WebBrowser()->page()->renderProcessPid();
            Killed = Pid > 0 && ::kill(pid_t(Pid), SIGKILL) == 0;
        }
    });
    QTRY_VERIFY_WITH_TIMEOUT(Killed, LoadTimeout);
    // No source came: nothing is taken as the page's baseline, and the monitor goes on; the reload
    // brings the page back, and its reading becomes the baseline (no change is reported).
    QTRY_VERIFY_WITH_TIMEOUT(Events.Count(QStringLiteral("No page source")) == 1, LoadTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(Events.Count(QStringLiteral("Refreshing...")) >= 1, LoadTimeout);
    QTRY_VERIFY2_WITH_TIMEOUT(Events.Count(QStringLiteral("First CRC=")) == 1,
                              qPrintable(Events.Traces.join(QLatin1Char('|'))), LoadTimeout);
    QCOMPARE(Events.Changed, 0);
}

void TestBrowserWin::historyAndReloadKeys()
{
    TTestServer Server;
    Server.Pages["/"] = {200, "<html><head><title>First</title></head><body>first</body></html>"};
    Server.Pages["/second"] = {200, "<html><head><title>Second</title></head><body>second</body></html>"};
    Server.Start();
    const auto Site = MakeSite(Server.Url("/"));
    TEvents Events;
    QPointer<TfBrowserWin> Window = Open(Site.get(), Events, &Server);
    QTRY_COMPARE_WITH_TIMEOUT(Window->windowTitle(), QStringLiteral("Kestrune: First"), LoadTimeout);
    Window->WebBrowser()->Navigate(Server.Url("/second"));
    QTRY_COMPARE_WITH_TIMEOUT(Window->windowTitle(), QStringLiteral("Kestrune: Second"), LoadTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(Window->WebBrowser()->focusProxy(), LoadTimeout);
    QWidget *Page = Window->WebBrowser()->focusProxy();

    QTest::keyClick(Page, Qt::Key_Left, Qt::AltModifier);
    QTRY_COMPARE_WITH_TIMEOUT(Window->windowTitle(), QStringLiteral("Kestrune: First"), LoadTimeout);
    QTest::keyClick(Page, Qt::Key_Right, Qt::AltModifier);
    QTRY_COMPARE_WITH_TIMEOUT(Window->windowTitle(), QStringLiteral("Kestrune: Second"), LoadTimeout);
    for (const QKeyCombination Key :
         {QKeyCombination(Qt::Key_F5), QKeyCombination(Qt::ControlModifier, Qt::Key_R)}) {
        const qsizetype Before = Server.Requests.count("/second");
        QTest::keyClick(Page, Key.key(), Key.keyboardModifiers());
        QTRY_COMPARE_WITH_TIMEOUT(Server.Requests.count("/second"), Before + 1, LoadTimeout);
    }
}

void TestBrowserWin::fullScreenAndBack()
{
    TTestServer Server;
    Server.Pages["/"] = {200,
                         "<html><head><title>Video</title></head><body style='margin:0'>"
                         "<div style='width:100%;height:300px' onclick='document.body.requestFullscreen()'>"
                         "play</div></body></html>"};
    Server.Start();
    const auto Site = MakeSite(Server.Url("/"));
    TEvents Events;
    QPointer<TfBrowserWin> Window = Open(Site.get(), Events, &Server);
    QTRY_COMPARE_WITH_TIMEOUT(Window->windowTitle(), QStringLiteral("Kestrune: Video"), LoadTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(Window->WebBrowser()->focusProxy(), LoadTimeout);
    // A click that comes before the page takes input is lost; the next one counts (bounded).
    bool FullScreen = false;
    for (int Attempt = 0; Attempt < 10 && !FullScreen; ++Attempt) {
        QTest::mouseClick(Window->WebBrowser()->focusProxy(), Qt::LeftButton, {}, QPoint(20, 20));
        FullScreen = QTest::qWaitFor([&Window] { return Window->isFullScreen(); }, 3000);
    }
    QVERIFY(FullScreen);
    QVERIFY(Window->StatusBar()->isHidden());

    QTest::keyClick(Window->WebBrowser()->focusProxy(), Qt::Key_Escape);
    QTRY_VERIFY_WITH_TIMEOUT(!Window->isFullScreen(), LoadTimeout);
    QVERIFY(!Window->StatusBar()->isHidden());
    Window->Closewindow1Click();
    QCOMPARE(int(Site->WindowState()), 0); // back as it was: a normal window
}

void TestBrowserWin::findInPage()
{
    TTestServer Server;
    Server.Pages["/"] = {200,
                         "<html><head><title>Fruit</title></head><body>"
                         "<p>apple pie</p><p>pear</p><p>Apple juice</p><p>an apple a day</p></body></html>"};
    Server.Start();
    const auto Site = MakeSite(Server.Url("/"));
    TEvents Events;
    QPointer<TfBrowserWin> Window = Open(Site.get(), Events, &Server);
    QTRY_COMPARE_WITH_TIMEOUT(Window->windowTitle(), QStringLiteral("Kestrune: Fruit"), LoadTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(Window->WebBrowser()->focusProxy(), LoadTimeout);
    Window->activateWindow();
    Window->WebBrowser()->focusProxy()->setFocus();
    // No bar until one is asked for; Ctrl+F from the page makes it, below the page and above the
    // status bar, and opens it with the keyboard in it.
    QVERIFY(!Window->findChild<TFindBar *>());
    QTest::keyClick(Window->WebBrowser()->focusProxy(), Qt::Key_F, Qt::ControlModifier);
    TFindBar *Bar = Window->findChild<TFindBar *>();
    QVERIFY(Bar);
    QCOMPARE(Window->PageTools()->FindBar(), Bar);
    QVERIFY(Bar->isVisible());
    QTRY_VERIFY(Bar->geometry().top() >= Window->WebBrowser()->geometry().bottom() &&
                Window->StatusBar()->geometry().top() >= Bar->geometry().bottom());
    QTRY_VERIFY(Bar->edFind()->hasFocus());
    QTest::keyClicks(Bar->edFind(), QStringLiteral("apple"));
    QTRY_COMPARE_WITH_TIMEOUT(Bar->lblMatches()->text(), QStringLiteral("1 of 3"), LoadTimeout);

    // Return, Shift+Return and the arrows go round the matches.
    const struct
    {
        std::function<void()> Do;
        QString Shown;
    } Steps[] = {
        {[Bar] { QTest::keyClick(Bar->edFind(), Qt::Key_Return); }, QStringLiteral("2 of 3")},
        {[Bar] { QTest::keyClick(Bar->edFind(), Qt::Key_Return); }, QStringLiteral("3 of 3")},
        {[Bar] { Bar->btnNext()->click(); }, QStringLiteral("1 of 3")},
        {[Bar] { QTest::keyClick(Bar->edFind(), Qt::Key_Return, Qt::ShiftModifier); },
         QStringLiteral("3 of 3")},
        {[Bar] { Bar->btnPrevious()->click(); }, QStringLiteral("2 of 3")},
    };
    for (const auto &Step : Steps) {
        Step.Do();
        QTRY_COMPARE_WITH_TIMEOUT(Bar->lblMatches()->text(), Step.Shown, LoadTimeout);
    }
    Bar->edFind()->setText(QStringLiteral("banana"));
    QTRY_COMPARE_WITH_TIMEOUT(Bar->lblMatches()->text(), QStringLiteral("No matches"), LoadTimeout);
    Bar->edFind()->clear();
    QTRY_COMPARE(Bar->lblMatches()->text(), QString());

    // Escape closes the bar and gives the page the keyboard back; the window stays as it was.
    Bar->edFind()->setText(QStringLiteral("pear"));
    QTRY_COMPARE_WITH_TIMEOUT(Bar->lblMatches()->text(), QStringLiteral("1 of 1"), LoadTimeout);
    QTest::keyClick(Bar->edFind(), Qt::Key_Escape);
    QVERIFY(Bar->isHidden());
    QVERIFY(!Window->isFullScreen());
    QTRY_VERIFY(Window->WebBrowser()->focusProxy()->hasFocus());
    // Opened again, it looks for the text it had.
    QTest::keyClick(Window->WebBrowser()->focusProxy(), Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(Bar->edFind()->selectedText(), QStringLiteral("pear"));
    QTRY_COMPARE_WITH_TIMEOUT(Bar->lblMatches()->text(), QStringLiteral("1 of 1"), LoadTimeout);
}

void TestBrowserWin::zoomKeysWheelAndReload()
{
    TTestServer Server;
    Server.Pages["/"] = {200,
                         "<html><head><title>Zoom</title></head><body style='height:3000px'>z</body></html>"};
    Server.Start();
    const auto Site = MakeSite(Server.Url("/"));
    TEvents Events;
    auto *Window = new TfBrowserWin(&FOwner, QString(), Site.get(), FDesktop, FProfile);
    Events.Bind(Window, &Server);
    QList<double> Told;
    Window->SetOnZoomChanged([&Told](TKestrunSite *, TfBrowserWin *W) { Told << W->Watch().Zoom; });
    // A stored zoom is the page's from its first load.
    TSiteWatch Stored;
    Stored.Zoom = 1.5;
    Window->SetWatch(Stored);
    Window->ShowBrowserWindow();
    QTRY_COMPARE_WITH_TIMEOUT(Window->windowTitle(), QStringLiteral("Kestrune: Zoom"), LoadTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(Window->WebBrowser()->focusProxy(), LoadTimeout);
    QWebEnginePage *Page = Window->WebBrowser()->page();
    // The page's CSS pixels get larger by the zoom: the engine itself applied it.
    const double Scale = Window->devicePixelRatioF();
    const auto PageRatio = [Page] {
        return Evaluate(Page, QStringLiteral("window.devicePixelRatio")).toDouble();
    };
    QTRY_VERIFY_WITH_TIMEOUT(std::abs(PageRatio() - (1.5 * Scale)) < 0.01, LoadTimeout);
    QVERIFY(Told.isEmpty());

    QWidget *Input = Window->WebBrowser()->focusProxy();
    const struct
    {
        std::function<void()> Do;
        double Zoom;
    } Steps[] = {
        {[Input] { QTest::keyClick(Input, Qt::Key_Equal, Qt::ControlModifier); }, 1.75},
        {[Input] { QTest::keyClick(Input, Qt::Key_Plus, Qt::ControlModifier); }, 2.0},
        {[Input] { QTest::keyClick(Input, Qt::Key_Minus, Qt::ControlModifier); }, 1.75},
        {[Input] { QTest::keyClick(Input, Qt::Key_0, Qt::ControlModifier); }, 1.0},
        // Ctrl with the wheel: one notch a step; a touchpad's small steps add up to one.
        {[Input] {
             const QPointF At(50, 50);
             QWheelEvent Wheel(At, Input->mapToGlobal(At), QPoint(), QPoint(0, 120), Qt::NoButton,
                               Qt::ControlModifier, Qt::NoScrollPhase, false);
             QCoreApplication::sendEvent(Input, &Wheel);
         },
         1.1},
        {[Input] {
             for (int Part = 0; Part < 4; ++Part) {
                 const QPointF At(50, 50);
                 QWheelEvent Wheel(At, Input->mapToGlobal(At), QPoint(), QPoint(0, -30), Qt::NoButton,
                                   Qt::ControlModifier, Qt::NoScrollPhase, false);
                 QCoreApplication::sendEvent(Input, &Wheel);
             }
         },
         1.0},
        {[Input] { QTest::keyClick(Input, Qt::Key_Minus, Qt::ControlModifier); }, 0.9},
    };
    for (const auto &Step : Steps) {
        Step.Do();
        QCOMPARE(Window->Watch().Zoom, Step.Zoom);
        QCOMPARE(Told.last(), Step.Zoom);
        QTRY_VERIFY_WITH_TIMEOUT(std::abs(PageRatio() - (Step.Zoom * Scale)) < 0.01, LoadTimeout);
    }
    QCOMPARE(Told.size(), qsizetype(std::size(Steps)));
    QCOMPARE(Window->StatusBar()->currentMessage(), QStringLiteral("Zoom 90%"));
    // A wheel without Ctrl scrolls the page and leaves the zoom.
    const qsizetype Before = Told.size();
    const QPointF At(50, 50);
    QWheelEvent Scroll(At, Input->mapToGlobal(At), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                       Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(Input, &Scroll);
    QCOMPARE(Told.size(), Before);

    // A reload and another page of the site keep the zoom.
    QTest::keyClick(Input, Qt::Key_F5);
    QTRY_COMPARE_WITH_TIMEOUT(Server.Requests.count("/"), 2, LoadTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(Window->windowTitle(), QStringLiteral("Kestrune: Zoom"), LoadTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(std::abs(PageRatio() - (0.9 * Scale)) < 0.01, LoadTimeout);
    Window->WebBrowser()->Navigate(Server.Url("/elsewhere"));
    QTRY_COMPARE_WITH_TIMEOUT(Window->windowTitle(), QStringLiteral("Kestrune: Missing"), LoadTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(std::abs(PageRatio() - (0.9 * Scale)) < 0.01, LoadTimeout);
    QCOMPARE(Told.size(), Before);
}

void TestBrowserWin::printThroughTheDialog()
{
    TTestServer Server;
    Server.Pages["/"] = {200, "<html><head><title>Receipt</title></head><body><h1>Receipt 42</h1>"
                              "<button id=p onclick='window.print()'>print</button></body></html>"};
    Server.Start();
    const auto Site = MakeSite(Server.Url("/"));
    TEvents Events;
    QPointer<TfBrowserWin> Window = Open(Site.get(), Events, &Server);
    QTRY_COMPARE_WITH_TIMEOUT(Window->windowTitle(), QStringLiteral("Kestrune: Receipt"), LoadTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(Window->WebBrowser()->focusProxy(), LoadTimeout);
    QTemporaryDir Folder;
    TPageTools *Tools = Window->PageTools();
    QPointer<QPrintDialog> Dialog;
    connect(Tools, &TPageTools::PrintDialogShown, this,
            [&Dialog](QWidget *Shown) { Dialog = qobject_cast<QPrintDialog *>(Shown); });
    QSignalSpy Finished(Tools, &TPageTools::PrintFinished);

    // Ctrl+P, then the page's own request: each shows the dialog; a cancel prints nothing.
    QTest::keyClick(Window->WebBrowser()->focusProxy(), Qt::Key_P, Qt::ControlModifier);
    QVERIFY(Dialog);
    QVERIFY(Dialog->isVisible());
    QVERIFY(Tools->Printing());
    // One dialog at a time.
    Tools->Print();
    QCOMPARE(QApplication::topLevelWidgets().count(Dialog.data()), 1);
    Dialog->reject();
    QTRY_VERIFY(!Dialog);
    QVERIFY(!Tools->Printing());
    QCOMPARE(Finished.size(), 0);

    Window->WebBrowser()->page()->runJavaScript(QStringLiteral("window.print();"));
    QTRY_VERIFY_WITH_TIMEOUT(Dialog, LoadTimeout);
    // Printed to a PDF file, as "Print to File (PDF)" in the dialog does.
    const QString Output = Folder.filePath(QStringLiteral("receipt.pdf"));
    Dialog->printer()->setOutputFormat(QPrinter::PdfFormat);
    Dialog->printer()->setOutputFileName(Output);
    if (auto *FileName = Dialog->findChild<QLineEdit *>(QStringLiteral("filename")))
        FileName->setText(Output);
    Dialog->accept();
    QTRY_COMPARE_WITH_TIMEOUT(Finished.size(), 1, LoadTimeout);
    QCOMPARE(Finished.first().first().toBool(), true);
    QCOMPARE(Window->StatusBar()->currentMessage(), QStringLiteral("Printed"));
    QFile Pdf(Output);
    QVERIFY(Pdf.open(QIODevice::ReadOnly));
    QVERIFY(Pdf.read(5) == "%PDF-");
    QVERIFY(Pdf.size() > 1000);
}

void TestBrowserWin::newWindowRequests()
{
    TTestServer Server;
    Server.Pages["/"] = {
        200, "<html><head><title>Opener</title></head><body>"
             "<a id=out target=_blank href='http://other.localhost:1/elsewhere' "
             "style='display:block;position:absolute;left:0;top:0;width:200px;height:100px'>out</a>"
             "</body></html>"};
    Server.Pages["/signin"] = {200, "<html><head><title>Sign in</title></head><body>sign in</body></html>"};
    Server.Start();
    const auto Site = MakeSite(Server.Url("/"));
    TEvents Events;
    QPointer<TfBrowserWin> Window = Open(Site.get(), Events, &Server);
    QTRY_COMPARE_WITH_TIMEOUT(Window->windowTitle(), QStringLiteral("Kestrune: Opener"), LoadTimeout);
    FDesktop.TakeOpened();

    Window->WebBrowser()->page()->runJavaScript(
        QStringLiteral("window.open('/signin', 'signin', 'width=320,height=240');"));
    auto Popups = [] {
        QList<TfBrowserPopup *> Found;
        const QWidgetList Windows = QApplication::topLevelWidgets();
        for (QWidget *Widget : Windows)
            if (auto *Popup = qobject_cast<TfBrowserPopup *>(Widget))
                Found << Popup;
        return Found;
    };
    QTRY_COMPARE_WITH_TIMEOUT(Popups().size(), 1, LoadTimeout);
    QPointer<TfBrowserPopup> Popup = Popups().value(0);
    // Every page is made on the profile the window was handed, the sign-in window's included.
    QCOMPARE(&Window->WebBrowser()->Profile(), &FProfile);
    QCOMPARE(Window->WebBrowser()->page()->profile(), FProfile.Engine());
    QCOMPARE(&Popup->WebBrowser()->Profile(), &FProfile);
    QCOMPARE(Popup->WebBrowser()->page()->profile(), FProfile.Engine());
    QTRY_COMPARE_WITH_TIMEOUT(Popup->windowTitle(), QStringLiteral("Kestrune: Sign in"), LoadTimeout);
    QVERIFY(Server.Requests.contains("/signin"));

    // A window the sign-in window opens in turn: the same profile again.
    Popup->WebBrowser()->page()->runJavaScript(
        QStringLiteral("window.open('/signin', 'step', 'width=200,height=200');"));
    QTRY_COMPARE_WITH_TIMEOUT(Popups().size(), 2, LoadTimeout);
    QPointer<TfBrowserPopup> Inner = Popups().value(0) == Popup ? Popups().value(1) : Popups().value(0);
    QCOMPARE(&Inner->WebBrowser()->Profile(), &FProfile);
    QCOMPARE(Inner->WebBrowser()->page()->profile(), FProfile.Engine());

    // The sign-in window closes itself when its page says so; the window it opened goes with it.
    Popup->WebBrowser()->page()->runJavaScript(QStringLiteral("window.close();"));
    QTRY_VERIFY_WITH_TIMEOUT(!Popup, LoadTimeout);
    QVERIFY(!Inner);

    // A real click of the user on the link in the page's top left corner.
    QTRY_VERIFY_WITH_TIMEOUT(Window->WebBrowser()->focusProxy(), LoadTimeout);
    QTest::mouseClick(Window->WebBrowser()->focusProxy(), Qt::LeftButton, {}, QPoint(14, 14));
    QList<QByteArray> Opened;
    QTRY_VERIFY_WITH_TIMEOUT((Opened += FDesktop.TakeOpened(), !Opened.isEmpty()), LoadTimeout);
    QCOMPARE(Opened, QList<QByteArray>{"http://other.localhost:1/elsewhere"});
    QVERIFY(Popups().isEmpty());
}

void TestBrowserWin::downloadSavedUnderAFreeName()
{
    TTestServer Server;
    Server.Pages["/"] = {200, "<html><head><title>Files</title></head><body>files</body></html>"};
    TTestServer::TPage File{200, "report body\n"};
    File.Headers = "Content-Type: application/octet-stream\r\nContent-Disposition: attachment; "
                   "filename=\"report.txt\"\r\n";
    Server.Pages["/report"] = File;
    Server.Start();
    const QString Folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    QVERIFY(QDir().mkpath(Folder));
    QFile Existing(QDir(Folder).filePath(QStringLiteral("report.txt")));
    QVERIFY(Existing.open(QIODevice::WriteOnly));
    Existing.write("keep me");
    Existing.close();
    const QString Saved = QDir(Folder).filePath(QStringLiteral("report (1).txt"));
    QFile::remove(Saved);

    const auto Site = MakeSite(Server.Url("/"));
    TEvents Events;
    QPointer<TfBrowserWin> Window = Open(Site.get(), Events, &Server);
    QTRY_COMPARE_WITH_TIMEOUT(Window->windowTitle(), QStringLiteral("Kestrune: Files"), LoadTimeout);
    MessageBoxTest::TakeRecords();
    Window->WebBrowser()->Navigate(Server.Url("/report"));

    QList<MessageBoxTest::TRecord> Boxes;
    QTRY_VERIFY_WITH_TIMEOUT((Boxes += MessageBoxTest::TakeRecords(), !Boxes.isEmpty()), LoadTimeout);
    QCOMPARE(Boxes.size(), 1);
    QCOMPARE(Boxes[0].Kind, TMsgKind::Information);
    QCOMPARE(Boxes[0].Text, QStringLiteral("Download saved as \"%1\".").arg(Saved));
    QFile Result(Saved);
    QVERIFY(Result.open(QIODevice::ReadOnly));
    QCOMPARE(Result.readAll(), QByteArray("report body\n"));
    QVERIFY(Existing.open(QIODevice::ReadOnly));
    QCOMPARE(Existing.readAll(), QByteArray("keep me"));
    QCOMPARE(Window->StatusBar()->currentMessage(), QStringLiteral("Downloaded report (1).txt"));
}

void TestBrowserWin::loginSurvivesRestart()
{
    // Two runs of this very test program stand for two runs of the program; this one is the server.
    const QByteArray Step = qgetenv("KESTRUNE_LOGIN_STEP");
    if (!Step.isEmpty()) {
        const auto Site = MakeSite(qgetenv("KESTRUNE_LOGIN_URL"));
        TEvents Events;
        QPointer<TfBrowserWin> Window = Open(Site.get(), Events);
        QTRY_COMPARE_WITH_TIMEOUT(Window->windowTitle(),
                                  QStringLiteral("Kestrune: ") + QString::fromUtf8(Step), LoadTimeout);
        return;
    }
    // A name of this run only: the profile's folders outlive the test.
    const QByteArray Name = "login" + QByteArray::number(QRandomGenerator::global()->generate());
    TTestServer Server;
    TTestServer::TPage Login{200, "<html><head><title>Logged in</title></head><body>in</body></html>"};
    Login.Headers = "Content-Type: text/html\r\nSet-Cookie: " + Name + "=s3cr3t; Max-Age=86400; Path=/\r\n";
    Server.Pages["/login"] = Login;
    Server.Pages["/"] = {200, "<html><head><title>Home</title></head><body>home</body></html>"};
    Server.Start();
    auto Run = [&](const QByteArray &Path, const QByteArray &Title) {
        QProcess Child;
        QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
        Environment.insert(QStringLiteral("KESTRUNE_LOGIN_STEP"), QString::fromUtf8(Title));
        Environment.insert(QStringLiteral("KESTRUNE_LOGIN_URL"), QString::fromUtf8(Server.Url(Path)));
        Child.setProcessEnvironment(Environment);
        Child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        Child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("loginSurvivesRestart")});
        QTRY_VERIFY_WITH_TIMEOUT(Child.state() == QProcess::NotRunning, 2 * LoadTimeout);
        QCOMPARE(Child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(Child.exitCode(), 0);
    };
    Run("/login", "Logged in");
    QVERIFY(Server.Requests.contains("/login"));
    Run("/", "Home");
    QVERIFY(Server.Cookies.value("/").contains(Name + "=s3cr3t"));
}

void TestBrowserWin::permissionAskedOncePerProfileAndNotificationShown()
{
    TTestServer Server;
    Server.Pages["/"] = {200, "<html><head><title>Chat</title></head><body>chat</body></html>"};
    Server.Start();
    const auto Site = MakeSite(Server.Url("/"));
    TEvents Events;
    QPointer<TfBrowserWin> Window = Open(Site.get(), Events, &Server);
    QStringList Notifications;
    Window->SetOnWebNotification([&](TKestrunSite *, TfBrowserWin *, const QString &Title,
                                     const QString &Text,
                                     const TfBrowserWin::TShownReport &) { Notifications << Title << Text; });
    QTRY_COMPARE_WITH_TIMEOUT(Window->windowTitle(), QStringLiteral("Kestrune: Chat"), LoadTimeout);
    MessageBoxTest::TakeRecords();
    MessageBoxTest::QueueAnswer(TMsgResult::Yes);
    const QString Ask =
        QStringLiteral("Notification.requestPermission().then(p => document.title = 'asked ' + p);");
    Window->WebBrowser()->page()->runJavaScript(Ask);
    QTRY_COMPARE_WITH_TIMEOUT(Window->windowTitle(), QStringLiteral("Kestrune: asked granted"), LoadTimeout);
    const QList<MessageBoxTest::TRecord> Boxes = MessageBoxTest::TakeRecords();
    QCOMPARE(Boxes.size(), 1);
    QCOMPARE(Boxes[0].Kind, TMsgKind::Confirm);
    QCOMPARE(Boxes[0].Buttons, TMsgButtons::YesNo);
    QCOMPARE(Boxes[0].Text, QStringLiteral("The site %1 wants to show notifications. Allow it?")
                                .arg(QString::fromUtf8(Server.Url(""))));

    Window->WebBrowser()->page()->runJavaScript(
        QStringLiteral("new Notification('Hello', {body: 'World'});"));
    QTRY_COMPARE_WITH_TIMEOUT(Notifications, (QStringList{QStringLiteral("Hello"), QStringLiteral("World")}),
                              LoadTimeout);

    // The answer holds for the site: a new window of it is not asked again.
    QPointer<TfBrowserWin> Second = Open(Site.get(), Events, &Server);
    QTRY_COMPARE_WITH_TIMEOUT(Second->windowTitle(), QStringLiteral("Kestrune: Chat"), LoadTimeout);
    Second->WebBrowser()->page()->runJavaScript(Ask);
    QTRY_COMPARE_WITH_TIMEOUT(Second->windowTitle(), QStringLiteral("Kestrune: asked granted"), LoadTimeout);
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());

    // ... but only on its profile: a window on another one is asked, and its answer stays there.
    TWebProfile Other(QStringLiteral("KestruneOther"));
    QObject OtherOwner; // its windows go before their profile
    QPointer<TfBrowserWin> Third = new TfBrowserWin(&OtherOwner, QString(), Site.get(), FDesktop, Other);
    Third->ShowBrowserWindow();
    QCOMPARE(Third->WebBrowser()->page()->profile(), Other.Engine());
    QVERIFY(Other.Engine() != FProfile.Engine());
    QTRY_COMPARE_WITH_TIMEOUT(Third->windowTitle(), QStringLiteral("Kestrune: Chat"), LoadTimeout);
    MessageBoxTest::QueueAnswer(TMsgResult::No);
    Third->WebBrowser()->page()->runJavaScript(Ask);
    QTRY_COMPARE_WITH_TIMEOUT(Third->windowTitle(), QStringLiteral("Kestrune: asked denied"), LoadTimeout);
    QCOMPARE(MessageBoxTest::TakeRecords().size(), 1);
    QPointer<TfBrowserWin> Fourth = Open(Site.get(), Events, &Server);
    QTRY_COMPARE_WITH_TIMEOUT(Fourth->windowTitle(), QStringLiteral("Kestrune: Chat"), LoadTimeout);
    Fourth->WebBrowser()->page()->runJavaScript(Ask);
    QTRY_COMPARE_WITH_TIMEOUT(Fourth->windowTitle(), QStringLiteral("Kestrune: asked granted"), LoadTimeout);
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
}

void TestBrowserWin::routeNewWindow_data()
{
    QTest::addColumn<int>("destination");
    QTest::addColumn<QString>("requested");
    QTest::addColumn<int>("route");
    const QUrl Current(QStringLiteral("https://mail.example.org/inbox"));
    Q_UNUSED(Current);
    using R = QWebEngineNewWindowRequest;
    QTest::newRow("script popup with its own size, another host")
        << int(R::InNewDialog) << QStringLiteral("https://accounts.example.com/login")
        << int(TNewWindowRoute::Popup);
    QTest::newRow("window the script fills itself")
        << int(R::InNewTab) << QString() << int(TNewWindowRoute::Popup);
    QTest::newRow("new-window link on the same site")
        << int(R::InNewTab) << QStringLiteral("https://MAIL.example.org/message/1")
        << int(TNewWindowRoute::Popup);
    QTest::newRow("new-window link to another site")
        << int(R::InNewTab) << QStringLiteral("https://news.example.net/")
        << int(TNewWindowRoute::SystemBrowser);
    QTest::newRow("background tab to another site")
        << int(R::InNewBackgroundTab) << QStringLiteral("http://other.example/")
        << int(TNewWindowRoute::SystemBrowser);
    QTest::newRow("the engine's page source view")
        << int(R::InNewTab) << QStringLiteral("view-source:https://mail.example.org/inbox")
        << int(TNewWindowRoute::Popup);
    QTest::newRow("file address is never handed on")
        << int(R::InNewWindow) << QStringLiteral("file:///etc/passwd") << int(TNewWindowRoute::Ignore);
}

void TestBrowserWin::routeNewWindow()
{
    QFETCH(int, destination);
    QFETCH(QString, requested);
    QFETCH(int, route);
    QCOMPARE(int(RouteNewWindow(QWebEngineNewWindowRequest::DestinationType(destination), QUrl(requested),
                                QUrl(QStringLiteral("https://mail.example.org/inbox")))),
             route);
}

void TestBrowserWin::uniqueDownloadName()
{
    QTemporaryDir Dir;
    QVERIFY(Dir.isValid());
    auto Touch = [&](const QString &Name) {
        QFile File(Dir.filePath(Name));
        QVERIFY(File.open(QIODevice::WriteOnly));
    };
    QCOMPARE(UniqueDownloadName(Dir.path(), QStringLiteral("report.pdf")), QStringLiteral("report.pdf"));
    Touch(QStringLiteral("report.pdf"));
    Touch(QStringLiteral("report (1).pdf"));
    QCOMPARE(UniqueDownloadName(Dir.path(), QStringLiteral("report.pdf")), QStringLiteral("report (2).pdf"));
    QCOMPARE(UniqueDownloadName(Dir.path(), QStringLiteral("../../.bashrc")), QStringLiteral("bashrc"));
    QCOMPARE(UniqueDownloadName(Dir.path(), QStringLiteral("..")), QStringLiteral("download"));
    Touch(QStringLiteral("archive"));
    QCOMPARE(UniqueDownloadName(Dir.path(), QStringLiteral("sub/archive")), QStringLiteral("archive (1)"));
    // A name handed to a download still under way is taken, though no file has it yet.
    const QSet<QString> Reserved{Dir.filePath(QStringLiteral("report (2).pdf")),
                                 Dir.filePath(QStringLiteral("notes.txt"))};
    QCOMPARE(UniqueDownloadName(Dir.path(), QStringLiteral("report.pdf"), Reserved),
             QStringLiteral("report (3).pdf"));
    QCOMPARE(UniqueDownloadName(Dir.path(), QStringLiteral("notes.txt"), Reserved),
             QStringLiteral("notes (1).txt"));
}

QTEST_MAIN(TestBrowserWin)
#include "tst_browserwin.moc"
