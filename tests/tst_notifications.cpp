#include "BrowserWin.h"
#include "ChangesWin.h"
#include "Main.h"
#include "PrivateBus.h"
#include "RunTexts.h"
#include "Settings.h"
#include "TestDesktopServices.h"
#include "TestHttpServer.h"
#include "TestNotificationService.h"
#include "platform/DesktopNotification.h"
#include "platform/EmbeddedWB.h"
#include "platform/MessageBoxes.h"
#include "platform/WebProfile.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTreeWidget>
#include <QtTest>

// Balloons of the main window and of the site windows: in the tray (Qt's own balloon beside an
// XEmbed tray icon), nowhere (the main window's icon is not in the tray while the window is shown),
// or, on a desktop without a system tray, as desktop notifications. These reach the session's
// notification service over a private D-Bus session bus, where a stand-in service of the test's own
// records them and clicks them.

namespace {

constexpr int LoadTimeout = 30000;
constexpr int BusTimeout = 10000;

const QByteArray SiteTitle = "Mail <b>&</b>";
// Its source differs at every load: a watched site with it changes at every check.
const QByteArray ChatPage = "<html><head><title>Chat</title></head><body>chat "
                            "<script>document.body.append(String(Math.random()))</script></body></html>";
const QString PageTitle = QStringLiteral("Hello");
const QString PageText = QStringLiteral("New message & more");

enum class TWhere
{
    Nowhere,
    DesktopNotification,
    MainTrayIcon,
    WindowTrayIcon,
};

enum class TClick
{
    Notification,   // the notification's default action
    MainTrayIcon,   // Qt's balloon of the main window's icon
    WindowTrayIcon, // Qt's balloon of the site window's own icon
};

} // namespace

Q_DECLARE_METATYPE(TWhere)
Q_DECLARE_METATYPE(TClick)

class TestNotifications : public QObject
{
    Q_OBJECT

public:
    explicit TestNotifications(QString BusAddress) : FBusAddress(std::move(BusAddress)) {}

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void withoutServiceNothingWaits();
    void changeWithoutTrayIsDesktopNotification();
    void balloonsGoWhereTheyShow_data();
    void balloonsGoWhereTheyShow();
    void clickShowsWhatChanged_data();
    void clickShowsWhatChanged();
    void otherClicksDoNothing();
    void pageHearsWhetherItShowed_data();
    void pageHearsWhetherItShowed();

private:
    // Runs the form's site (a tray-icon site or not, watched or not) on a page of Server and waits
    // for the page. The monitor checks every 300 ms.
    TfBrowserWin *RunSite(TTestServer &Server, bool TrayIconSite, bool Watched);
    bool Barrier() { return NotificationBarrier(FDesktop, FService); }
    uint SendProbe(bool &Clicked) { return SendProbeNotification(FDesktop, FService, Clicked); }

    QString FBusAddress;
    TTestDesktopServices FDesktop;
    TWebProfile FProfile{QStringLiteral("Kestrune")};
    std::unique_ptr<QTemporaryDir> FFolder;
    std::unique_ptr<TfMainForm> FForm;
    TNotificationService FService;
    QStringList FTraces;
};

void TestNotifications::initTestCase()
{
    if (FBusAddress.isEmpty())
        QSKIP("dbus-daemon is needed");
    QVERIFY(QDBusConnection::sessionBus().isConnected());
    // The window's start-up would otherwise ask the product's server for a newer version.
    QSettings Store(SettingsOrganization, SettingsApplication);
    Store.setValue(LastUpdateCheckKey, EncodeLastUpdateCheck(QDateTime::currentDateTime()));
    MessageBoxTest::Enable();
}

