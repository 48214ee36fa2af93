#pragma once

#include "platform/DesktopServices.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>

#include <functional>

// Desktop notifications through the session's org.freedesktop.Notifications service. Nothing
// waits for the service: a missing or slow one changes nothing for the program.
class TDesktopNotifier : public QObject
{
    Q_OBJECT

public:
    explicit TDesktopNotifier(QObject *Parent = nullptr);

    // False when there is no session bus.
    bool Send(const QString &Title, const QString &Text, int Milliseconds, std::function<void()> OnClicked);

private:
    struct TPending
    {
        QString Title, Text;
        int Milliseconds;
        std::function<void()> OnClicked;
    };
    enum class TMarkup
    {
        Unknown,
        Asking,
        Yes,
        No
    };
    void Notify(const TPending &Message);

    // Whether the service reads the body as markup, asked once per run. Titles of sites and of
    // pages' notifications are plain text and must show as such.
    TMarkup FBodyMarkup = TMarkup::Unknown;
    QList<TPending> FWaiting;
};

// A short message to the user (a change of a watched site, a page's notification). Shown as the
// balloon of Icon while Icon sits in a system tray; otherwise, on desktops without a tray (GNOME),
// as a desktop notification. InTray says whether the caller's tray icon is in a tray now.
void ShowBalloonMessage(TDesktopServices &Services, QSystemTrayIcon *Icon, bool InTray, const QString &Title,
                        const QString &Text, QSystemTrayIcon::MessageIcon Kind, int Milliseconds);

// Whether Qt hands the icon and its menu to a StatusNotifierItem host over D-Bus, rather than to an
// XEmbed tray. Known from the moment the icon has its context menu.
bool TrayIconGoesOverDBus(QSystemTrayIcon &Icon);

// The text of a tray menu entry that shows Shown exactly, in a menu that goes over D-Bus or not;
// and back.
QString TrayMenuText(const QString &Shown, bool OverDBus);
QString TrayMenuShownText(const QString &Text, bool OverDBus);
