#include "platform/DesktopNotification.h"

#include "KestruneVersion.h"
#include "platform/DesktopServices.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QMenu>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QVariantMap>

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
const QString AppId = QStringLiteral(KESTRUNE_APP_ID);
// The action a click on the notification itself invokes.
const QString DefaultAction = QStringLiteral("default");

template <typename T> bool Holds(const QVariant &Value)
{
    return Value.metaType() == QMetaType::fromType<T>();
}

} // namespace

TDesktopNotifier::TDesktopNotifier(QObject *Parent) : QObject(Parent) {}

void TDesktopNotifier::Notify(const TPending &Message)
{
    QDBusMessage Call = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    QVariantMap Hints;
    Hints.insert(QStringLiteral("desktop-entry"), AppId);
    const QString Body = FBodyMarkup == TMarkup::Yes ? Message.Text.toHtmlEscaped() : Message.Text;
    QStringList Actions;
    if (Message.OnClicked)
        Actions << DefaultAction << QStringLiteral("Show");
    Call << QStringLiteral("Kestrune") << 0u << AppId << Message.Title << Body << Actions << Hints
         << qint32(Message.Milliseconds);
    // Nobody waits for the answer: a service that is missing or slow changes nothing here.
    const QDBusPendingCall Pending = QDBusConnection::sessionBus().asyncCall(Call, AnswerTimeout);
    if (!Message.OnClicked && !Message.OnShown)
        return;
    // The answer names the notification that a click will name; without one nothing showed.
    auto *Watcher = new QDBusPendingCallWatcher(Pending, this);
    connect(Watcher, &QDBusPendingCallWatcher::finished, this,
            [this, OnClicked = Message.OnClicked, OnShown = Message.OnShown](QDBusPendingCallWatcher *Done) {
                Done->deleteLater();
                const QDBusMessage Reply = Done->reply();
                const bool Taken = Reply.type() == QDBusMessage::ReplyMessage &&
                                   Reply.arguments().size() == 1 &&
                                   Holds<uint>(Reply.arguments().constFirst());
                if (Taken && OnClicked)
                    AwaitClick(Reply.arguments().constFirst().toUInt(), OnClicked);
                if (OnShown)
                    OnShown(Taken);
            });
}

void TDesktopNotifier::AwaitClick(uint Id, std::function<void()> OnClicked)
{
    for (qsizetype i = 0; i < FAwaitingClick.size(); ++i) {
        // A service may hand out an id again once its notification has gone.
        if (FAwaitingClick[i].first == Id) {
            FAwaitingClick.removeAt(i);
            break;
        }
    }
    if (FAwaitingClick.size() >= MaxAwaitingClick)
        FAwaitingClick.removeFirst();
    FAwaitingClick.append({Id, std::move(OnClicked)});
}

void TDesktopNotifier::ServiceActionInvoked(const QDBusMessage &Signal)
{
    const QList<QVariant> Arguments = Signal.arguments();
    if (Arguments.size() != 2 || !Holds<uint>(Arguments[0]) || !Holds<QString>(Arguments[1]) ||
        Arguments[1].toString() != DefaultAction)
        return;
    const uint Id = Arguments[0].toUInt();
    for (const auto &[Known, OnClicked] : std::as_const(FAwaitingClick)) {
        if (Known == Id) {
            // The handler may send a notification of its own meanwhile.
            const std::function<void()> Run = OnClicked;
            Run();
            return;
        }
    }
}

void TDesktopNotifier::ServiceNotificationClosed(const QDBusMessage &Signal)
{
    const QList<QVariant> Arguments = Signal.arguments();
    if (Arguments.isEmpty() || !Holds<uint>(Arguments[0]))
        return;
    const uint Id = Arguments[0].toUInt();
    FAwaitingClick.removeIf([Id](const auto &Awaiting) { return Awaiting.first == Id; });
}

