#include "platform/WaylandWindows.h"

#include <QApplication>
#include <QEvent>
#include <QPlatformSurfaceEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

#include <wayland-client.h>

#include "xdg-activation-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

#include <cstring>

namespace {

// How long a token may take to come back before the request is dropped.
constexpr int TokenWait = 5000;

QPlatformNativeInterface *Native()
{
    return OnWayland() ? QGuiApplication::platformNativeInterface() : nullptr;
}

wl_display *WaylandConnection()
{
    QPlatformNativeInterface *Interface = Native();
    return Interface ? static_cast<wl_display *>(Interface->nativeResourceForIntegration("wl_display"))
                     : nullptr;
}

// Only a shown window has a surface and a toplevel: Qt takes both away when it hides the window.
void *WindowResource(QWindow *Window, const char *Name)
{
    QPlatformNativeInterface *Interface = Native();
    if (!Interface || !Window || !Window->handle() || !Window->isVisible())
        return nullptr;
    return Interface->nativeResourceForWindow(Name, Window);
}

wl_surface *SurfaceOf(QWindow *Window)
{
    return static_cast<wl_surface *>(WindowResource(Window, "surface"));
}

xdg_toplevel *ToplevelOf(QWindow *Window)
{
    return static_cast<xdg_toplevel *>(WindowResource(Window, "xdg_toplevel"));
}

void Flush()
{
    if (wl_display *Connection = WaylandConnection())
        wl_display_flush(Connection);
}

// Puts the application id on each toplevel that Qt makes for the window: at once after the show
// that made it (before the compositor has asked for a first frame), and at its first expose when
// Qt made it on its own (a new surface for OpenGL).
class TAppIdKeeper : public QObject
{
public:
    TAppIdKeeper(QWidget *Window, QByteArray AppId)
        : QObject(Window), FWindow(Window), FAppId(std::move(AppId))
    {
        Window->installEventFilter(this);
        Watch(Window->windowHandle());
        Apply();
    }

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override
    {
        if (Watched == FWindow) {
            switch (Event->type()) {
            case QEvent::WinIdChange:
            case QEvent::Show:
                Watch(FWindow->windowHandle());
                break;
            case QEvent::ShowToParent: // sent once the native window is shown
                Watch(FWindow->windowHandle());
                Apply();
                break;
            default:
                break;
            }
        } else if (Watched == FHandle) {
            switch (Event->type()) {
            case QEvent::Expose:
                Apply();
                break;
            case QEvent::Hide:
                FApplied = nullptr;
                break;
            case QEvent::PlatformSurface:
                if (static_cast<QPlatformSurfaceEvent *>(Event)->surfaceEventType() ==
                    QPlatformSurfaceEvent::SurfaceAboutToBeDestroyed)
                    FApplied = nullptr;
                break;
            default:
                break;
            }
        }
        return QObject::eventFilter(Watched, Event);
    }

private:
    void Watch(QWindow *Handle)
    {
        if (Handle == FHandle)
            return;
        if (FHandle)
            FHandle->removeEventFilter(this);
        FHandle = Handle;
        FApplied = nullptr;
        if (Handle)
            Handle->installEventFilter(this);
    }

    void Apply()
    {
        xdg_toplevel *Toplevel = ToplevelOf(FHandle);
        if (!Toplevel || Toplevel == FApplied)
            return;
        xdg_toplevel_set_app_id(Toplevel, FAppId.constData());
        FApplied = Toplevel;
        Flush();
    }

