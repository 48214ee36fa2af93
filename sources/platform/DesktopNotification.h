#pragma once

#include <QString>
#include <QSystemTrayIcon>

// A short message to the user (a change of a watched site, a page's notification). Shown as the
// balloon of Icon while Icon sits in a system tray; otherwise, on desktops without a tray (GNOME),
// as a desktop notification through the session's notification service, when it has one.
// InTray says whether the caller's tray icon is in a tray now.
void ShowBalloonMessage(QSystemTrayIcon *Icon, bool InTray, const QString &Title, const QString &Text,
                        QSystemTrayIcon::MessageIcon Kind, int Milliseconds);

// Sends a desktop notification (org.freedesktop.Notifications) without waiting for the service.
// False when there is no session bus.
bool SendDesktopNotification(const QString &Title, const QString &Text, int Milliseconds);