bool TDesktopNotifier::Send(const QString &Title, const QString &Text, int Milliseconds,
                            std::function<void()> OnClicked, std::function<void(bool Shown)> OnShown)
{
    QDBusConnection Bus = QDBusConnection::sessionBus();
    if (!Bus.isConnected()) {
        if (OnShown)
            QMetaObject::invokeMethod(
                this, [OnShown = std::move(OnShown)] { OnShown(false); }, Qt::QueuedConnection);
        return false;
    }
    if (OnClicked && !FListening) {
        // Before the first notification goes out, so that no click on it can come first. Only the
        // owner of the service's name is heard.
        FListening = Bus.connect(Service, Path, Interface, QStringLiteral("ActionInvoked"), this,
                                 SLOT(ServiceActionInvoked(QDBusMessage))) &&
                     Bus.connect(Service, Path, Interface, QStringLiteral("NotificationClosed"), this,
                                 SLOT(ServiceNotificationClosed(QDBusMessage)));
    }
    FWaiting.append({Title, Text, Milliseconds, std::move(OnClicked), std::move(OnShown)});
    if (FBodyMarkup == TMarkup::Asking)
        return true;
    if (FBodyMarkup != TMarkup::Unknown) {
        for (const TPending &Message : std::exchange(FWaiting, {}))
            Notify(Message);
        return true;
    }
    FBodyMarkup = TMarkup::Asking;
    const QDBusMessage Ask =
        QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("GetCapabilities"));
    auto *Watcher = new QDBusPendingCallWatcher(Bus.asyncCall(Ask, 5000), this);
    connect(Watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *Done) {
        const QDBusPendingReply<QStringList> Reply = *Done;
        const bool Answered = !Reply.isError();
        FBodyMarkup =
            Answered && Reply.value().contains(QStringLiteral("body-markup")) ? TMarkup::Yes : TMarkup::No;
        for (const TPending &Message : std::exchange(FWaiting, {}))
            Notify(Message);
        // Without an answer these went out plain; the next message asks again.
        if (!Answered)
            FBodyMarkup = TMarkup::Unknown;
        Done->deleteLater();
    });
    return true;
}

bool TrayIconGoesOverDBus(QSystemTrayIcon &Icon)
{
    // Qt gives a popup menu a platform menu on this desktop only when a tray icon hands it to a
    // StatusNotifierItem host (Qt's QDBusPlatformMenu); an XEmbed tray pops the QMenu up itself.
    QMenu *Menu = Icon.contextMenu();
    return Menu && Menu->platformMenu();
}

TBalloonWay BalloonWay(bool TrayAvailable, QSystemTrayIcon &Icon)
{
    if (!TrayAvailable)
        return TBalloonWay::DesktopNotification;
    if (!Icon.isVisible())
        return TBalloonWay::Nowhere;
    // A host shows Qt's balloon as a notification too, but one that cannot be clicked, that shows
    // markup in a title as markup, and whose clicks Qt reports for every notification on the bus.
    return TrayIconGoesOverDBus(Icon) ? TBalloonWay::DesktopNotification : TBalloonWay::TrayBalloon;
}

bool ShowTrayBalloon(TDesktopServices &Services, bool TrayAvailable, QSystemTrayIcon &Icon,
                     QSystemTrayIcon::MessageIcon Kind, const QString &Title, const QString &Text,
                     const QString &NotificationTitle, std::function<void()> OnClicked,
                     std::function<void(bool Shown)> OnShown)
{
    const std::function<void(bool Shown)> Report = std::move(OnShown);
    switch (BalloonWay(TrayAvailable, Icon)) {
    case TBalloonWay::TrayBalloon:
        // Qt tells nothing of its balloon: beside an icon in the tray, it shows.
        Icon.showMessage(Title, Text, Kind, 3000);
        if (Report)
            Report(true);
        return true;
    case TBalloonWay::DesktopNotification:
        Services.SendDesktopNotification(NotificationTitle, Text, 3000, std::move(OnClicked), Report);
        break;
    case TBalloonWay::Nowhere:
        if (Report)
            Report(false);
        break;
    }
    return false;
}

std::function<void(bool Shown)> ReportOnce(std::function<void(bool Shown)> Report)
{
    struct TOnce
    {
        std::function<void(bool Shown)> Report;
        ~TOnce()
        {
            if (Report)
                Report(false);
        }
    };
    auto Once = std::make_shared<TOnce>();
    Once->Report = std::move(Report);
    return [Once](bool Shown) {
        if (const std::function<void(bool)> Report = std::exchange(Once->Report, {}))
            Report(Shown);
    };
}

QString TrayMenuText(const QString &Shown, bool OverDBus)
{
    QString Text = Shown;
    if (!OverDBus)
        return Text.replace(QLatin1Char('&'), QStringLiteral("&&"));
    // Qt hands the text over with its first '&' turned into '_' and all else as it is; the host
    // shows "__" as '_' and takes a single '_' for the access-key mark. The first '&', doubled,
    // becomes "_&": an '&' that is the access key.
    Text.replace(QLatin1Char('_'), QStringLiteral("__"));
    if (const qsizetype First = Text.indexOf(QLatin1Char('&')); First >= 0)
        Text.insert(First, QLatin1Char('&'));
    return Text;
}

QString TrayMenuShownText(const QString &Text, bool OverDBus)
{
    QString Shown = Text;
    if (!OverDBus)
        return Shown.replace(QStringLiteral("&&"), QStringLiteral("&"));
    if (const qsizetype First = Shown.indexOf(QStringLiteral("&&")); First >= 0)
        Shown.remove(First, 1);
    return Shown.replace(QStringLiteral("__"), QStringLiteral("_"));
}
