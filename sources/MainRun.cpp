#include "BrowserWin.h"
#include "ChangesWin.h"
#include "Main.h"
#include "Rendering.h"
#include "RunTexts.h"
#include "StepTimes.h"
#include "platform/DesktopNotification.h"
#include "platform/DesktopServices.h"
#include "platform/WaylandWindows.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>

// Running sites: in a window of their own or in the system's browser, the open-window list with
// its tray entries, and the change balloon.

void TfMainForm::tbRunClick()
{
    if (TKestrunSite *Site = SelectedSite())
        RunSite(Site, false);
}

void TfMainForm::miRunDefaultBrowserClick()
{
    if (TKestrunSite *Site = SelectedSite())
        OpenInSystemBrowser(Site->URL(), false);
}

void TfMainForm::RunSite(TKestrunSite *Site, bool Minimized)
{
    if (!Site)
        return;
    QPointer<TfBrowserWin> Opened;
    if (Site->BrowserChoice() != 1) {
        OpenInSystemBrowser(Site->URL(), Minimized);
    } else if (!SiteWindowsCanRun()) {
        ReportSiteWindowsBlocked(Site);
    } else {
        // The file of the picture the site's row shows: icon names match without letter case.
        const int Image = SiteImageIndex(*Site);
        const QString IconFile = ProgramFolder + QStringLiteral("Icons/") +
                                 (Image >= 0 ? IconNames.value(Image) : QString::fromUtf8(Site->IconName())) +
                                 QStringLiteral(".ico");
        NoteStep("window-asked");
        auto *Window = new TfBrowserWin(this, IconFile, Site, FServices, FWebProfile);
        NoteStep("window-made");
        Window->SetOnBrowserOpened([this](TKestrunSite *S, TfBrowserWin *W) { BrowserOpened(S, W); });
        Window->SetOnBrowserClosed([this](TKestrunSite *S, TfBrowserWin *W) { BrowserClosed(S, W); });
        Window->SetOnTitleChanged([this](TKestrunSite *S, TfBrowserWin *W, const QString &Title) {
            BrowserTitleChanged(S, W, Title);
        });
        Window->SetOnContentChanged([this](TKestrunSite *S, TfBrowserWin *W) { SiteContentChanged(S, W); });
        Window->SetOnChangeNoted([this](TKestrunSite *S, TfBrowserWin *W) { SiteChangeNoted(S, W); });
        Window->SetOnShowChanges([this](TKestrunSite *S, TfBrowserWin *W) { BalloonClicked(W, S); });
        Window->SetWatch(WatchOf(*Site));
        Window->SetOnZoomChanged([this](TKestrunSite *S, TfBrowserWin *W) { SiteZoomChanged(S, W); });
        // Kept at once: a lost display or a crash keeps the window's last placement.
        Window->SetOnPlacementChanged([this](TKestrunSite *, TfBrowserWin *) { SaveSitesNow(); });
        Window->SetOnPageIcon(
            [this](TKestrunSite *S, TfBrowserWin *W, const QUrl &Url) { SitePageIconFound(S, W, Url); });
        Window->SetOnTrace([](TfBrowserWin *, const QString &) {});
        Window->SetOnWebNotification([this](TKestrunSite *S, TfBrowserWin *W, const QString &Title,
                                            const QString &Text, const TfBrowserWin::TShownReport &Shown) {
            SiteWebNotification(S, W, Title, Text, Shown);
        });
        Window->ShowBrowserWindow();
        NoteStep("window-shown");
        if (Minimized)
            Window->MinimizeOrHide();
        else
            Opened = Window;
    }
    // To the top of the window order; this neither moves nor shows the main window.
    if (isVisible())
        raise();
    // Site windows are top-level windows of their own here, not windows owned by the list that
    // always stay above it: raising the list alone would bury the window just opened.
    if (Opened && Opened->isVisible())
        ActivateWindow(Opened);
}

bool TfMainForm::OpensInOwnWindow(const TKestrunSite &Site) const
{
    return Site.BrowserChoice() == 1 && SiteWindowsCanRun();
}

bool TfMainForm::SiteWindowsCanRun() const
{
    // The engine ends the whole process when it cannot start its sandbox as root.
    return !FServices.RunningAsRoot() || EngineSandboxOffHere();
}

