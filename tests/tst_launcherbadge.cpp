#include "BrowserWin.h"
#include "CountBadge.h"
#include "KestruneClasses.h"
#include "PrivateBus.h"
#include "TestHttpServer.h"
#include "platform/EmbeddedWB.h"
#include "platform/FreedesktopServices.h"
#include "platform/LauncherEntries.h"
#include "platform/WebProfile.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QtTest>

// Counts on the site launchers in docks: the launcher-entry signals and the Query answer as a dock
// gets them, on a connection of its own to a private session bus.

namespace {

constexpr int BusTimeout = 10000;
const QString Mail = QStringLiteral("kestrune-Mail.desktop");
const QString Chat = QStringLiteral("kestrune-Chat & more.desktop");

struct TUpdate
{
    QString Sender, Path, AppUri;
    QVariantMap Properties;
};

// A dock: hears every Update of the launcher-entry interface, from anyone and any path.
class TDock : public QObject
{
    Q_OBJECT

public:
    QList<TUpdate> Updates;

    bool Start(const QString &BusAddress)
    {
        FBus = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(BusAddress, QStringLiteral("dock")));
        return FBus->isConnected() &&
               FBus->connect(QString(), QString(), TLauncherEntries::Interface, QStringLiteral("Update"),
                             this, SLOT(Heard(QDBusMessage)));
    }
    QDBusConnection &Bus() { return *FBus; }

    // The updates that came until the next one for DesktopId did, that one included.
    QList<TUpdate> UpdatesUntil(const QString &DesktopId)
    {
        const QString Uri = QStringLiteral("application://") + DesktopId;
        const auto Arrived = [&] {
            return std::any_of(Updates.cbegin(), Updates.cend(),
                               [&Uri](const TUpdate &Update) { return Update.AppUri == Uri; });
        };
        if (!QTest::qWaitFor(Arrived, BusTimeout))
            return {};
        return std::exchange(Updates, {});
    }

private slots:
    void Heard(const QDBusMessage &Signal)
    {
        const QList<QVariant> Arguments = Signal.arguments();
        TUpdate Update{Signal.service(), Signal.path(), QString(), QVariantMap()};
        if (Arguments.size() == 2 && Signal.signature() == QLatin1String("sa{sv}")) {
            Update.AppUri = Arguments[0].toString();
            Update.Properties = qdbus_cast<QVariantMap>(Arguments[1]);
        }
        Updates.append(Update);
    }

private:
    std::unique_ptr<QDBusConnection> FBus;
};

// A launcher that shows nothing from another program: a fence after what a test sends, since a
// sender's signals reach the dock in their order.
const QString Fence = QStringLiteral("kestrune-fence.desktop");

} // namespace

class TestLauncherBadge : public QObject
{
    Q_OBJECT

public:
    explicit TestLauncherBadge(QString BusAddress) : FBusAddress(std::move(BusAddress)) {}

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void countShowsAndGoes();
    void sameCountIsNotSentAgain();
    void invalidDesktopIdSendsNothing_data();
    void invalidDesktopIdSendsNothing();
    void queryAnswersWithTheCounts();
    void countsGoWithTheServices();
    void siteWindowShowsItsPageCount();

private:
    // What the dock heard until the services' fence arrived; the fence's own update taken off.
    QList<TUpdate> HeardUntilFence();
    QDBusMessage Query(const QString &Service, const QString &Path);

    QString FBusAddress;
    TDock FDock;
    std::unique_ptr<TFreedesktopServices> FServices;
};

void TestLauncherBadge::initTestCase()
{
    if (FBusAddress.isEmpty())
        QSKIP("dbus-daemon is needed");
    QVERIFY(QDBusConnection::sessionBus().isConnected());
    QVERIFY(FDock.Start(FBusAddress));
    qDBusRegisterMetaType<TLauncherEntryState>();
    qDBusRegisterMetaType<QList<TLauncherEntryState>>();
}

void TestLauncherBadge::init()
{
    FServices = std::make_unique<TFreedesktopServices>();
    FDock.Updates.clear();
}

void TestLauncherBadge::cleanup()
{
    FServices.reset();
    // The counts the services took away as they went.
    QTest::qWait(50);
    QCoreApplication::processEvents();
}

QList<TUpdate> TestLauncherBadge::HeardUntilFence()
{
    FServices->SetLauncherCount(Fence, 1);
    QList<TUpdate> Heard = FDock.UpdatesUntil(Fence);
    if (Heard.isEmpty() || Heard.constLast().AppUri != QStringLiteral("application://") + Fence)
        return {{QStringLiteral("no fence"), QString(), QString(), QVariantMap()}};
    Heard.removeLast();
    FServices->SetLauncherCount(Fence, 0);
    FDock.UpdatesUntil(Fence);
    return Heard;
}

QDBusMessage TestLauncherBadge::Query(const QString &Service, const QString &Path)
{
    const QDBusMessage Call =
        QDBusMessage::createMethodCall(Service, Path, TLauncherEntries::Interface, QStringLiteral("Query"));
    // Answered on this thread: the wait must let it run.
    const QDBusPendingCall Pending = FDock.Bus().asyncCall(Call, BusTimeout);
    if (!QTest::qWaitFor([&Pending] { return Pending.isFinished(); }, BusTimeout + 1000))
        return QDBusMessage();
    return Pending.reply();
}

