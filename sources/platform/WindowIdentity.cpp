#include "platform/WindowIdentity.h"

#include <QGuiApplication>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace {

xcb_connection_t *X11Connection()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    const auto *X11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return X11 ? X11->connection() : nullptr;
}

xcb_atom_t Atom(xcb_connection_t *Connection, const char *Name)
{
    const xcb_intern_atom_cookie_t Cookie = xcb_intern_atom(Connection, 0, uint16_t(qstrlen(Name)), Name);
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> Reply(
        xcb_intern_atom_reply(Connection, Cookie, nullptr), &std::free);
    return Reply ? Reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

void SetText(xcb_connection_t *Connection, xcb_window_t Window, xcb_atom_t Property, xcb_atom_t Type,
             const QByteArray &Value)
{
    if (Property == XCB_ATOM_NONE || Type == XCB_ATOM_NONE)
        return;
    xcb_change_property(Connection, XCB_PROP_MODE_REPLACE, Window, Property, Type, 8, uint32_t(Value.size()),
                        Value.constData());
}

} // namespace

void SetWindowIdentity(QWidget *Window, const QByteArray &WindowClass, const QByteArray &DesktopName)
{
    xcb_connection_t *Connection = X11Connection();
    if (!Window || !Connection || WindowClass.isEmpty())
        return;
    const auto Id = xcb_window_t(Window->winId());
    // WM_CLASS: instance and class, each ended by a NUL. A dock matches either against
    // StartupWMClass; both are the site's so that no part points back at the program.
    QByteArray Class = WindowClass;
    Class.append('\0');
    Class.append(WindowClass);
    Class.append('\0');
    SetText(Connection, Id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, Class);
    if (!DesktopName.isEmpty()) {
        const xcb_atom_t Utf8 = Atom(Connection, "UTF8_STRING");
        SetText(Connection, Id, Atom(Connection, "_GTK_APPLICATION_ID"), Utf8, DesktopName);
        SetText(Connection, Id, Atom(Connection, "_KDE_NET_WM_DESKTOP_FILE"), Utf8, DesktopName);
    }
    xcb_flush(Connection);
}

QByteArray WindowClassOf(QWidget *Window)
{
    xcb_connection_t *Connection = X11Connection();
    if (!Window || !Connection)
        return QByteArray();
    const xcb_get_property_cookie_t Cookie = xcb_get_property(Connection, 0, xcb_window_t(Window->winId()),
                                                              XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256);
    const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> Reply(
        xcb_get_property_reply(Connection, Cookie, nullptr), &std::free);
    if (!Reply)
        return QByteArray();
    return QByteArray(static_cast<const char *>(xcb_get_property_value(Reply.get())),
                      xcb_get_property_value_length(Reply.get()));
}
