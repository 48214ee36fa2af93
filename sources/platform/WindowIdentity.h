#pragma once

#include <QByteArray>

class QWidget;

// Gives a top-level window an application identity of its own on X11: the window class (both
// parts of WM_CLASS) that docks and taskbars match against a launcher's StartupWMClass, and the
// desktop entry name that GNOME (_GTK_APPLICATION_ID) and KDE (_KDE_NET_WM_DESKTOP_FILE) read.
// Creates the native window when it does not exist yet; call it before the first show. Does nothing
// on other platforms: Wayland takes one application id per connection.
void SetWindowIdentity(QWidget *Window, const QByteArray &WindowClass, const QByteArray &DesktopName);

// The window class of Window on X11, both parts (instance, class); empty elsewhere.
QByteArray WindowClassOf(QWidget *Window);
