#include "platform/WindowIdentity.h"

#include "platform/WaylandWindows.h"

#include <QEvent>
#include <QGuiApplication>
#include <QStringDecoder>
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

void Apply(xcb_connection_t *Connection, xcb_window_t Id, const QByteArray &WindowClass,
           const QByteArray &DesktopName)
{
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

// Qt makes a window's X window anew when its surface changes (the web view asks for OpenGL), and
// the new one carries the program's class again: the identity goes on every X window the widget gets.
class TIdentityKeeper : public QObject
{
public:
    TIdentityKeeper(QWidget *Window, QByteArray WindowClass, QByteArray DesktopName)
        : QObject(Window), FClass(std::move(WindowClass)), FDesktopName(std::move(DesktopName))
    {
        Window->installEventFilter(this);
    }

    void Apply(QWidget *Window)
    {
        if (xcb_connection_t *Connection = X11Connection(); Connection && Window->internalWinId())
            ::Apply(Connection, xcb_window_t(Window->internalWinId()), FClass, FDesktopName);
    }

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override
    {
        if (Event->type() == QEvent::WinIdChange)
            Apply(static_cast<QWidget *>(Watched));
        return QObject::eventFilter(Watched, Event);
    }

private:
    QByteArray FClass;
    QByteArray FDesktopName;
};

} // namespace

QByteArray WaylandAppId(const QByteArray &WindowClass, const QByteArray &DesktopName)
{
    if (DesktopName.isEmpty() || DesktopName.contains('\0'))
        return WindowClass;
    QStringDecoder Utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    [[maybe_unused]] const QString Decoded = Utf8(DesktopName);
    return Utf8.hasError() ? WindowClass : DesktopName;
}

void SetWindowIdentity(QWidget *Window, const QByteArray &WindowClass, const QByteArray &DesktopName)
{
    if (!Window || WindowClass.isEmpty())
        return;
    if (OnWayland()) {
        SetWaylandAppId(Window, WaylandAppId(WindowClass, DesktopName));
        return;
    }
    if (!X11Connection())
        return;
    auto *Keeper = new TIdentityKeeper(Window, WindowClass, DesktopName);
    Window->winId();
    Keeper->Apply(Window);
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