void TestNotifications::init()
{
    FFolder = std::make_unique<QTemporaryDir>();
    TKestrunCollection Sites;
    auto Site = std::make_unique<TKestrunSite>();
    Site->SetTitle(SiteTitle);
    Site->SetURL("about:blank");
    Sites.Add(std::move(Site));
    QVERIFY(SaveSites(FFolder->path(), Sites));
    FForm = std::make_unique<TfMainForm>(FDesktop, FProfile, FFolder->path(), QList<QByteArray>());
    FDesktop.TrayAvailable = false;
    FService.Received.clear();
    FService.Refuse = false;
    FService.Silent = false;
    FTraces.clear();
}

void TestNotifications::cleanup()
{
    FForm.reset();
    FFolder.reset();
}

TfBrowserWin *TestNotifications::RunSite(TTestServer &Server, bool TrayIconSite, bool Watched)
{
    Server.Replies.insert("/", HttpReply("200 OK", ChatPage, "Content-Type: text/html\r\n"));
    TKestrunSite *Site = FForm->Sites[0];
    Site->SetURL(Server.Url("/").toUtf8());
    Site->SetBrowserChoice(1);
    Site->SetMinimizeToTaskbar(TrayIconSite ? 0 : 1);
    Site->SetMonitorChanges(Watched ? 1 : 0);
    FForm->RunSite(Site, false);
    if (FForm->OpenBrowsers.size() != 1)
        return nullptr;
    auto *Window = qobject_cast<TfBrowserWin *>(FForm->OpenBrowsers[0].Window.data());
    if (!Window)
        return nullptr;
    Window->Monitor().SetTimingForTests(50, {300, 300, 300});
    Window->SetOnTrace([this](TfBrowserWin *, const QString &Text) { FTraces << Text; });
    if (!QTest::qWaitFor([Window] { return Window->windowTitle() == QStringLiteral("Kestrune: Chat"); },
                         LoadTimeout))
        return nullptr;
    return Window;
}

void TestNotifications::withoutServiceNothingWaits()
{
    // No notification service on the bus: the message is lost, the program goes on at once, and a
    // later message finds a service that has come since.
    QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(
        QStringLiteral("org.freedesktop.Notifications")));
    FForm->SiteContentChanged(FForm->Sites[0], nullptr);
    QTest::qWait(200);
    QVERIFY(FService.Start(FBusAddress));
    FForm->SiteContentChanged(FForm->Sites[0], nullptr);
    QVERIFY(QTest::qWaitFor([this] { return !FService.Received.isEmpty(); }, BusTimeout));
}

void TestNotifications::changeWithoutTrayIsDesktopNotification()
{
    QVERIFY(FService.Start(FBusAddress));
    TKestrunSite *Site = FForm->Sites[0];
    FForm->SiteContentChanged(Site, nullptr);
    QVERIFY(QTest::qWaitFor([this] { return !FService.Received.isEmpty(); }, BusTimeout));
    QCOMPARE(FService.Received.size(), 1);
    const TNotification &Got = FService.Received[0];
    QCOMPARE(Got.AppName, QStringLiteral("Kestrune"));
    QCOMPARE(Got.AppIcon, QStringLiteral("io.github.brinmoor.Kestrune"));
    QCOMPARE(Got.DesktopEntry, QStringLiteral("io.github.brinmoor.Kestrune"));
    QCOMPARE(Got.Summary, ChangeBalloonTitle(Site->Title()));
    // The service reads markup: the site's title shows as typed, not as bold text.
    QCOMPARE(Got.Body, ChangeBalloonText(Site->Title()).toHtmlEscaped());
    QVERIFY(Got.Body.contains(QStringLiteral("&lt;b&gt;&amp;&lt;/b&gt;")));
    QCOMPARE(Got.Timeout, 3000);
    // A click on the notification itself is asked for.
    QCOMPARE(Got.Actions.value(0), QStringLiteral("default"));
    QCOMPARE(Got.Actions.size(), 2);
}

