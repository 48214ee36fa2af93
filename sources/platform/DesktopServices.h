#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// The per-user folders the program writes launchers into.
enum class TSpecialFolder
{
    StartMenu, // $XDG_DATA_HOME/applications
    Desktop,   // the XDG desktop folder
    AppData,   // $XDG_CONFIG_HOME
    Startup,   // $XDG_CONFIG_HOME/autostart
};

// Everything the program asks of the desktop it runs on: the system tray, desktop notifications,
// the default browser, the per-user folders and the program's autostart entry, the dock's
// favourites and counts. One object lives as long as the program; it is made at start and handed
// down to the windows that need it. Tests hand in their own.
class TDesktopServices
{
public:
    virtual ~TDesktopServices() = default;

    // Whether the desktop shows a system tray (XEmbed or StatusNotifierItem) now.
    virtual bool IsSystemTrayAvailable() const = 0;

    // Hands an http or https address to the user's default web browser; nothing else goes out.
    // The desktop has no minimised start for a browser it launches: Minimized is dropped here.
    // Returns whether the address was handed over.
    virtual bool OpenInDefaultBrowser(const QByteArray &Address, bool Minimized = false) = 0;
    // A site's own URL, as the user gave it, to the desktop's handler of its scheme (a web browser,
    // a mail program, ...): an address without a scheme is taken as http. Addresses from outside
    // (pages, replies) go through OpenInDefaultBrowser instead.
    virtual bool OpenSiteAddress(const QByteArray &Address, bool Minimized = false) = 0;

    // A desktop notification through the session's notification service, without waiting for it.
    // OnClicked, when given, runs when the user clicks the notification. OnShown, when given, runs
    // later with whether the service took it (false also without a session bus, without a
    // service, or without its answer in time). False without a session bus.
    virtual bool SendDesktopNotification(const QString &Title, const QString &Text, int Milliseconds,
                                         std::function<void()> OnClicked = {},
                                         std::function<void(bool Shown)> OnShown = {}) = 0;

    // The folder's path without a trailing '/', or empty when it cannot be determined. With Create,
    // a missing folder that the XDG rules name is made (0700); empty when it cannot be made.
    virtual QString SpecialFolderPath(TSpecialFolder Folder, bool Create = false) = 0;

    // The entry that starts the program when the user logs on.
    virtual bool IsProgramAutostartEntry(const QString &Program) = 0;
    // Writes (On) or deletes the entry. False with a message for the user when that fails.
    virtual bool SetProgramAutostartEntry(bool On, const QString &Program, QString *Error = nullptr) = 0;

    // The dock's list of favourite launchers (GNOME Shell's and Cinnamon's "favorite-apps"), which
    // stands in for the Quick Launch bar here. HasDockFavorites is false where the desktop has no
    // such list a program may set; the others then do nothing and answer false.
    virtual bool HasDockFavorites() = 0;
    virtual bool IsDockFavorite(const QString &DesktopId) = 0;
    virtual bool AddDockFavorite(const QString &DesktopId) = 0;
    virtual bool RemoveDockFavorite(const QString &DesktopId) = 0;

    // A count on the launcher of the desktop entry DesktopId ("kestrune-Mail.desktop") in docks and
    // panels that show counts, such as unread messages; 0 takes it away. Nothing where the desktop
    // shows none, or for a DesktopId that names no desktop entry file.
    virtual void SetLauncherCount(const QString &DesktopId, int Count) = 0;

    // Whether the program runs as the superuser, under which the web engine cannot start its sandbox.
    virtual bool RunningAsRoot() const = 0;

    // Whether the program can know and choose where its windows are (X11); on Wayland only the
    // compositor does.
    virtual bool WindowPositionsKnown() const = 0;
};
