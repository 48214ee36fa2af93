#include "PrivateBus.h"
#include "PrivateSession.h"
#include "TestStatusNotifier.h"
#include "platform/TrayIdentity.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QMenu>
#include <QPixmap>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QThread>
#include <QtTest>

#include <memory>

// Tray items as a StatusNotifierItem host sees them: every icon of the program is an item of its own
// on the session bus, and a bar tells them apart by their Id and Title. A watcher of the test's own
// stands in for the desktop's, on a private session bus and a private X server (Qt hands tray icons
// over D-Bus on X11 and Wayland only); the items are read over the bus, as a bar reads them.

namespace {

constexpr int BusTimeout = 10000;
const QString ItemPath = QStringLiteral("/StatusNotifierItem");
const QString ItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString PropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// One property of an item, read with Properties.Get; invalid when the item did not answer.
QVariant ItemProperty(const QString &Item, const QString &Name)
{
    QDBusMessage Ask =
        QDBusMessage::createMethodCall(Item, ItemPath, PropertiesInterface, QStringLiteral("Get"));
    Ask << ItemInterface << Name;
    const QDBusMessage Reply = CallWithoutBlocking(Ask, BusTimeout);
    if (Reply.type() != QDBusMessage::ReplyMessage || Reply.arguments().isEmpty())
        return QVariant();
    return qvariant_cast<QDBusVariant>(Reply.arguments().constFirst()).variant();
}

// Every property of an item, read with Properties.GetAll as hosts read a new item; empty when the
// item did not answer.
QVariantMap ItemProperties(const QString &Item)
{
    QDBusMessage Ask =
        QDBusMessage::createMethodCall(Item, ItemPath, PropertiesInterface, QStringLiteral("GetAll"));
    Ask << ItemInterface;
    const QDBusMessage Reply = CallWithoutBlocking(Ask, BusTimeout);
    if (Reply.type() != QDBusMessage::ReplyMessage || Reply.arguments().isEmpty())
        return {};
    return qdbus_cast<QVariantMap>(Reply.arguments().constFirst());
}

// The sizes of the pictures of an IconPixmap value (a(iiay)) whose bytes fit their size.
QList<QSize> PixmapSizes(const QVariant &Value)
{
    QList<QSize> Sizes;
    const QDBusArgument Pixmaps = qvariant_cast<QDBusArgument>(Value);
    Pixmaps.beginArray();
    while (!Pixmaps.atEnd() && Sizes.size() < 64) {
        int Width = 0;
        int Height = 0;
        QByteArray Bytes;
        Pixmaps.beginStructure();
        Pixmaps >> Width >> Height >> Bytes;
        Pixmaps.endStructure();
        if (Bytes.size() == qsizetype(Width) * Height * 4)
            Sizes << QSize(Width, Height);
    }
    Pixmaps.endArray();
    return Sizes;
}

// The title of a ToolTip value ((sa(iiay)ss): icon name, pictures, title, text).
QString ToolTipTitle(const QVariant &Value)
{
    const QDBusArgument ToolTip = qvariant_cast<QDBusArgument>(Value);
    QString IconName;
    QString Title;
    ToolTip.beginStructure();
    ToolTip >> IconName;
    ToolTip.beginArray();
    while (!ToolTip.atEnd()) {
        int Width = 0;
        int Height = 0;
        QByteArray Bytes;
        ToolTip.beginStructure();
        ToolTip >> Width >> Height >> Bytes;
        ToolTip.endStructure();
    }
    ToolTip.endArray();
    ToolTip >> Title;
    return Title;
}

QIcon SquareIcon(Qt::GlobalColor Color)
{
    QPixmap Picture(22, 22);
    Picture.fill(Color);
    return QIcon(Picture);
}

} // namespace

// Counts one signal of one item as a host hears it.
class TItemSignal : public QObject
{
    Q_OBJECT

public:
    TItemSignal(const QString &Item, const QString &Name) : FItem(Item), FName(Name)
    {
        FListening =
            QDBusConnection::sessionBus().connect(FItem, ItemPath, ItemInterface, FName, this, SLOT(Heard()));
    }
    ~TItemSignal() override
    {
        QDBusConnection::sessionBus().disconnect(FItem, ItemPath, ItemInterface, FName, this, SLOT(Heard()));
    }
    bool Listening() const { return FListening; }
    int Count = 0;

public slots:
    void Heard() { ++Count; }

private:
    QString FItem;
    QString FName;
    bool FListening = false;
};