void TestNotifications::balloonsGoWhereTheyShow_data()
{
    QTest::addColumn<bool>("tray");
    QTest::addColumn<bool>("mainHidden");
    QTest::addColumn<bool>("trayIconSite");
    QTest::addColumn<bool>("page");
    QTest::addColumn<TWhere>("where");

    const TWhere N = TWhere::Nowhere, D = TWhere::DesktopNotification, M = TWhere::MainTrayIcon,
                 W = TWhere::WindowTrayIcon;
    const struct
    {
        const char *Name;
        bool Tray, MainHidden, TrayIconSite;
        TWhere Where;
    } Cases[] = {
        {"tray, main window shown, window without icon", true, false, false, N},
        {"tray, main window in the tray, window without icon", true, true, false, M},
        {"tray, main window shown, tray-icon site", true, false, true, W},
        {"tray, main window in the tray, tray-icon site", true, true, true, W},
        {"no tray, main window shown, window without icon", false, false, false, D},
        {"no tray, main window minimised, window without icon", false, true, false, D},
        {"no tray, main window shown, tray-icon site", false, false, true, D},
        {"no tray, main window minimised, tray-icon site", false, true, true, D},
    };
    for (const auto &Case : Cases) {
        for (const bool Page : {false, true})
            QTest::addRow("%s: %s", Page ? "page's notification" : "change", Case.Name)
                << Case.Tray << Case.MainHidden << Case.TrayIconSite << Page << Case.Where;
    }
}

void TestNotifications::balloonsGoWhereTheyShow()
{
    QFETCH(bool, tray);
    QFETCH(bool, mainHidden);
    QFETCH(bool, trayIconSite);
    QFETCH(bool, page);
    QFETCH(TWhere, where);
    QVERIFY(FService.Start(FBusAddress));
    FDesktop.TrayAvailable = tray;
    FForm->show();
    if (mainHidden)
        FForm->HideToTray();
    QCOMPARE(FForm->TrayIcon->isVisible(), tray && mainHidden);

    TTestServer Server;
    TfBrowserWin *Window = RunSite(Server, trayIconSite, !page);
    QVERIFY(Window);
    QStringList MainBalloons, WindowBalloons;
    connect(FForm.get(), &TfMainForm::BalloonShown, this,
            [&](const QString &Title, const QString &Text) { MainBalloons << Title << Text; });
    connect(Window, &TfBrowserWin::BalloonShown, this,
            [&](const QString &Title, const QString &Text) { WindowBalloons << Title << Text; });

    QString Title, Text, Summary, Body;
    if (page) {
        // Seen by the test after the window has passed it on.
        bool Shown = false;
        connect(Window->WebBrowser(), &TEmbeddedWB::WebNotification, this, [&Shown] { Shown = true; });
        MessageBoxTest::QueueAnswer(TMsgResult::Yes);
        Window->WebBrowser()->page()->runJavaScript(
            QStringLiteral(
                "Notification.requestPermission().then(p => new Notification('%1', {body: '%2'}));")
                .arg(PageTitle, PageText));
        QVERIFY(QTest::qWaitFor([&Shown] { return Shown; }, LoadTimeout));
        Title = PageTitle;
        Text = PageText;
        Summary = QString::fromUtf8(SiteTitle) + QStringLiteral(": ") + PageTitle;
    } else {
        // The report of a change follows its check at once.
        QVERIFY(QTest::qWaitFor([this] { return !FTraces.filter(QStringLiteral(" <-> ")).isEmpty(); },
                                LoadTimeout));
        const QStringList Sides =
            FTraces.filter(QStringLiteral(" <-> ")).constFirst().split(QStringLiteral(" <-> "));
        QVERIFY(Sides.value(0) != Sides.value(1));
        Title = Summary = ChangeBalloonTitle(SiteTitle);
        Text = ChangeBalloonText(SiteTitle);
    }
    Body = Text.toHtmlEscaped();
    QVERIFY(Barrier());

    const QStringList Balloon{Title, Text};
    QCOMPARE(MainBalloons.mid(0, 2), where == TWhere::MainTrayIcon ? Balloon : QStringList());
    QCOMPARE(WindowBalloons.mid(0, 2), where == TWhere::WindowTrayIcon ? Balloon : QStringList());
    if (where != TWhere::DesktopNotification) {
        QCOMPARE(FService.Received.size(), 0);
        return;
    }
    QVERIFY(!FService.Received.isEmpty());
    QCOMPARE(FService.Received[0].Summary, Summary);
    QCOMPARE(FService.Received[0].Body, Body);
    QCOMPARE(FService.Received[0].Actions.value(0), QStringLiteral("default"));
}

