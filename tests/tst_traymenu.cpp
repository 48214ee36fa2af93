#include "BrowserWin.h"
#include "ChangesWin.h"
#include "KestruneVersion.h"
#include "Main.h"
#include "PrivateBus.h"
#include "PrivateSession.h"
#include "RunTexts.h"
#include "Settings.h"
#include "TestDesktopServices.h"
#include "TestHttpServer.h"
#include "TestNotificationService.h"
#include "TestStatusNotifier.h"
#include "platform/MessageBoxes.h"

#include "platform/WebProfile.h"

#include <QApplication>
#include <QComboBox>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QMenu>
#include <QPainter>
#include <QSettings>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QThread>
#include <QTreeWidget>
#include <QtTest>

// Tray icons on desktops whose tray is a StatusNotifierItem host (KDE Plasma, GNOME with the
// AppIndicator extension): Qt registers each icon with the session's StatusNotifierWatcher and hands
// its menu over D-Bus (com.canonical.dbusmenu), where the host shows each entry's "label" with '_' as
// the access-key mark. A watcher of the test's own stands in for the desktop's, on a private session
// bus and a private X server; the menus are read as a host reads them. Balloons there are desktop
// notifications, which a stand-in notification service records and clicks.

namespace {

constexpr int LoadTimeout = 10000;
constexpr int BusTimeout = 10000;

// What a host shows of a dbusmenu label: "__" is one '_', any other '_' only marks the access key.
QString ShownLabel(const QString &Label)
{
    QString Shown;
    for (qsizetype i = 0; i < Label.size(); ++i) {
        if (Label[i] != QLatin1Char('_'))
            Shown += Label[i];
        else if (i + 1 < Label.size() && Label[i + 1] == QLatin1Char('_'))
            Shown += Label[++i];
    }
    return Shown;
}

// The labels of a GetLayout answer's entries, depth first; separators have none.
void ReadLabels(const QDBusArgument &Item, QStringList &Labels, int Depth = 0)
{
    int Id = 0;
    QVariantMap Properties;
    Item.beginStructure();
    Item >> Id >> Properties;
    if (Depth > 0 && Properties.contains(QStringLiteral("label")))
        Labels << Properties.value(QStringLiteral("label")).toString();
    Item.beginArray();
    while (!Item.atEnd()) {
        QDBusVariant Child;
        Item >> Child;
        if (Depth < 8)
            ReadLabels(qvariant_cast<QDBusArgument>(Child.variant()), Labels, Depth + 1);
    }
    Item.endArray();
    Item.endStructure();
}

QByteArray PageTitled(const QString &Title)
{
    const QByteArray Page =
        "<html><head><title>" + Title.toHtmlEscaped().toUtf8() + "</title></head><body>x</body></html>";
    return "data:text/html;charset=utf-8," + Page.toPercentEncoding();
}

} // namespace

class TestTrayMenu : public QObject
{
    Q_OBJECT

public:
    TestTrayMenu(QString BusAddress, bool XServer) : FBusAddress(std::move(BusAddress)), FXServer(XServer) {}

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void menusShowTitlesExactly_data();
    void menusShowTitlesExactly();
    void balloonIsOwnNotificationThatAloneClicks();
    void watchedSiteSaysWhenItChanged();

private:
    void OpenForm(const QList<std::pair<QByteArray, quint8>> &Sites);
    // The labels of the menu of the registered item whose first label is First ("" : any).
    QStringList MenuLabels(const QString &Item);
    QString ItemWithMenu(const std::function<bool(const QStringList &)> &Wanted, QStringList *Labels);

    QString FBusAddress;
    bool FXServer;
    QThread FWatcherThread;
    TStatusNotifierWatcher *FWatcher = nullptr;
    QStringList FItems;
    TTestDesktopServices FDesktop;
    TWebProfile FProfile;
    TNotificationService FService;
    std::unique_ptr<QTemporaryDir> FFolder;
    std::unique_ptr<TfMainForm> FForm;
};

