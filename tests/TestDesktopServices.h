#pragma once

#include "platform/DesktopBrowser.h"
#include "platform/FreedesktopServices.h"
#include "platform/ShellLinks.h"

#include <QList>

#include <optional>

// The desktop of a test: the freedesktop services on the test's private folders and session bus,
// with a system tray that is there or not as the test says, and a default browser that only
// records what it was given.
class TTestDesktopServices : public TFreedesktopServices
{
public:
    // Unset: whatever the test's display says.
    std::optional<bool> TrayAvailable = false;
    std::optional<bool> AsRoot = false;
    QList<QByteArray> Opened;
    // Hands addresses on to the real default browser too (a test's own URL handler catches them).
    bool PassToDesktop = false;

    bool IsSystemTrayAvailable() const override
    {
        return TrayAvailable ? *TrayAvailable : TFreedesktopServices::IsSystemTrayAvailable();
    }
    bool OpenInDefaultBrowser(const QByteArray &Address, bool Minimized = false) override
    {
        Opened.append(Address);
        return PassToDesktop ? TFreedesktopServices::OpenInDefaultBrowser(Address, Minimized)
                             : IsWebAddress(Address);
    }
    // Recorded as the desktop would get it.
    bool OpenSiteAddress(const QByteArray &Address, bool Minimized = false) override
    {
        const QUrl Url = SiteAddress(Address);
        Opened.append(Url.toEncoded());
        return PassToDesktop ? TFreedesktopServices::OpenSiteAddress(Address, Minimized) : Url.isValid();
    }
    bool RunningAsRoot() const override { return AsRoot ? *AsRoot : TFreedesktopServices::RunningAsRoot(); }
    // Unset: whatever the test's platform says.
    std::optional<bool> PositionsKnown;
    bool WindowPositionsKnown() const override
    {
        return PositionsKnown ? *PositionsKnown : TFreedesktopServices::WindowPositionsKnown();
    }
    QString ProgramAutostartFile()
    {
        return SpecialFolderPath(TSpecialFolder::Startup) + QLatin1Char('/') + ProgramAutostartName;
    }
    QList<QByteArray> TakeOpened() { return std::exchange(Opened, {}); }
};