void TestNotifications::clickShowsWhatChanged_data()
{
    QTest::addColumn<bool>("tray");
    QTest::addColumn<bool>("trayIconSite");
    QTest::addColumn<TClick>("click");

    QTest::newRow("desktop notification, window minimised") << false << false << TClick::Notification;
    QTest::newRow("own icon's notification without a tray, window minimised")
        << false << true << TClick::Notification;
    QTest::newRow("balloon of the main window's icon, window minimised")
        << true << false << TClick::MainTrayIcon;
    QTest::newRow("balloon of the window's icon, window hidden to it")
        << true << true << TClick::WindowTrayIcon;
}

// A click on a change balloon or notification, wherever it showed, opens what changed.
void TestNotifications::clickShowsWhatChanged()
{
    QFETCH(bool, tray);
    QFETCH(bool, trayIconSite);
    QFETCH(TClick, click);
    QVERIFY(FService.Start(FBusAddress));
    FDesktop.TrayAvailable = tray;
    FForm->show();
    if (tray)
        FForm->HideToTray();

    TTestServer Server;
    QPointer<TfBrowserWin> Window = RunSite(Server, trayIconSite, true);
    QVERIFY(Window);
    bool Balloon = false;
    connect(FForm.get(), &TfMainForm::BalloonShown, this, [&Balloon] { Balloon = true; });
    connect(Window, &TfBrowserWin::BalloonShown, this, [&Balloon] { Balloon = true; });
    // Out of sight: minimised to the taskbar, or, with a tray, hidden to the window's icon.
    Window->MinimizeOrHide();
    QVERIFY(Window->isMinimized() || !Window->isVisible());
    FForm->activateWindow();

    switch (click) {
    case TClick::Notification: {
        QVERIFY(QTest::qWaitFor([this] { return !FService.Received.isEmpty(); }, LoadTimeout));
        // The click is known by the id that the service gave.
        QTest::qWait(100);
        FService.InvokeAction(FService.Received[0].Id, QStringLiteral("default"));
        break;
    }
    case TClick::MainTrayIcon:
        QVERIFY(QTest::qWaitFor([&Balloon] { return Balloon; }, LoadTimeout));
        emit FForm->TrayIcon->messageClicked();
        break;
    case TClick::WindowTrayIcon:
        QVERIFY(QTest::qWaitFor([&Balloon] { return Balloon; }, LoadTimeout));
        emit Window->BrowserTrayIcon()->messageClicked();
        break;
    }
    // The change the balloon told of, shown as a diff in a window of its own, in front.
    TfChangesWin *Changes = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&Changes] {
            for (QWidget *Top : QApplication::topLevelWidgets()) {
                if (auto *Found = qobject_cast<TfChangesWin *>(Top); Found && Found->isVisible())
                    Changes = Found;
            }
            return Changes != nullptr;
        }(),
        BusTimeout);
    QCOMPARE(Changes->windowTitle(),
             QStringLiteral("What changed: ") + QString::fromUtf8(FForm->Sites[0]->Title()));
    QVERIFY(Changes->edUnified->toPlainText().contains(QStringLiteral("\n+ ")));
    // Without a window manager, activation is what the platform's window has.
    QTRY_COMPARE_WITH_TIMEOUT(QGuiApplication::focusWindow(), Changes->windowHandle(), BusTimeout);
    Changes->close();
}