void TfMainForm::ReportSiteWindowsBlocked(const TKestrunSite *Site)
{
    if (std::exchange(FRootReported, true)) {
        sbStatusPanel1->setText(QStringLiteral("Site windows cannot open as root"));
        return;
    }
    ShowMessage(this, TMsgKind::Error,
                QStringLiteral("Kestrune cannot open the site \"%1\" in a window of its own: it runs as root "
                               "(the superuser), and its web engine does not start there.\r\n"
                               "Start Kestrune as your own user instead. Sites set to open in the default "
                               "browser still open.")
                    .arg(QString::fromUtf8(Site->Title())));
}

void TfMainForm::OpenInSystemBrowser(const QByteArray &URL, bool Minimized)
{
    // The user's own address: whatever its scheme, as the user gave it.
    FServices.OpenSiteAddress(URL, Minimized);
}

void TfMainForm::BrowserOpened(TKestrunSite *Site, TfBrowserWin *Window)
{
    auto *Item = new QAction(MenuCaption(Site->Title(), TrayMenuOverDBus()), pmTray);
    Item->setIcon(SiteImage(SiteImageIndex(*Site)));
    connect(Item, &QAction::triggered, this, [this, Item] { TrayOpenWindowClick(Item); });
    OpenBrowsers.append({Site, Window, Item});
    // Newest first: directly below the delimiter of the open-window section.
    const QList<QAction *> Entries = pmTray->actions();
    pmTray->insertAction(Entries.value(Entries.indexOf(miTrayOpenedSitesDelimiter) + 1), Item);
    UpdateOpenBrowserCount();
}

void TfMainForm::BrowserClosed(TKestrunSite *Site, TfBrowserWin *Window)
{
    for (qsizetype i = OpenBrowsers.size() - 1; i >= 0; --i) {
        if (OpenBrowsers[i].Site == Site && OpenBrowsers[i].Window == Window) {
            // The window is on its own way out: only its record and tray entry go here.
            const TOpenBrowser Record = OpenBrowsers.takeAt(i);
            delete Record.MenuItem.data();
            UpdateOpenBrowserCount();
            return;
        }
    }
}

void TfMainForm::BrowserTitleChanged(TKestrunSite *Site, TfBrowserWin *Window, const QString &Title)
{
    for (qsizetype i = OpenBrowsers.size() - 1; i >= 0; --i) {
        const TOpenBrowser &Record = OpenBrowsers[i];
        if (Record.Site == Site && Record.Window == Window && Record.MenuItem)
            Record.MenuItem->setText(MenuCaption(
                Site->Title() + " (" + ShortenTitle(Title, 30).toUtf8() + ")", TrayMenuOverDBus()));
    }
}

void TfMainForm::miClosewindowClick()
{
    const TKestrunSite *Site = SelectedSite();
    if (!Site)
        return;
    for (qsizetype i = OpenBrowsers.size() - 1; i >= 0; --i) {
        if (OpenBrowsers[i].Site == Site) {
            DropOpenBrowser(int(i));
            return;
        }
    }
}

void TfMainForm::pmSitePopup()
{
    const TKestrunSite *Site = SelectedSite();
    miSitePopupRun->setEnabled(Site != nullptr);
    bool Open = false;
    for (const TOpenBrowser &Record : std::as_const(OpenBrowsers))
        Open = Open || (Site && Record.Site == Site);
    miClosewindow->setEnabled(Open);
    miSitePopupChanges->setEnabled(Site && !WatchOf(*Site).History.isEmpty());
}

void TfMainForm::TraySiteClick(QAction *Item)
{
    if (!Item)
        return;
    // The entry's own site: two sites whose titles match must each open from their own entry.
    for (int i = 0; i < Sites.Count(); ++i) {
        if (Sites[i]->MenuItem() == Item) {
            RunSite(Sites[i], false);
            return;
        }
    }
    const QByteArray Caption = MenuCaptionText(Item->text(), TrayMenuOverDBus());
    for (int i = 0; i < Sites.Count(); ++i) {
        if (SameTextAscii(Sites[i]->Title(), Caption)) {
            RunSite(Sites[i], false);
            return;
        }
    }
}

