#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>

#include <functional>
#include <utility>

class QDBusMessage;
class TDesktopServices;

// Desktop notifications through the session's org.freedesktop.Notifications service. Nothing
// waits for the service: a missing or slow one changes nothing for the program.
class TDesktopNotifier : public QObject
{
    Q_OBJECT

public:
    // Notifications whose click is still awaited; past this the oldest is forgotten.
    static constexpr int MaxAwaitingClick = 64;
    // A notification the service has not taken within this did not show.
    static constexpr int AnswerTimeout = 5000;

    explicit TDesktopNotifier(QObject *Parent = nullptr);

    // False when there is no session bus. OnClicked, when given, runs when the user clicks the
    // notification, as long as the service has not closed it. OnShown, when given, runs later, once,
    // with whether the service took the notification.
    bool Send(const QString &Title, const QString &Text, int Milliseconds, std::function<void()> OnClicked,
              std::function<void(bool Shown)> OnShown = {});

private slots:
    // The service's signals, read from the bare message: nothing in them is taken on trust.
    void ServiceActionInvoked(const QDBusMessage &Signal);
    void ServiceNotificationClosed(const QDBusMessage &Signal);

private:
    struct TPending
    {
        QString Title, Text;
        int Milliseconds;
        std::function<void()> OnClicked;
        std::function<void(bool Shown)> OnShown;
    };
    enum class TMarkup
    {
        Unknown,
        Asking,
        Yes,
        No
    };
    void Notify(const TPending &Message);
    void AwaitClick(uint Id, std::function<void()> OnClicked);

    // Whether the service reads the body as markup, asked once per run. Titles of sites and of
    // pages' notifications are plain text and must show as such.
    TMarkup FBodyMarkup = TMarkup::Unknown;
    QList<TPending> FWaiting;
    bool FListening = false;
    // Oldest first.
    QList<std::pair<uint, std::function<void()>>> FAwaitingClick;
};

// Where a balloon of a tray icon shows now.
enum class TBalloonWay
{
    TrayBalloon,         // Qt's balloon beside the icon in an XEmbed tray
    DesktopNotification, // no tray; or a StatusNotifierItem host, which shows balloons as notifications
    Nowhere,             // the icon is not in the tray: the balloon has no visible effect
};
TBalloonWay BalloonWay(bool TrayAvailable, QSystemTrayIcon &Icon);

// Shows a balloon of Icon where it shows now: Qt's balloon beside the icon (true), or a desktop
// notification titled NotificationTitle whose click runs OnClicked, or nothing. OnShown, when given,
// learns which: shown by Qt's balloon, by the service once it has taken it, or not at all.
bool ShowTrayBalloon(TDesktopServices &Services, bool TrayAvailable, QSystemTrayIcon &Icon,
                     QSystemTrayIcon::MessageIcon Kind, const QString &Title, const QString &Text,
                     const QString &NotificationTitle, std::function<void()> OnClicked,
                     std::function<void(bool Shown)> OnShown = {});

// Report, made to run once: with the answer when one is given, or with false once the last copy
// goes without one (nobody took the notification it is about).
std::function<void(bool Shown)> ReportOnce(std::function<void(bool Shown)> Report);

// Whether Qt hands the icon and its menu to a StatusNotifierItem host over D-Bus, rather than to an
// XEmbed tray. Known from the moment the icon has its context menu.
bool TrayIconGoesOverDBus(QSystemTrayIcon &Icon);

// The text of a tray menu entry that shows Shown exactly, in a menu that goes over D-Bus or not;
// and back.
QString TrayMenuText(const QString &Shown, bool OverDBus);
QString TrayMenuShownText(const QString &Text, bool OverDBus);
