#pragma once

#include <QByteArray>

class QWidget;

// Gives a top-level window an application identity of its own. On X11: the window class (both
// parts of WM_CLASS) that docks and taskbars match against a launcher's StartupWMClass, and the
// desktop entry name that GNOME (_GTK_APPLICATION_ID) and KDE (_KDE_NET_WM_DESKTOP_FILE) read; it
// creates the native window when it does not exist yet. On Wayland: the application id of
// WaylandAppId on every toplevel the window gets. Call it before the first show. Does nothing on
// other platforms.
void SetWindowIdentity(QWidget *Window, const QByteArray &WindowClass, const QByteArray &DesktopName);

// A window's application id on Wayland. Docks there (GNOME Shell, Plasma, the bars of wlroots
// compositors) find a window's desktop entry by its id, the entry's file name without ".desktop", so
// that is the id: DesktopName. GNOME also tries the id against StartupWMClass, so the window class
// stands in where the entry has no name, or one that is not UTF-8, which the protocol's strings are.
QByteArray WaylandAppId(const QByteArray &WindowClass, const QByteArray &DesktopName);

// The window class of Window on X11, both parts (instance, class); empty elsewhere.
QByteArray WindowClassOf(QWidget *Window);
