#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// The dock's favourite launchers: the "favorite-apps" key of GNOME Shell's and Cinnamon's settings,
// read and written through GSettings. Each entry is a desktop id ("name.desktop").

// The settings schemas that keep such a list on the desktops that CurrentDesktop names (the value of
// XDG_CURRENT_DESKTOP, a ':'-separated list), in the order to try them. A desktop that names
// neither has none; when no desktop is named at all, both are tried.
QList<QByteArray> DockFavoritesSchemas(const QByteArray &CurrentDesktop);

// The favourites of the running desktop; nothing when its schema is not installed, its key is not a
// list of strings, or the list cannot be written.
std::optional<QStringList> ReadDockFavorites();
// Replaces the running desktop's favourites. False when there is no such list or it cannot be
// written.
bool WriteDockFavorites(const QStringList &Favorites);
