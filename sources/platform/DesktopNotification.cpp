#include "platform/DesktopNotification.h"

#include "KestruneVersion.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QMenu>
#include <QStringList>
#include <QVariantMap>

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
const QString AppId = QStringLiteral(KESTRUNE_APP_ID);

} // namespace

TDesktopNotifier::TDesktopNotifier(QObject *Parent) : QObject(Parent) {}

void TDesktopNotifier::Notify(const TPending &Message)
{
    QDBusMessage Call = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    QVariantMap Hints;
    Hints.insert(QStringLiteral("desktop-entry"), AppId);
    const QString Body = FBodyMarkup == TMarkup::Yes ? Message.Text.toHtmlEscaped() : Message.Text;
    Call << QStringLiteral("Kestrune") << 0u << AppId << Message.Title << Body << QStringList() << Hints
         << qint32(Message.Milliseconds);
    // Nobody waits for the answer: a service that is missing or slow changes nothing here.
    QDBusConnection::sessionBus().asyncCall(Call);
}

bool TDesktopNotifier::Send(const QString &Title, const QString &Text, int Milliseconds,
                            std::function<void()> OnClicked)
{
    QDBusConnection Bus = QDBusConnection::sessionBus();
    if (!Bus.isConnected())
        return false;
    FWaiting.append({Title, Text, Milliseconds, std::move(OnClicked)});
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

void ShowBalloonMessage(TDesktopServices &Services, QSystemTrayIcon *Icon, bool InTray, const QString &Title,
                        const QString &Text, QSystemTrayIcon::MessageIcon Kind, int Milliseconds)
{
    if (Icon && InTray && Icon->isVisible()) {
        Icon->showMessage(Title, Text, Kind, Milliseconds);
        return;
    }
    Services.SendDesktopNotification(Title, Text, Milliseconds);
}

bool TrayIconGoesOverDBus(QSystemTrayIcon &Icon)
{
    // Qt gives a popup menu a platform menu on this desktop only when a tray icon hands it to a
    // StatusNotifierItem host (Qt's QDBusPlatformMenu); an XEmbed tray pops the QMenu up itself.
    QMenu *Menu = Icon.contextMenu();
    return Menu && Menu->platformMenu();
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