void TfMainForm::TrayOpenWindowClick(QAction *Item)
{
    // Each entry shows its own window, whatever the titles of the open windows are.
    for (const TOpenBrowser &Record : std::as_const(OpenBrowsers)) {
        if (Record.MenuItem == Item) {
            // Also when another window covers it: the user asked for this one.
            if (auto *Window = qobject_cast<TfBrowserWin *>(Record.Window.data()))
                Window->ShowAndActivate();
            return;
        }
    }
}

void TfMainForm::SiteZoomChanged(TKestrunSite *Site, TfBrowserWin *Window)
{
    if (!Site || !Window || Sites.IndexOf(Site) < 0)
        return;
    TSiteWatch Watch = WatchOf(*Site);
    Watch.Zoom = Window->Watch().Zoom;
    SetWatch(*Site, Watch);
    SaveSiteWatchesNow();
}

void TfMainForm::SiteChangeNoted(TKestrunSite *Site, TfBrowserWin *Window)
{
    if (!Site || Sites.IndexOf(Site) < 0)
        return;
    TSiteWatch Watch = WatchOf(*Site);
    Watch.NoteChange(QDateTime::currentDateTime().toUTC(), Window ? Window->PreviousText() : QString(),
                     Window ? Window->CurrentText() : QString());
    SetWatch(*Site, Watch);
    SaveSiteWatchesNow();
    if (auto *Entry = qobject_cast<QAction *>(Site->MenuItem()))
        Entry->setText(TraySiteCaption(*Site));
    // "What changed..." may have something to show now.
    lvSitesSelectItem(SelectedRow(), SelectedRow() != nullptr);
}

QString TfMainForm::TraySiteCaption(const TKestrunSite &Site) const
{
    return ChangedEntryCaption(MenuCaption(Site.Title(), TrayMenuOverDBus()), WatchOf(Site).LastChanged,
                               QDateTime::currentDateTime());
}

void TfMainForm::SiteContentChanged(TKestrunSite *Site, TfBrowserWin *Window)
{
    if (!Site)
        return;
    const QString Title = ChangeBalloonTitle(Site->Title());
    ShowBalloon(Window, Title, ChangeBalloonText(Site->Title()), Title, Site);
}

void TfMainForm::ShowChanges(TKestrunSite *Site)
{
    if (!Site || Sites.IndexOf(Site) < 0)
        return;
    auto *Changes = new TfChangesWin(this, QString::fromUtf8(Site->Title()), WatchOf(*Site).History);
    Changes->setWindowFlag(Qt::Window);
    Changes->show();
    ActivateWindow(Changes);
}

void TfMainForm::BalloonClicked(TfBrowserWin *Window, TKestrunSite *ChangedSite)
{
    // A change balloon shows what changed, once there is something to show.
    if (ChangedSite && Sites.IndexOf(ChangedSite) >= 0 && !WatchOf(*ChangedSite).History.isEmpty())
        ShowChanges(ChangedSite);
    else if (Window)
        Window->ShowAndActivate();
}

void TfMainForm::SiteWebNotification(TKestrunSite *Site, TfBrowserWin *Window, const QString &Title,
                                     const QString &Text, const std::function<void(bool Shown)> &Shown)
{
    ShowBalloon(Window, Title, Text, SiteNotificationTitle(Site ? Site->Title() : QByteArray(), Title),
                nullptr, Shown);
}

void TfMainForm::ShowBalloon(TfBrowserWin *Window, const QString &Title, const QString &Text,
                             const QString &NotificationTitle, TKestrunSite *ChangedSite,
                             std::function<void(bool Shown)> Shown)
{
    if (ShowTrayBalloon(
            FServices, TrayAvailable(), *TrayIcon, QSystemTrayIcon::NoIcon, Title, Text, NotificationTitle,
            [Self = QPointer(this), Window = QPointer(Window), ChangedSite] {
                if (Self)
                    Self->BalloonClicked(Window, ChangedSite);
            },
            std::move(Shown))) {
        // A click on Qt's balloon is reported by the icon, for the window of its last balloon.
        FBalloonWindow = Window;
        FBalloonSite = ChangedSite;
        emit BalloonShown(Title, Text);
    }
}