void TestNotifications::otherClicksDoNothing()
{
    QVERIFY(FService.Start(FBusAddress));
    TTestServer Server;
    QPointer<TfBrowserWin> Window = RunSite(Server, false, false);
    QVERIFY(Window);
    Window->showMinimized();
    FForm->SiteContentChanged(FForm->Sites[0], Window);
    QVERIFY(QTest::qWaitFor([this] { return !FService.Received.isEmpty(); }, BusTimeout));
    const uint Id = FService.Received[0].Id;
    QTest::qWait(100);

    // Another program's notification, a button that was never offered, a signal that is not what
    // the service's interface says, and a click on a notification that has been closed.
    FService.InvokeAction(Id + 1, QStringLiteral("default"));
    FService.InvokeAction(Id, QStringLiteral("settings"));
    FService.EmitRaw(QStringLiteral("ActionInvoked"), {QString::number(Id), QStringLiteral("default")});
    FService.EmitRaw(QStringLiteral("ActionInvoked"), {Id});
    FService.EmitRaw(QStringLiteral("NotificationClosed"), {QStringLiteral("x")});
    FService.Close(Id);
    FService.InvokeAction(Id, QStringLiteral("default"));
    bool ProbeClicked = false;
    const uint Probe = SendProbe(ProbeClicked);
    QVERIFY(Probe != 0);
    FService.InvokeAction(Probe, QStringLiteral("default"));
    // The service's signals come in order: once the probe's click is in, so are all the others.
    QVERIFY(QTest::qWaitFor([&ProbeClicked] { return ProbeClicked; }, BusTimeout));
    QVERIFY(Window->isMinimized());

    // A window that has gone since its notification: the click finds nothing to bring forward.
    FService.Received.clear();
    FForm->SiteContentChanged(FForm->Sites[0], Window);
    QVERIFY(QTest::qWaitFor([this] { return !FService.Received.isEmpty(); }, BusTimeout));
    const uint Gone = FService.Received[0].Id;
    QTest::qWait(100);
    FForm->lvSites->setCurrentItem(FForm->lvSites->topLevelItem(0));
    FForm->miClosewindowClick();
    QVERIFY(Window.isNull());
    FService.InvokeAction(Gone, QStringLiteral("default"));

    // Only the latest notifications are remembered for a click: the first of one too many is
    // forgotten, the last is not.
    bool First = false;
    const uint FirstId = SendProbe(First);
    QVERIFY(FirstId != 0);
    int Later = 0;
    for (int i = 0; i < TDesktopNotifier::MaxAwaitingClick; ++i)
        FDesktop.SendDesktopNotification(QStringLiteral("later"), QString(), 1000, [&Later] { ++Later; });
    bool Last = false;
    const uint LastId = SendProbe(Last);
    QVERIFY(LastId != 0);
    FService.InvokeAction(FirstId, QStringLiteral("default"));
    FService.InvokeAction(LastId, QStringLiteral("default"));
    QVERIFY(QTest::qWaitFor([&Last] { return Last; }, BusTimeout));
    QVERIFY(!First);
    QCOMPARE(Later, 0);
}

enum class TService
{
    Answers,
    Absent,  // no owner of the name on the bus
    Refuses, // an error for an answer
    Silent,  // no answer at all
};
Q_DECLARE_METATYPE(TService)

void TestNotifications::pageHearsWhetherItShowed_data()
{
    QTest::addColumn<TService>("service");
    QTest::addColumn<bool>("tray");
    QTest::addColumn<bool>("trayIconSite");
    QTest::addColumn<bool>("shown");

    QTest::newRow("no tray, the service takes it") << TService::Answers << false << false << true;
    QTest::newRow("no tray, no service on the bus") << TService::Absent << false << false << false;
    QTest::newRow("no tray, the service refuses it") << TService::Refuses << false << false << false;
    QTest::newRow("no tray, the service never answers") << TService::Silent << false << false << false;
    QTest::newRow("tray, main window shown, window without icon: nowhere")
        << TService::Answers << true << false << false;
    QTest::newRow("tray, Qt's balloon beside the window's icon") << TService::Absent << true << true << true;
}