void TestLauncherBadge::countShowsAndGoes()
{
    TDesktopServices &Desktop = *FServices;
    Desktop.SetLauncherCount(Mail, 3);
    QList<TUpdate> Heard = FDock.UpdatesUntil(Mail);
    QCOMPARE(Heard.size(), 1);
    const TUpdate Shown = Heard.constFirst();
    QCOMPARE(Shown.AppUri, QStringLiteral("application://kestrune-Mail.desktop"));
    QCOMPARE(Shown.Sender, QDBusConnection::sessionBus().baseService());
    // A path of digits is the one a confined program may send from.
    QVERIFY2(QRegularExpression(QStringLiteral("^/com/canonical/unity/launcherentry/[0-9]+$"))
                 .match(Shown.Path)
                 .hasMatch(),
             qPrintable(Shown.Path));
    // GNOME's dock reads the count only as a 64-bit integer.
    QCOMPARE(Shown.Properties.value(QStringLiteral("count")).metaType(), QMetaType::fromType<qlonglong>());
    QCOMPARE(Shown.Properties.value(QStringLiteral("count")).toLongLong(), 3);
    QCOMPARE(Shown.Properties.value(QStringLiteral("count-visible")), QVariant(true));

    Desktop.SetLauncherCount(Mail, 12);
    Heard = FDock.UpdatesUntil(Mail);
    QCOMPARE(Heard.size(), 1);
    QCOMPARE(Heard.constFirst().Path, Shown.Path);
    QCOMPARE(Heard.constFirst().Properties.value(QStringLiteral("count")).toLongLong(), 12);

    Desktop.SetLauncherCount(Mail, 0);
    Heard = FDock.UpdatesUntil(Mail);
    QCOMPARE(Heard.size(), 1);
    QCOMPARE(Heard.constFirst().Path, Shown.Path);
    QCOMPARE(Heard.constFirst().Properties.value(QStringLiteral("count-visible")), QVariant(false));

    // Another launcher speaks from a path of its own.
    Desktop.SetLauncherCount(Chat, 1);
    Heard = FDock.UpdatesUntil(Chat);
    QCOMPARE(Heard.size(), 1);
    QCOMPARE(Heard.constFirst().AppUri, QStringLiteral("application://") + Chat);
    QVERIFY(Heard.constFirst().Path != Shown.Path);
}

void TestLauncherBadge::sameCountIsNotSentAgain()
{
    // Pages set their titles often; an unchanged count, or none where none shows, is not news.
    FServices->SetLauncherCount(Mail, 0);
    FServices->SetLauncherCount(Mail, -4);
    FServices->SetLauncherCount(Mail, 5);
    FServices->SetLauncherCount(Mail, 5);
    const QList<TUpdate> Heard = HeardUntilFence();
    QCOMPARE(Heard.size(), 1);
    QCOMPARE(Heard.constFirst().Properties.value(QStringLiteral("count")).toLongLong(), 5);
}

void TestLauncherBadge::invalidDesktopIdSendsNothing_data()
{
    QTest::addColumn<QString>("desktopId");
    QTest::newRow("empty") << QString();
    QTest::newRow("suffix alone") << QStringLiteral(".desktop");
    QTest::newRow("no suffix") << QStringLiteral("kestrune-Mail");
    QTest::newRow("another suffix") << QStringLiteral("kestrune-Mail.desktop.lnk");
    QTest::newRow("slash") << QStringLiteral("../kestrune-Mail.desktop");
    QTest::newRow("newline") << QStringLiteral("kestrune-Mail\n.desktop");
    QTest::newRow("escape") << QStringLiteral("kestrune-\x1b[31mMail.desktop");
    QTest::newRow("NUL") << QStringLiteral("kestrune-Mail") + QChar(0) + QStringLiteral(".desktop");
    QTest::newRow("C1 control") << QStringLiteral("kestrune-\u0085Mail.desktop");
    QTest::newRow("lone surrogate") << QStringLiteral("kestrune-") + QChar(0xd800) +
                                           QStringLiteral(".desktop");
    QTest::newRow("longer than a file name") << QString(300, QLatin1Char('m')) + QStringLiteral(".desktop");
}

void TestLauncherBadge::invalidDesktopIdSendsNothing()
{
    QFETCH(QString, desktopId);
    FServices->SetLauncherCount(desktopId, 3);
    QCOMPARE(HeardUntilFence().size(), 0);
}