class TestTrayIdentity : public QObject
{
    Q_OBJECT

public:
    TestTrayIdentity(QString BusAddress, bool XServer) : FBusAddress(std::move(BusAddress)), FXServer(XServer)
    {}

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void eachItemCarriesItsOwnNames();
    void namesHoldThroughHideAndShow();
    void namesGivenWhileShownReachTheHost();
    void everythingElseIsStillQts();
    void textsThatDBusCannotCarry_data();
    void textsThatDBusCannotCarry();

private:
    // The registered item whose Id is Id, waited for; empty when none came.
    QString ItemWithId(const QString &Id);
    QSystemTrayIcon *NewIcon(Qt::GlobalColor Color, bool WithMenu);

    QString FBusAddress;
    bool FXServer;
    QThread FWatcherThread;
    TStatusNotifierWatcher *FWatcher = nullptr;
    QStringList FItems;
    std::unique_ptr<QObject> FOwner;
};

void TestTrayIdentity::initTestCase()
{
    if (FBusAddress.isEmpty())
        QSKIP("dbus-daemon is needed");
    if (!FXServer)
        QSKIP("Xvfb is needed: Qt hands tray icons over D-Bus on X11 and Wayland only");
    FWatcherThread.start();
    FWatcher = new TStatusNotifierWatcher;
    FWatcher->moveToThread(&FWatcherThread);
    connect(FWatcher, &TStatusNotifierWatcher::ItemRegistered, this,
            [this](const QString &Service) { FItems << Service; });
    QDBusConnection Watcher = QDBusConnection::connectToBus(FBusAddress, QStringLiteral("watcher"));
    QVERIFY(Watcher.registerObject(QStringLiteral("/StatusNotifierWatcher"), FWatcher,
                                   QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
    QVERIFY(Watcher.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));
    QVERIFY(QSystemTrayIcon::isSystemTrayAvailable());
}

void TestTrayIdentity::init()
{
    FItems.clear();
    FOwner = std::make_unique<QObject>();
}

void TestTrayIdentity::cleanup()
{
    FOwner.reset();
}

void TestTrayIdentity::cleanupTestCase()
{
    if (FWatcher) {
        QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
        QMetaObject::invokeMethod(FWatcher, &QObject::deleteLater);
        FWatcher = nullptr;
    }
    FWatcherThread.quit();
    FWatcherThread.wait(10000);
}

QSystemTrayIcon *TestTrayIdentity::NewIcon(Qt::GlobalColor Color, bool WithMenu)
{
    auto *Icon = new QSystemTrayIcon(SquareIcon(Color), FOwner.get());
    if (WithMenu) {
        auto *Menu = new QMenu;
        connect(Icon, &QObject::destroyed, Menu, &QObject::deleteLater);
        Menu->addAction(QStringLiteral("Show"));
        Icon->setContextMenu(Menu);
    }
    return Icon;
}

QString TestTrayIdentity::ItemWithId(const QString &Id)
{
    QString Found;
    const bool Seen = QTest::qWaitFor(
        [&] {
            for (const QString &Item : std::as_const(FItems)) {
                if (ItemProperty(Item, QStringLiteral("Id")).toString() == Id) {
                    Found = Item;
                    return true;
                }
            }
            return false;
        },
        BusTimeout);
    return Seen ? Found : QString();
}

// The main icon keeps the program's name; each site's icon says which site it is, whether a host
// asks for one property or for all of them.
void TestTrayIdentity::eachItemCarriesItsOwnNames()
{
    QSystemTrayIcon *Main = NewIcon(Qt::darkGreen, true);
    QSystemTrayIcon *Mail = NewIcon(Qt::red, true);
    QSystemTrayIcon *News = NewIcon(Qt::blue, false);
    QVERIFY(SetTrayIconIdentity(*Mail, QStringLiteral("kestrune-Mail"), QStringLiteral("Mail")));
    QVERIFY(SetTrayIconIdentity(*News, QStringLiteral("kestrune-Daily_News-1a2b3c4d"),
                                QStringLiteral("Daily News \u00e9t\u00e9 \U0001F4F0")));
    Main->show();
    Mail->show();
    News->show();
    QTRY_COMPARE_WITH_TIMEOUT(FItems.size(), 3, BusTimeout);

    QList<std::pair<QString, QString>> Seen;
    for (const QString &Item : std::as_const(FItems)) {
        const QString Id = ItemProperty(Item, QStringLiteral("Id")).toString();
        const QString Title = ItemProperty(Item, QStringLiteral("Title")).toString();
        const QVariantMap All = ItemProperties(Item);
        QCOMPARE(All.value(QStringLiteral("Id")).toString(), Id);
        QCOMPARE(All.value(QStringLiteral("Title")).toString(), Title);
        Seen << std::pair(Id, Title);
    }
    std::sort(Seen.begin(), Seen.end());
    const QList<std::pair<QString, QString>> Wanted{
        {QStringLiteral("Kestrune"), QStringLiteral("Kestrune")},
        {QStringLiteral("kestrune-Daily_News-1a2b3c4d"),
         QStringLiteral("Daily News \u00e9t\u00e9 \U0001F4F0")},
        {QStringLiteral("kestrune-Mail"), QStringLiteral("Mail")},
    };
    QCOMPARE(Seen, Wanted);
}

// Qt registers an item anew at every show, on a new connection: the names come with it each time.
void TestTrayIdentity::namesHoldThroughHideAndShow()
{
    QSystemTrayIcon *Icon = NewIcon(Qt::red, true);
    QVERIFY(SetTrayIconIdentity(*Icon, QStringLiteral("kestrune-Chat"), QStringLiteral("Chat")));
    for (int Round = 0; Round < 3; ++Round) {
        FItems.clear();
        Icon->show();
        QTRY_COMPARE_WITH_TIMEOUT(FItems.size(), 1, BusTimeout);
        const QVariantMap All = ItemProperties(FItems[0]);
        QCOMPARE(All.value(QStringLiteral("Id")).toString(), QStringLiteral("kestrune-Chat"));
        QCOMPARE(All.value(QStringLiteral("Title")).toString(), QStringLiteral("Chat"));
        Icon->hide();
    }
}

// Named late, or renamed while shown: the host is told that the title changed and reads the new one.
void TestTrayIdentity::namesGivenWhileShownReachTheHost()
{
    QSystemTrayIcon *Icon = NewIcon(Qt::red, true);
    Icon->show();
    const QString Item = ItemWithId(QStringLiteral("Kestrune"));
    QVERIFY(!Item.isEmpty());
    TItemSignal NewTitle(Item, QStringLiteral("NewTitle"));
    QVERIFY(NewTitle.Listening());

    QVERIFY(SetTrayIconIdentity(*Icon, QStringLiteral("kestrune-Board"), QStringLiteral("Board")));
    QTRY_COMPARE_WITH_TIMEOUT(NewTitle.Count, 1, BusTimeout);
    QCOMPARE(ItemProperty(Item, QStringLiteral("Title")).toString(), QStringLiteral("Board"));
    QCOMPARE(ItemProperty(Item, QStringLiteral("Id")).toString(), QStringLiteral("kestrune-Board"));

    QVERIFY(SetTrayIconIdentity(*Icon, QStringLiteral("kestrune-Board_2"), QStringLiteral("Board 2")));
    QTRY_COMPARE_WITH_TIMEOUT(NewTitle.Count, 2, BusTimeout);
    QCOMPARE(ItemProperties(Item).value(QStringLiteral("Title")).toString(), QStringLiteral("Board 2"));
}

// The item answers for the icon as Qt made it: pictures, tooltip, menu, status, clicks and the
// signals that tell the host of a change.
void TestTrayIdentity::everythingElseIsStillQts()
{
    QSystemTrayIcon *WithMenu = NewIcon(Qt::red, true);
    QSystemTrayIcon *Plain = NewIcon(Qt::blue, false);
    WithMenu->setToolTip(QStringLiteral("Mail (3)"));
    QVERIFY(SetTrayIconIdentity(*WithMenu, QStringLiteral("kestrune-Mail"), QStringLiteral("Mail")));
    QVERIFY(SetTrayIconIdentity(*Plain, QStringLiteral("kestrune-News"), QStringLiteral("News")));
    WithMenu->show();
    Plain->show();
    const QString Item = ItemWithId(QStringLiteral("kestrune-Mail"));
    const QString PlainItem = ItemWithId(QStringLiteral("kestrune-News"));
    QVERIFY(!Item.isEmpty() && !PlainItem.isEmpty());

    const QVariantMap All = ItemProperties(Item);
    QCOMPARE(PixmapSizes(All.value(QStringLiteral("IconPixmap"))).value(0), QSize(22, 22));
    QCOMPARE(ToolTipTitle(All.value(QStringLiteral("ToolTip"))), QStringLiteral("Mail (3)"));
    QCOMPARE(qvariant_cast<QDBusObjectPath>(All.value(QStringLiteral("Menu"))).path(),
             QStringLiteral("/MenuBar"));
    QCOMPARE(All.value(QStringLiteral("Status")).toString(), QStringLiteral("Active"));
    QCOMPARE(All.value(QStringLiteral("Category")).toString(), QStringLiteral("ApplicationStatus"));
    QCOMPARE(All.value(QStringLiteral("ItemIsMenu")).toBool(), false);
    QCOMPARE(qvariant_cast<QDBusObjectPath>(ItemProperty(PlainItem, QStringLiteral("Menu"))).path(),
             QStringLiteral("/NO_DBUSMENU"));
    QCOMPARE(PixmapSizes(ItemProperty(Item, QStringLiteral("IconPixmap"))).value(0), QSize(22, 22));

    // Clicks on the item are clicks on the icon.
    const QList<std::pair<QString, QSystemTrayIcon::ActivationReason>> Clicks{
        {QStringLiteral("Activate"), QSystemTrayIcon::Trigger},
        {QStringLiteral("SecondaryActivate"), QSystemTrayIcon::MiddleClick},
    };
    for (const auto &[Method, Reason] : Clicks) {
        QSignalSpy Activated(WithMenu, &QSystemTrayIcon::activated);
        QDBusMessage Click = QDBusMessage::createMethodCall(Item, ItemPath, ItemInterface, Method);
        Click << 10 << 20;
        QCOMPARE(CallWithoutBlocking(Click, BusTimeout).type(), QDBusMessage::ReplyMessage);
        QTRY_COMPARE_WITH_TIMEOUT(Activated.size(), 1, BusTimeout);
        QCOMPARE(Activated[0].value(0).value<QSystemTrayIcon::ActivationReason>(), Reason);
    }

    // A new tooltip and a new picture are announced, and read as they are now.
    TItemSignal NewToolTip(Item, QStringLiteral("NewToolTip"));
    TItemSignal NewIcon(Item, QStringLiteral("NewIcon"));
    QVERIFY(NewToolTip.Listening() && NewIcon.Listening());
    WithMenu->setToolTip(QStringLiteral("Mail (4)"));
    QPixmap Bigger(32, 32);
    Bigger.fill(Qt::green);
    WithMenu->setIcon(QIcon(Bigger));
    QTRY_VERIFY_WITH_TIMEOUT(NewToolTip.Count >= 1 && NewIcon.Count >= 1, BusTimeout);
    QCOMPARE(ToolTipTitle(ItemProperty(Item, QStringLiteral("ToolTip"))), QStringLiteral("Mail (4)"));
    QCOMPARE(PixmapSizes(ItemProperty(Item, QStringLiteral("IconPixmap"))).value(0), QSize(32, 32));
}

void TestTrayIdentity::textsThatDBusCannotCarry_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("shownId");
    QTest::addColumn<QString>("shownTitle");
    const QChar Nul(0);
    const QChar LoneHigh(0xD83D);
    QTest::newRow("a NUL inside") << QStringLiteral("kestrune-A")
                                  << (QStringLiteral("Ma") + Nul + QStringLiteral("il"))
                                  << QStringLiteral("kestrune-A") << QStringLiteral("Mail");
    QTest::newRow("a lone surrogate half")
        << (QStringLiteral("kestrune-B") + LoneHigh) << (LoneHigh + QStringLiteral("News"))
        << QStringLiteral("kestrune-B") << QStringLiteral("News");
    QTest::newRow("nothing left: the program's name")
        << QString(Nul) << QString(LoneHigh) << QStringLiteral("Kestrune") << QStringLiteral("Kestrune");
    QTest::newRow("empty: the program's name")
        << QString() << QString() << QStringLiteral("Kestrune") << QStringLiteral("Kestrune");
}

// A site's title is the user's text: whatever it holds, the item still answers, and in one piece.
void TestTrayIdentity::textsThatDBusCannotCarry()
{
    QFETCH(QString, id);
    QFETCH(QString, title);
    QFETCH(QString, shownId);
    QFETCH(QString, shownTitle);
    QSystemTrayIcon *Icon = NewIcon(Qt::red, true);
    QVERIFY(SetTrayIconIdentity(*Icon, id, title));
    Icon->show();
    QTRY_COMPARE_WITH_TIMEOUT(FItems.size(), 1, BusTimeout);
    const QVariantMap All = ItemProperties(FItems[0]);
    QCOMPARE(All.value(QStringLiteral("Id")).toString(), shownId);
    QCOMPARE(All.value(QStringLiteral("Title")).toString(), shownTitle);
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
        // As the program names itself: Qt's own answer for Id and Title.
        QApplication::setApplicationName(QStringLiteral("Kestrune"));
        TestTrayIdentity Test(Address, !Display.isEmpty());
        Result = QTest::qExec(&Test, argc, argv);
    }
    StopPrivateXServer(XServer);
    StopPrivateSessionBus(Bus);
    return Result;
}

#include "tst_trayidentity.moc"