// The page's notification tells its page it showed (onshow) only once something showed it; else
// the page hears that it closed, and the program does not report a balloon either.
void TestNotifications::pageHearsWhetherItShowed()
{
    QFETCH(TService, service);
    QFETCH(bool, tray);
    QFETCH(bool, trayIconSite);
    QFETCH(bool, shown);
    if (service == TService::Absent) {
        FService.Stop();
        QVERIFY(
            !QDBusConnection::sessionBus().interface()->isServiceRegistered(TNotificationService::Interface));
    } else {
        QVERIFY(FService.Start(FBusAddress));
    }
    FService.Refuse = service == TService::Refuses;
    FService.Silent = service == TService::Silent;
    FDesktop.TrayAvailable = tray;
    FForm->show();

    TTestServer Server;
    TfBrowserWin *Window = RunSite(Server, trayIconSite, false);
    QVERIFY(Window);
    int Balloons = 0;
    connect(FForm.get(), &TfMainForm::BalloonShown, this, [&Balloons] { ++Balloons; });
    connect(Window, &TfBrowserWin::BalloonShown, this, [&Balloons] { ++Balloons; });

    QWebEnginePage *Page = Window->WebBrowser()->page();
    MessageBoxTest::QueueAnswer(TMsgResult::Yes);
    Page->runJavaScript(QStringLiteral("window.got = []; Notification.requestPermission().then(p => {"
                                       "  const n = new Notification('%1', {body: '%2'});"
                                       "  n.onshow = () => got.push('show');"
                                       "  n.onclose = () => got.push('close');"
                                       "  n.onerror = () => got.push('error');"
                                       "});")
                            .arg(PageTitle, PageText));
    QStringList Got;
    const auto Heard = [Page, &Got] {
        const auto Answer = std::make_shared<std::optional<QString>>();
        Page->runJavaScript(QStringLiteral("(window.got || []).join(',')"),
                            [Answer](const QVariant &Value) { *Answer = Value.toString(); });
        if (!QTest::qWaitFor([&Answer] { return Answer->has_value(); }, BusTimeout))
            return false;
        Got = Answer->value_or(QString()).split(QLatin1Char(','), Qt::SkipEmptyParts);
        return !Got.isEmpty();
    };
    // A silent service is given up after its time for an answer, after a capability question of
    // the same length.
    QVERIFY(QTest::qWaitFor(Heard, LoadTimeout));
    if (shown) {
        QCOMPARE(Got.value(0), QStringLiteral("show"));
        QVERIFY(!Got.contains(QStringLiteral("error")));
        return;
    }
    // The page hears that it closed, and never that it showed, nor later.
    QCOMPARE(Got, QStringList{QStringLiteral("close")});
    QTest::qWait(300);
    Heard();
    QVERIFY(!Got.contains(QStringLiteral("show")));
    QCOMPARE(Balloons, 0);
    if (service != TService::Absent) {
        // What reached the service is what it was sent; it did not answer that it showed it.
        for (const TNotification &Sent : std::as_const(FService.Received))
            QCOMPARE(Sent.Body, PageText.toHtmlEscaped());
        QCOMPARE(FService.Received.isEmpty(), service != TService::Silent);
    }
}

int main(int argc, char **argv)
{
    // A private session bus for this test alone, before anything asks for the session bus.
    QProcess Bus;
    const QString Address = StartPrivateSessionBus(Bus);
    int Result = 0;
    {
        QApplication App(argc, argv);
        TestNotifications Test(Address);
        Result = QTest::qExec(&Test, argc, argv);
    }
    StopPrivateSessionBus(Bus);
    return Result;
}

#include "tst_notifications.moc"
