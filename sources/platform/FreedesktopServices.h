#pragma once

#include "platform/DesktopServices.h"

#include <memory>

class TDesktopNotifier;
class TLauncherEntries;

// The desktop services of a freedesktop desktop (X11 or Wayland): Qt's tray, the session bus's
// notification service, xdg-open through QDesktopServices, the XDG folders, the launcher-entry API
// for counts on launchers.
class TFreedesktopServices : public TDesktopServices
{
public:
    TFreedesktopServices();
    ~TFreedesktopServices() override;

    bool IsSystemTrayAvailable() const override;
    bool OpenInDefaultBrowser(const QByteArray &Address, bool Minimized = false) override;
    bool OpenSiteAddress(const QByteArray &Address, bool Minimized = false) override;
    bool SendDesktopNotification(const QString &Title, const QString &Text, int Milliseconds,
                                 std::function<void()> OnClicked = {},
                                 std::function<void(bool Shown)> OnShown = {}) override;
    QString SpecialFolderPath(TSpecialFolder Folder, bool Create = false) override;
    bool IsProgramAutostartEntry(const QString &Program) override;
    bool SetProgramAutostartEntry(bool On, const QString &Program, QString *Error = nullptr) override;
    bool HasDockFavorites() override;
    bool IsDockFavorite(const QString &DesktopId) override;
    bool AddDockFavorite(const QString &DesktopId) override;
    bool RemoveDockFavorite(const QString &DesktopId) override;
    void SetLauncherCount(const QString &DesktopId, int Count) override;
    bool RunningAsRoot() const override;
    bool WindowPositionsKnown() const override;

private:
    // XdgNamed: whether the XDG rules name the folder, so that it may be made when missing.
    static QString FolderPath(TSpecialFolder Folder, bool *XdgNamed);

    std::unique_ptr<TDesktopNotifier> FNotifier;
    std::unique_ptr<TLauncherEntries> FLauncherEntries;
};