    QWidget *FWindow;
    QByteArray FAppId;
    QPointer<QWindow> FHandle;
    // The toplevel that has the id; it is forgotten when Qt takes it away.
    xdg_toplevel *FApplied = nullptr;
};

void RegistryGlobal(void *Data, wl_registry *Registry, uint32_t Name, const char *Interface, uint32_t)
{
    auto *Found = static_cast<xdg_activation_v1 **>(Data);
    if (!*Found && Interface && std::strcmp(Interface, xdg_activation_v1_interface.name) == 0)
        *Found = static_cast<xdg_activation_v1 *>(
            wl_registry_bind(Registry, Name, &xdg_activation_v1_interface, 1));
}

void RegistryGlobalRemove(void *, wl_registry *, uint32_t) {}

const wl_registry_listener RegistryListener = {RegistryGlobal, RegistryGlobalRemove};

// The compositor's activation interface, bound anew for each request (they are rare), or null when
// the compositor has none. Its tokens are answered on Qt's own queue, which Qt dispatches on the GUI
// thread.
xdg_activation_v1 *BindActivation(wl_display *Connection)
{
    wl_event_queue *Queue = wl_display_create_queue(Connection);
    if (!Queue)
        return nullptr;
    xdg_activation_v1 *Activation = nullptr;
    if (auto *Wrapper = static_cast<wl_display *>(wl_proxy_create_wrapper(Connection))) {
        wl_proxy_set_queue(reinterpret_cast<wl_proxy *>(Wrapper), Queue);
        wl_registry *Registry = wl_display_get_registry(Wrapper);
        wl_proxy_wrapper_destroy(Wrapper);
        if (Registry) {
            wl_registry_add_listener(Registry, &RegistryListener, &Activation);
            if (wl_display_roundtrip_queue(Connection, Queue) < 0 && Activation) {
                xdg_activation_v1_destroy(Activation);
                Activation = nullptr;
            }
            wl_registry_destroy(Registry);
        }
    }
    if (Activation)
        wl_proxy_set_queue(reinterpret_cast<wl_proxy *>(Activation), nullptr);
    wl_event_queue_destroy(Queue);
    return Activation;
}

// One request to bring a window forward: a token asked for on behalf of the window that has the
// focus, then handed to the compositor with the window's surface. Goes with the window.
class TActivation : public QObject
{
public:
    TActivation(QWidget *Window, xdg_activation_v1 *Activation)
        : QObject(Window), FWindow(Window), FActivation(Activation)
    {
        QTimer::singleShot(TokenWait, this, &QObject::deleteLater);
    }

    ~TActivation() override
    {
        if (FToken)
            xdg_activation_token_v1_destroy(FToken);
        xdg_activation_v1_destroy(FActivation);
        Flush();
    }

    void AskForToken()
    {
        FToken = xdg_activation_v1_get_activation_token(FActivation);
        if (!FToken) {
            deleteLater();
            return;
        }
        xdg_activation_token_v1_add_listener(FToken, &TokenListener, this);
        // The compositor weighs the request by the window it comes from. Qt 6.4 does not give out the
        // serial of the last input event, so the token names no seat: compositors that want one mark
        // the window urgent instead of focusing it.
        if (wl_surface *Focus = SurfaceOf(QGuiApplication::focusWindow()))
            xdg_activation_token_v1_set_surface(FToken, Focus);
        xdg_activation_token_v1_commit(FToken);
        Flush();
    }

    void Activate(const char *Token)
    {
        if (wl_surface *Target = SurfaceOf(FWindow->windowHandle()); Target && Token && *Token)
            xdg_activation_v1_activate(FActivation, Token, Target);
        Flush();
        deleteLater();
    }

private:
    static void TokenDone(void *Data, xdg_activation_token_v1 *, const char *Token)
    {
        static_cast<TActivation *>(Data)->Activate(Token);
    }

    static constexpr xdg_activation_token_v1_listener TokenListener = {TokenDone};

    QWidget *FWindow;
    xdg_activation_v1 *FActivation;
    xdg_activation_token_v1 *FToken = nullptr;
};

} // namespace

bool OnWayland()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void SetWaylandAppId(QWidget *Window, const QByteArray &AppId)
{
    if (!Window || AppId.isEmpty() || AppId.contains('\0') || !OnWayland())
        return;
    new TAppIdKeeper(Window->window(), AppId);
}

void ActivateWindow(QWidget *Window, const QByteArray &Token)
{
    if (!Window)
        return;
    QWidget *Top = Window->window();
    Top->raise();
    if (!OnWayland()) {
        Top->activateWindow();
        return;
    }
    wl_display *Connection = WaylandConnection();
    xdg_activation_v1 *Activation = Connection ? BindActivation(Connection) : nullptr;
    if (!Activation) {
        QApplication::alert(Top);
        return;
    }
    auto *Request = new TActivation(Top, Activation);
    if (!Token.isEmpty() && !Token.contains('\0'))
        Request->Activate(Token.constData());
    else
        Request->AskForToken();
}
