#include "BrowserWin.h"
#include "Main.h"
#include "RunTexts.h"
#include "Settings.h"
#include "TestDesktopServices.h"
#include "TestHttpServer.h"
#include "platform/EmbeddedWB.h"
#include "platform/MessageBoxes.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

// Balloons on a desktop without a system tray: the change of a watched site and a page's own
// notification reach the session's notification service over a private D-Bus session bus, where
// a stand-in service of the test's own records them.

namespace {

constexpr int LoadTimeout = 30000;

struct TNotification
{
    QString AppName, AppIcon, Summary, Body, DesktopEntry;
    int Timeout = 0;
};

} // namespace

// The session's notification service as the desktop offers it (GNOME's reads markup in the body).
class TNotificationService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QList<TNotification> Received;

public slots:
    QStringList GetCapabilities() { return {QStringLiteral("body"), QStringLiteral("body-markup")}; }
    uint Notify(const QString &AppName, uint ReplacesId, const QString &AppIcon, const QString &Summary,
                const QString &Body, const QStringList &Actions, const QVariantMap &Hints, int Timeout)
    {
        Q_UNUSED(ReplacesId);
        Q_UNUSED(Actions);
        Received.append({AppName, AppIcon, Summary, Body,
                         Hints.value(QStringLiteral("desktop-entry")).toString(), Timeout});
        return uint(Received.size());
    }
};

class TestNotifications : public QObject
{
    Q_OBJECT

public:
    explicit TestNotifications(QString BusAddress) : FBusAddress(std::move(BusAddress)) {}

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void withoutServiceNothingWaits();
    void changeWithoutTrayIsDesktopNotification();
    void changeWithTrayStaysInTray();
    void pageNotificationWithoutTray();

private:
    bool StartService();

    QString FBusAddress;
    TTestDesktopServices FDesktop;
    std::unique_ptr<QTemporaryDir> FFolder;
    std::unique_ptr<TfMainForm> FForm;
    TNotificationService FService;
    bool FServiceStarted = false;
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
    Site->SetTitle("Mail <b>&</b>");
    Site->SetURL("about:blank");
    Sites.Add(std::move(Site));
    QVERIFY(SaveSites(FFolder->path(), Sites));
    FForm = std::make_unique<TfMainForm>(FDesktop, FFolder->path(), QList<QByteArray>());
    FDesktop.TrayAvailable = false;
    FService.Received.clear();
}

void TestNotifications::cleanup()
{
    FForm.reset();
    FFolder.reset();
}

void TestNotifications::cleanupTestCase()
{
    KestruneProfile::Release();
}

bool TestNotifications::StartService()
{
    if (FServiceStarted)
        return true;
    // A connection of its own: the messages go through the bus as they do on a desktop.
    QDBusConnection Service = QDBusConnection::connectToBus(FBusAddress, QStringLiteral("service"));
    FServiceStarted = Service.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &FService,
                                             QDBusConnection::ExportAllSlots) &&
                      Service.registerService(QStringLiteral("org.freedesktop.Notifications"));
    return FServiceStarted;
}

void TestNotifications::withoutServiceNothingWaits()
{
    // No notification service on the bus: the message is lost, the program goes on at once, and a
    // later message finds a service that has come since.
    QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(
        QStringLiteral("org.freedesktop.Notifications")));
    FForm->SiteContentChanged(FForm->Sites[0], nullptr);
    QTest::qWait(200);
    QVERIFY(StartService());
    FForm->SiteContentChanged(FForm->Sites[0], nullptr);
    QVERIFY(QTest::qWaitFor([this] { return !FService.Received.isEmpty(); }, 10000));
}

void TestNotifications::changeWithoutTrayIsDesktopNotification()
{
    QVERIFY(StartService());
    TKestrunSite *Site = FForm->Sites[0];
    FForm->SiteContentChanged(Site, nullptr);
    QVERIFY(QTest::qWaitFor([this] { return !FService.Received.isEmpty(); }, 10000));
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
}

void TestNotifications::changeWithTrayStaysInTray()
{
    QVERIFY(StartService());
    FDesktop.TrayAvailable = true;
    FForm->TrayIcon->show();
    FForm->SiteContentChanged(FForm->Sites[0], nullptr);
    // The tray icon shows the balloon itself; nothing goes to the service besides it.
    QTest::qWait(500);
    QVERIFY(FService.Received.isEmpty());
}

void TestNotifications::pageNotificationWithoutTray()
{
    QVERIFY(StartService());
    TTestServer Server;
    Server.Replies.insert("/", HttpReply("200 OK",
                                         "<html><head><title>Chat</title></head><body>chat</body></html>",
                                         "Content-Type: text/html\r\n"));
    TKestrunSite *Site = FForm->Sites[0];
    Site->SetURL(Server.Url("/").toUtf8());
    Site->SetBrowserChoice(1);
    Site->SetMinimizeToTaskbar(1);
    FForm->lvSites->setCurrentItem(FForm->lvSites->topLevelItem(0));
    FForm->tbRunClick();
    QCOMPARE(FForm->OpenBrowsers.size(), 1);
    auto *Window = qobject_cast<TfBrowserWin *>(FForm->OpenBrowsers[0].Window.data());
    QVERIFY(Window);
    QVERIFY(QTest::qWaitFor([Window] { return Window->windowTitle() == QStringLiteral("Kestrune: Chat"); },
                            LoadTimeout));
    MessageBoxTest::QueueAnswer(TMsgResult::Yes);
    Window->WebBrowser()->page()->runJavaScript(
        QStringLiteral("Notification.requestPermission().then(p => { document.title = 'asked ' + p; "
                       "new Notification('Hello', {body: 'New message & more'}); });"));
    QVERIFY(QTest::qWaitFor([this] { return !FService.Received.isEmpty(); }, LoadTimeout));
    QCOMPARE(FService.Received[0].Summary, QStringLiteral("Hello"));
    QCOMPARE(FService.Received[0].Body, QStringLiteral("New message &amp; more"));
}

int main(int argc, char **argv)
{
    // A private session bus for this test alone, before anything asks for the session bus.
    QProcess Bus;
    QString Address;
    if (!QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) {
        Bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                  QStringLiteral("--print-address=1")});
        QDeadlineTimer Deadline(20000);
        QByteArray Line;
        if (Bus.waitForStarted(10000)) {
            while (!Line.contains('\n') && !Deadline.hasExpired() && Bus.state() == QProcess::Running) {
                Bus.waitForReadyRead(200);
                Line += Bus.readAllStandardOutput();
            }
        }
        if (Line.contains('\n')) {
            Address = QString::fromLatin1(Line.trimmed());
            qputenv("DBUS_SESSION_BUS_ADDRESS", Address.toLatin1());
        }
    }
    int Result = 0;
    {
        QApplication App(argc, argv);
        TestNotifications Test(Address);
        Result = QTest::qExec(&Test, argc, argv);
    }
    if (Bus.state() == QProcess::Running) {
        Bus.terminate();
        if (!Bus.waitForFinished(5000))
            Bus.kill();
    }
    return Result;
}

#include "tst_notifications.moc"