void TestLauncherBadge::queryAnswersWithTheCounts()
{
    FServices->SetLauncherCount(Mail, 7);
    FServices->SetLauncherCount(Chat, 2);
    QList<TUpdate> Heard = FDock.UpdatesUntil(Chat);
    QCOMPARE(Heard.size(), 2);

    // A dock asks where the update came from, and hears of that launcher.
    for (const TUpdate &Update : std::as_const(Heard)) {
        const QDBusMessage Reply = Query(Update.Sender, Update.Path);
        QVERIFY2(Reply.type() == QDBusMessage::ReplyMessage, qPrintable(Reply.errorMessage()));
        QCOMPARE(Reply.signature(), QStringLiteral("a(sa{sv})"));
        const QList<TLauncherEntryState> Entries =
            qdbus_cast<QList<TLauncherEntryState>>(Reply.arguments().constFirst());
        QCOMPARE(Entries.size(), 1);
        QCOMPARE(Entries.constFirst().AppUri, Update.AppUri);
        QCOMPARE(Entries.constFirst().Properties, Update.Properties);
    }

    // Once a launcher's count is gone, nothing answers at its path.
    const TUpdate &MailUpdate =
        Heard.constFirst().AppUri.endsWith(Mail) ? Heard.constFirst() : Heard.constLast();
    FServices->SetLauncherCount(Mail, 0);
    FDock.UpdatesUntil(Mail);
    QCOMPARE(Query(MailUpdate.Sender, MailUpdate.Path).type(), QDBusMessage::ErrorMessage);
}

void TestLauncherBadge::countsGoWithTheServices()
{
    FServices->SetLauncherCount(Mail, 4);
    FDock.UpdatesUntil(Mail);
    FServices.reset();
    const QList<TUpdate> Heard = FDock.UpdatesUntil(Mail);
    QCOMPARE(Heard.size(), 1);
    QCOMPARE(Heard.constFirst().Properties.value(QStringLiteral("count-visible")), QVariant(false));
}

void TestLauncherBadge::siteWindowShowsItsPageCount()
{
    TTestServer Server;
    Server.Replies["/"] =
        HttpReply("200 OK", "<html><head><title>(3) Inbox</title></head><body>mail</body></html>",
                  "Content-Type: text/html\r\n");
    TKestrunSite Site;
    Site.SetTitle("Mail");
    Site.SetURL(Server.Url("/").toUtf8());
    Site.SetMinimizeToTaskbar(0);
    Site.SetWindowState(0);
    Site.SetWindowRect({0, 0, 500, 400});
    TWebProfile Profile;
    QObject Owner;
    QPointer<TfBrowserWin> Window = new TfBrowserWin(&Owner, QString(), &Site, *FServices, Profile);
    const QImage Plain = Window->SiteIcon().pixmap(32, 32).toImage();
    Window->ShowBrowserWindow();

    // The page's count reaches the dock through the site's desktop entry, and its tray icon.
    const QList<TUpdate> First = FDock.UpdatesUntil(Mail);
    QVERIFY2(!First.isEmpty(), "no count came for the page's title");
    QCOMPARE(First.constLast().Properties.value(QStringLiteral("count")).toLongLong(), 3);
    QCOMPARE(First.constLast().Properties.value(QStringLiteral("count-visible")), QVariant(true));
    QCOMPARE(Window->UnreadCount(), 3);
    QCOMPARE(Window->BrowserTrayIcon()->icon().pixmap(32, 32).toImage(),
             IconWithCount(Window->SiteIcon(), 3).pixmap(32, 32).toImage());
    QVERIFY(Window->BrowserTrayIcon()->icon().pixmap(32, 32).toImage() != Plain);

    // The title changes as mail comes and is read.
    const struct
    {
        const char *Title;
        qint64 Count;
    } Steps[] = {{"(12) Inbox", 12}, {"Inbox", 0}, {"(1) Inbox", 1}};
    for (const auto &Step : Steps) {
        Window->WebBrowser()->page()->runJavaScript(
            QStringLiteral("document.title = '%1';").arg(QLatin1String(Step.Title)));
        const QList<TUpdate> Heard = FDock.UpdatesUntil(Mail);
        QVERIFY2(!Heard.isEmpty(), Step.Title);
        QCOMPARE(Heard.constLast().Properties.value(QStringLiteral("count-visible")).toBool(),
                 Step.Count > 0);
        if (Step.Count > 0)
            QCOMPARE(Heard.constLast().Properties.value(QStringLiteral("count")).toLongLong(), Step.Count);
        QCOMPARE(Window->UnreadCount(), int(Step.Count));
        if (Step.Count == 0)
            QCOMPARE(Window->BrowserTrayIcon()->icon().pixmap(32, 32).toImage(), Plain);
    }

    // A closed window leaves no count on the dock.
    Window->Closewindow1Click();
    const QList<TUpdate> Closed = FDock.UpdatesUntil(Mail);
    QVERIFY(!Closed.isEmpty());
    QCOMPARE(Closed.constLast().Properties.value(QStringLiteral("count-visible")), QVariant(false));
    QTRY_VERIFY(!Window);
}

int main(int argc, char **argv)
{
    // A private session bus for this test alone, before anything asks for the session bus.
    QProcess Bus;
    const QString Address = StartPrivateSessionBus(Bus);
    int Result = 0;
    {
        QApplication App(argc, argv);
        TestLauncherBadge Test(Address);
        Result = QTest::qExec(&Test, argc, argv);
    }
    StopPrivateSessionBus(Bus);
    return Result;
}

#include "tst_launcherbadge.moc"
