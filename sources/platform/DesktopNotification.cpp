#include "platform/DesktopNotification.h"

#include "KestruneVersion.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
const QString AppId = QStringLiteral(KESTRUNE_APP_ID);

// Whether the service reads the body as markup, asked once per run. Titles of sites and of pages'
// notifications are plain text and must show as such.
enum class TMarkup
{
    Unknown,
    Asking,
    Yes,
    No
};
TMarkup BodyMarkup = TMarkup::Unknown;
struct TPending
{
    QString Title, Text;
    int Milliseconds;
};
QList<TPending> Waiting;

void Notify(const TPending &Message)
{
    QDBusMessage Call = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    QVariantMap Hints;
    Hints.insert(QStringLiteral("desktop-entry"), AppId);
    const QString Body = BodyMarkup == TMarkup::Yes ? Message.Text.toHtmlEscaped() : Message.Text;
    Call << QStringLiteral("Kestrune") << 0u << AppId << Message.Title << Body << QStringList() << Hints
         << qint32(Message.Milliseconds);
    // Nobody waits for the answer: a service that is missing or slow changes nothing here.
    QDBusConnection::sessionBus().asyncCall(Call);
}

} // namespace

bool SendDesktopNotification(const QString &Title, const QString &Text, int Milliseconds)
{
    QDBusConnection Bus = QDBusConnection::sessionBus();
    if (!Bus.isConnected())
        return false;
    Waiting.append({Title, Text, Milliseconds});
    if (BodyMarkup == TMarkup::Asking)
        return true;
    if (BodyMarkup != TMarkup::Unknown) {
        for (const TPending &Message : std::exchange(Waiting, {}))
            Notify(Message);
        return true;
    }
    BodyMarkup = TMarkup::Asking;
    const QDBusMessage Ask =
        QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("GetCapabilities"));
    auto *Watcher = new QDBusPendingCallWatcher(Bus.asyncCall(Ask, 5000));
    QObject::connect(Watcher, &QDBusPendingCallWatcher::finished, Watcher, [](QDBusPendingCallWatcher *Done) {
        const QDBusPendingReply<QStringList> Reply = *Done;
        const bool Answered = !Reply.isError();
        BodyMarkup =
            Answered && Reply.value().contains(QStringLiteral("body-markup")) ? TMarkup::Yes : TMarkup::No;
        for (const TPending &Message : std::exchange(Waiting, {}))
            Notify(Message);
        // Without an answer these went out plain; the next message asks again.
        if (!Answered)
            BodyMarkup = TMarkup::Unknown;
        Done->deleteLater();
    });
    return true;
}

void ShowBalloonMessage(QSystemTrayIcon *Icon, bool InTray, const QString &Title, const QString &Text,
                        QSystemTrayIcon::MessageIcon Kind, int Milliseconds)
{
    if (Icon && InTray && Icon->isVisible()) {
        Icon->showMessage(Title, Text, Kind, Milliseconds);
        return;
    }
    SendDesktopNotification(Title, Text, Milliseconds);
}