void TestTrayMenu::initTestCase()
{
    if (FBusAddress.isEmpty())
        QSKIP("dbus-daemon is needed");
    if (!FXServer)
        QSKIP("Xvfb is needed: Qt hands tray menus over D-Bus on X11 and Wayland only");
    // The window's start-up would otherwise ask the product's server for a newer version.
    QSettings Store(SettingsOrganization, SettingsApplication);
    Store.setValue(LastUpdateCheckKey, EncodeLastUpdateCheck(QDateTime::currentDateTime()));
    MessageBoxTest::Enable();

    // The watcher has to be there before the first tray icon: Qt looks for it once per run.
    FWatcherThread.start();
    FWatcher = new TStatusNotifierWatcher;
    FWatcher->moveToThread(&FWatcherThread);
    connect(FWatcher, &TStatusNotifierWatcher::ItemRegistered, this,
            [this](const QString &Service) { FItems << Service; });
    QDBusConnection Watcher = QDBusConnection::connectToBus(FBusAddress, QStringLiteral("watcher"));
    QVERIFY(Watcher.registerObject(QStringLiteral("/StatusNotifierWatcher"), FWatcher,
                                   QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
    QVERIFY(Watcher.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));
    FDesktop.TrayAvailable = std::nullopt;
    QVERIFY(QSystemTrayIcon::isSystemTrayAvailable());
}

void TestTrayMenu::init()
{
    FItems.clear();
    FService.Received.clear();
    FFolder = std::make_unique<QTemporaryDir>();
    QVERIFY(FFolder->isValid());
}

void TestTrayMenu::cleanup()
{
    FForm.reset();
    FFolder.reset();
}

void TestTrayMenu::cleanupTestCase()
{
    if (FWatcher) {
        QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
        QMetaObject::invokeMethod(FWatcher, &QObject::deleteLater);
        FWatcher = nullptr;
    }
    FWatcherThread.quit();
    FWatcherThread.wait(10000);
}

void TestTrayMenu::OpenForm(const QList<std::pair<QByteArray, quint8>> &Specs)
{
    TKestrunCollection Sites;
    for (const auto &[Title, MinimizeToTaskbar] : Specs) {
        auto Site = std::make_unique<TKestrunSite>();
        Site->SetTitle(Title);
        Site->SetURL(PageTitled(QString::fromUtf8(Title)));
        Site->SetBrowserChoice(1);
        Site->SetMinimizeToTaskbar(MinimizeToTaskbar);
        Sites.Add(std::move(Site));
    }
    QVERIFY(SaveSites(FFolder->path(), Sites));
    FForm = std::make_unique<TfMainForm>(FDesktop, FProfile, FFolder->path(), QList<QByteArray>());
}

QStringList TestTrayMenu::MenuLabels(const QString &Item)
{
    QDBusMessage Ask = QDBusMessage::createMethodCall(Item, QStringLiteral("/StatusNotifierItem"),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    Ask << QStringLiteral("org.kde.StatusNotifierItem") << QStringLiteral("Menu");
    const QDBusMessage MenuReply = CallWithoutBlocking(Ask);
    if (MenuReply.type() != QDBusMessage::ReplyMessage || MenuReply.arguments().isEmpty())
        return {};
    const QVariant Menu = qvariant_cast<QDBusVariant>(MenuReply.arguments().constFirst()).variant();
    const QString MenuPath = qvariant_cast<QDBusObjectPath>(Menu).path();
    if (MenuPath.isEmpty())
        return {};
    QDBusMessage Layout = QDBusMessage::createMethodCall(
        Item, MenuPath, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("GetLayout"));
    Layout << 0 << -1 << QStringList();
    const QDBusMessage Reply = CallWithoutBlocking(Layout);
    if (Reply.type() != QDBusMessage::ReplyMessage || Reply.arguments().size() != 2)
        return {};
    QStringList Labels;
    ReadLabels(qvariant_cast<QDBusArgument>(Reply.arguments().at(1)), Labels);
    return Labels;
}

QString TestTrayMenu::ItemWithMenu(const std::function<bool(const QStringList &)> &Wanted,
                                   QStringList *Labels)
{
    QString Found;
    const bool Seen = QTest::qWaitFor(
        [&] {
            for (const QString &Item : std::as_const(FItems)) {
                const QStringList Shown = MenuLabels(Item);
                if (Wanted(Shown)) {
                    *Labels = Shown;
                    Found = Item;
                    return true;
                }
            }
            return false;
        },
        LoadTimeout);
    if (!Seen) {
        // What the items show instead, for the failure's message.
        Labels->clear();
        for (const QString &Item : std::as_const(FItems))
            *Labels << Item + QLatin1Char(':') + MenuLabels(Item).join(QLatin1Char('|'));
    }
    return Seen ? Found : QString();
}

void TestTrayMenu::menusShowTitlesExactly_data()
{
    QTest::addColumn<QString>("title");
    QTest::newRow("underscore") << QStringLiteral("my_site");
    QTest::newRow("ampersand") << QStringLiteral("a&b");
    QTest::newRow("double underscores at both ends") << QStringLiteral("__init__");
    QTest::newRow("non-ASCII letters and an underscore") << QStringLiteral("Ünïcödé_x");
    QTest::newRow("ampersands and underscores mixed") << QStringLiteral("R&D_Q&A && _");
    QTest::newRow("ampersand at the end") << QStringLiteral("Tom&");
}

void TestTrayMenu::menusShowTitlesExactly()
{
    QFETCH(QString, title);
    const QByteArray Title = title.toUtf8();
    // A site window of its own with its tray icon, and a site in the list only.
    OpenForm({{Title, 0}, {"Plain", 1}});
    FForm->show();
    FForm->HideToTray();
    QVERIFY(FForm->TrayIcon->isVisible());
    FForm->RunSite(FForm->Sites[0], false);
    QCOMPARE(FForm->OpenBrowsers.size(), 1);
    auto *Window = qobject_cast<TfBrowserWin *>(FForm->OpenBrowsers[0].Window.data());
    QVERIFY(Window);
    QTRY_COMPARE_WITH_TIMEOUT(Window->windowTitle(), BrowserCaption(title), LoadTimeout);

    const QString Entry = title + QStringLiteral(" (") + title + QLatin1Char(')');
    QStringList Main;
    const QString MainItem = ItemWithMenu(
        [&](const QStringList &Labels) {
            return Labels.value(0) == QStringLiteral("Show Kestrune") && Labels.size() >= 5 &&
                   ShownLabel(Labels.value(Labels.size() - 2)) == Entry;
        },
        &Main);
    QVERIFY2(!MainItem.isEmpty(), qPrintable(Main.join(QLatin1Char('|'))));
    QStringList Shown;
    for (const QString &Label : std::as_const(Main))
        Shown << ShownLabel(Label);
    QCOMPARE(Shown, (QStringList{QStringLiteral("Show Kestrune"), title, QStringLiteral("Plain"), Entry,
                                 QStringLiteral("Quit")}));

    QStringList Own;
    const QString OwnItem = ItemWithMenu(
        [&](const QStringList &Labels) {
            return Labels.size() == 2 && Labels.value(1) == QStringLiteral("Close window");
        },
        &Own);
    QVERIFY(!OwnItem.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(ShownLabel(MenuLabels(OwnItem).value(0)), QStringLiteral("Show ") + title,
                              LoadTimeout);
}

// The list says which sites are watched; once the monitor has seen a change, the site's tray entry
// says when, as the tray host shows it.
void TestTrayMenu::watchedSiteSaysWhenItChanged()
{
    TTestServer Server;
    Server.Replies.insert("/news", HttpReply("200 OK", "<html><head><title>Watched</title></head>one</html>",
                                             "Content-Type: text/html\r\n"));
    OpenForm({{"Watched", 1}, {"Plain", 1}});
    FForm->Sites[0]->SetURL(Server.Url("/news").toUtf8());
    FForm->Sites[0]->SetMonitorChanges(1);
    FForm->Sites[0]->SetMonitorInterval(1);
    FForm->FillSiteList();
    QCOMPARE(FForm->lvSites->topLevelItem(0)->text(2), QStringLiteral("each 3 minutes"));
    QCOMPARE(FForm->lvSites->topLevelItem(1)->text(2), QString());
    FForm->show();
    FForm->HideToTray();
    FForm->RunSite(FForm->Sites[0], false);
    auto *Window = qobject_cast<TfBrowserWin *>(FForm->OpenBrowsers.value(0).Window.data());
    QVERIFY(Window);
    QTRY_COMPARE_WITH_TIMEOUT(Window->windowTitle(), BrowserCaption(QStringLiteral("Watched")), LoadTimeout);

    // The page changes under the monitor.
    Window->Monitor().SetTimingForTests(50, {300, 300, 300});
    QTRY_VERIFY_WITH_TIMEOUT(Server.Requests.size() >= 2, LoadTimeout);
    Server.Replies.insert("/news", HttpReply("200 OK", "<html><head><title>Watched</title></head>two</html>",
                                             "Content-Type: text/html\r\n"));
    QStringList Main;
    const QString MainItem = ItemWithMenu(
        [&](const QStringList &Labels) {
            return Labels.value(0) == QStringLiteral("Show Kestrune") &&
                   ShownLabel(Labels.value(1)).startsWith(QStringLiteral("Watched \u2014 changed "));
        },
        &Main);
    QVERIFY2(!MainItem.isEmpty(), qPrintable(Main.join(QLatin1Char('|'))));
    QCOMPARE(ShownLabel(Main.value(2)), QStringLiteral("Plain"));
    // The same entry, which still opens its own site.
    auto *Entry = qobject_cast<QAction *>(FForm->Sites[0]->MenuItem());
    QVERIFY(Entry && FForm->pmTray->actions().contains(Entry));
    QVERIFY(Entry->text().startsWith(QStringLiteral("Watched \u2014 changed ")));

    // The change is kept with the text before and after, and shown as a diff: from the site's menu
    // and from a click on its notification.
    const QList<TChangeRecord> History = FForm->WatchOf(*FForm->Sites[0]).History;
    QCOMPARE(History.size(), 1);
    QCOMPARE(History[0].Before, QStringLiteral("one"));
    QCOMPARE(History[0].After, QStringLiteral("two"));
    const auto ChangesWindows = [] {
        QList<TfChangesWin *> Found;
        for (QWidget *Window : QApplication::topLevelWidgets()) {
            if (auto *Changes = qobject_cast<TfChangesWin *>(Window); Changes && Changes->isVisible())
                Found << Changes;
        }
        return Found;
    };
    FForm->lvSites->setCurrentItem(FForm->lvSites->topLevelItem(0));
    QVERIFY(FForm->miWhatChanged->isEnabled());
    FForm->miWhatChanged->trigger();
    QCOMPARE(ChangesWindows().size(), 1);
    TfChangesWin *Changes = ChangesWindows().first();
    QCOMPARE(Changes->windowTitle(), QStringLiteral("What changed: Watched"));
    QCOMPARE(Changes->edUnified->toPlainText(), QStringLiteral("- one\n+ two"));
    Changes->cmbView->setCurrentIndex(1);
    QCOMPARE(Changes->edBefore->toPlainText(), QStringLiteral("one"));
    QCOMPARE(Changes->edAfter->toPlainText(), QStringLiteral("two"));
    Changes->close();
    QTRY_VERIFY(ChangesWindows().isEmpty());

    QVERIFY(FService.Start(FBusAddress));
    FService.Received.clear();
    FForm->SiteContentChanged(FForm->Sites[0], Window);
    QVERIFY(NotificationBarrier(FDesktop, FService));
    QCOMPARE(FService.Received.size(), 1);
    FService.InvokeAction(FService.Received[0].Id, QStringLiteral("default"));
    QTRY_COMPARE_WITH_TIMEOUT(ChangesWindows().size(), 1, BusTimeout);
    ChangesWindows().first()->close();
}

void TestTrayMenu::balloonIsOwnNotificationThatAloneClicks()
{
    QVERIFY(FService.Start(FBusAddress));
    // A site without tray icon, and one that runs as a tray icon, hidden to it.
    OpenForm({{"News_today", 1}, {"Chat_room", 0}});
    FForm->show();
    FForm->HideToTray();
    QVERIFY(FForm->TrayMenuOverDBus());
    FForm->RunSite(FForm->Sites[0], false);
    FForm->RunSite(FForm->Sites[1], true);
    QCOMPARE(FForm->OpenBrowsers.size(), 2);
    QPointer<TfBrowserWin> Window = qobject_cast<TfBrowserWin *>(FForm->OpenBrowsers[0].Window.data());
    QPointer<TfBrowserWin> InTray = qobject_cast<TfBrowserWin *>(FForm->OpenBrowsers[1].Window.data());
    QVERIFY(Window && InTray);
    QTRY_COMPARE_WITH_TIMEOUT(Window->windowTitle(), BrowserCaption(QStringLiteral("News_today")),
                              LoadTimeout);
    Window->showMinimized();
    QVERIFY(!InTray->isVisible());
    QSignalSpy Balloons(FForm.get(), &TfMainForm::BalloonShown);

    // The host would show Qt's balloon as a notification that cannot be clicked: ours goes instead.
    FForm->SiteContentChanged(FForm->Sites[0], Window);
    QVERIFY(NotificationBarrier(FDesktop, FService));
    QCOMPARE(FService.Received.size(), 1);
    const TNotification Got = FService.Received[0];
    QCOMPARE(Got.Summary, ChangeBalloonTitle("News_today"));
    QCOMPARE(Got.DesktopEntry, QStringLiteral(KESTRUNE_APP_ID));
    QCOMPARE(Got.Actions.value(0), QStringLiteral("default"));
    QCOMPARE(Balloons.size(), 0);

    // Qt takes any click on any notification of the bus for a click on its icons' balloons.
    QSignalSpy QtClicks(FForm->TrayIcon, &QSystemTrayIcon::messageClicked);
    QSignalSpy QtOwnClicks(InTray->BrowserTrayIcon(), &QSystemTrayIcon::messageClicked);
    FService.InvokeAction(Got.Id + 1, QStringLiteral("default"));
    QTRY_VERIFY_WITH_TIMEOUT(QtClicks.size() >= 1 && QtOwnClicks.size() >= 1, BusTimeout);
    QVERIFY(Window->isMinimized());
    QVERIFY(!InTray->isVisible());

    FService.InvokeAction(Got.Id, QStringLiteral("default"));
    QTRY_VERIFY_WITH_TIMEOUT(Window->isVisible() && !Window->isMinimized(), BusTimeout);
    QVERIFY(!InTray->isVisible());
}

int main(int argc, char **argv)
{
    QProcess Bus;
    const QString Address = StartPrivateSessionBus(Bus);
    QProcess XServer;
    const QString Display = StartPrivateXServer(XServer);
    if (!Display.isEmpty()) {
        qputenv("DISPLAY", Display.toLatin1());
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    int Result = 0;
    {
        QApplication App(argc, argv);
        QPixmap Icon(16, 16);
        Icon.fill(Qt::darkGreen);
        QApplication::setWindowIcon(QIcon(Icon));
        TestTrayMenu Test(Address, !Display.isEmpty());
        Result = QTest::qExec(&Test, argc, argv);
    }
    StopPrivateXServer(XServer);
    StopPrivateSessionBus(Bus);
    return Result;
}

#include "tst_traymenu.moc"
