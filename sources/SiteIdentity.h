#pragma once

#include <QByteArray>
#include <QString>

// How the desktop tells one site from another program: the name of its launchers (a desktop id of
// the program's own prefix, so that no title can hide another program's entry) and the window
// class that ties its windows to those launchers in docks and taskbars.

inline const QByteArray SiteIdPrefix = "kestrune-";

// The desktop id of a site's launchers without ".desktop": the prefix and the title as it is.
// Empty when the title cannot name a file (empty, a '/' or a NUL byte).
QByteArray SiteDesktopName(const QByteArray &Title);

// The X11 window class of a site's windows, stable across runs: the prefix and the title, ASCII
// letters, digits, '-', '_' and '.' kept and every other byte made '_'; when anything was replaced,
// a '-' and the title's checksum in hex follow, so that "My site" and "My_site" stay apart.
// Never empty.
QByteArray SiteWindowClass(const QByteArray &Title);
