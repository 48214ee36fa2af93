#pragma once

#include <QByteArray>

class QWidget;

// Wayland's side of the window roads: a top-level window's application id and the request to bring
// a window forward, sent on the protocol objects of Qt's Wayland plugin.

// Whether the program's windows live on a Wayland compositor (Qt's wayland platform).
bool OnWayland();

// Gives Window the application id AppId on Wayland: docks match it against a desktop entry's id
// (the file name without ".desktop"). Qt makes a new toplevel, with the program's id, each time the
// window is shown after a hide; the id goes on every toplevel before its first frame. Does nothing
// elsewhere or when AppId is empty.
void SetWaylandAppId(QWidget *Window, const QByteArray &AppId);

// Brings Window (the top-level window of the widget given), shown by the caller, to the front. On
// X11 (and offscreen) that is Qt's raise() and activateWindow(). On Wayland a client may only ask: with an
// activation token of xdg_activation_v1 made for the window that has the focus (or Token, one that
// a launcher handed over, as XDG_ACTIVATION_TOKEN), the compositor focuses the window or marks it
// urgent, as its policy says; without that protocol the window asks for attention.
void ActivateWindow(QWidget *Window, const QByteArray &Token = QByteArray());
