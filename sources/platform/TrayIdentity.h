#pragma once

#include <QString>

class QSystemTrayIcon;

// Where the tray is a StatusNotifierItem host (KDE Plasma, waybar, GNOME's AppIndicator extension),
// Qt names every item of the program after the application: Id and Title are
// QCoreApplication::applicationName() for each one, and a bar or a screen reader cannot tell one
// tray icon of the program from another. This gives Icon's item an Id and a Title of its own.
//
// Call it once, any time after the icon is made; best before it is first shown, since hosts read
// Id only when the item appears. It holds for the icon's life, through every hide and show. Called
// again, it renames the item and tells the host that its title changed. A NUL or a lone surrogate
// half (which a D-Bus string cannot carry) is left out of Id and Title; an Id or Title left empty
// stays the application's name.
//
// Returns false, changing nothing, where the icon does not go over D-Bus (an XEmbed tray, no tray
// at all, another platform): there the item has no such names.
bool SetTrayIconIdentity(QSystemTrayIcon &Icon, const QString &Id, const QString &Title);
