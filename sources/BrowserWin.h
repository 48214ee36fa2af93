#pragma once

#include "SiteMonitor.h"
#include "SiteWatch.h"

#include <QIcon>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QMenu;
class QStatusBar;
class QSystemTrayIcon;
class QTimer;
class QWebEngineNewWindowRequest;
class TEmbeddedWB;
class TDesktopServices;
class TKestrunSite;
class TPageTools;
class TWebProfile;

// The window in which one site runs: the page above a one-line status bar, its own tray icon and
// tray menu, and the change monitor of the site.
class TfBrowserWin : public QWidget, private TSiteMonitorHost
{
    Q_OBJECT

public:
    using TBrowserEvent = std::function<void(TKestrunSite *Site, TfBrowserWin *Window)>;
    using TTitleEvent = std::function<void(TKestrunSite *Site, TfBrowserWin *Window, const QString &Title)>;
    using TTraceEvent = std::function<void(TfBrowserWin *Window, const QString &Text)>;
    using TIconEvent = std::function<void(TKestrunSite *Site, TfBrowserWin *Window, const QUrl &Url)>;
    // Shown learns whether the notification showed; a handler that does not show it may leave it.
    using TShownReport = std::function<void(bool Shown)>;
    using TNotificationEvent =
        std::function<void(TKestrunSite *Site, TfBrowserWin *Window, const QString &Title,
                           const QString &Text, const TShownReport &Shown)>;

    static inline const QString NamePrefix = QStringLiteral("fKestruneBrowserWindow_");

    // The window is destroyed with Owner, but stays a window of its own: hiding or minimising the
    // owner leaves it where it is. Site must outlive the window. An icon file that cannot be read
    // leaves the window with the program's icon.
    // Services: the desktop's; Profile: the one the page and its popups are made on. Both must
    // outlive the window.
    TfBrowserWin(QObject *Owner, const QString &IconFile, TKestrunSite *Site, TDesktopServices &Services,
                 TWebProfile &Profile);
    ~TfBrowserWin() override;

    void SetOnBrowserOpened(TBrowserEvent Handler) { FOnBrowserOpened = std::move(Handler); }
    void SetOnBrowserClosed(TBrowserEvent Handler) { FOnBrowserClosed = std::move(Handler); }
    void SetOnTitleChanged(TTitleEvent Handler) { FOnTitleChanged = std::move(Handler); }
    void SetOnContentChanged(TBrowserEvent Handler) { FOnContentChanged = std::move(Handler); }
    // Told of every change the monitor sees, whichever tray shows its balloon.
    void SetOnChangeNoted(TBrowserEvent Handler) { FOnChangeNoted = std::move(Handler); }
    // A click on the window's own change balloon shows what changed through this, when it is set.
    void SetOnShowChanges(TBrowserEvent Handler) { FOnShowChanges = std::move(Handler); }
    // What the monitor compares: the page's source (the default) or its visible text.
    // Also the page's zoom.
    void SetWatch(const TSiteWatch &Watch);
    // The user zoomed the page: the new zoom is the watch's.
    void SetOnZoomChanged(TBrowserEvent Handler) { FOnZoomChanged = std::move(Handler); }
    // The page declared its icon (told once the page has loaded, and again when it changes).
    void SetOnPageIcon(TIconEvent Handler) { FOnPageIcon = std::move(Handler); }
    // The window was moved, resized, maximised or restored, and has settled: its placement is in
    // the site record now (so that a lost display or a crash does not lose it).
    void SetOnPlacementChanged(TBrowserEvent Handler) { FOnPlacementChanged = std::move(Handler); }
    static constexpr int PlacementSettleTime = 1000;
    const TSiteWatch &Watch() const { return FWatch; }
    // The page's visible text at the reading before the last one and at the last one: before and
    // after a change the monitor has just reported.
    const QString &PreviousText() const { return FPreviousText; }
    const QString &CurrentText() const { return FCurrentText; }
    void SetOnTrace(TTraceEvent Handler) { FOnTrace = std::move(Handler); }
    // Web notifications the site shows while the window has no tray icon of its own in view.
    void SetOnWebNotification(TNotificationEvent Handler) { FOnWebNotification = std::move(Handler); }

    void ShowBrowserWindow();
    void ShowAndActivate();
    void MinimizeOrHide();
    // The window's state and bounds into its site record, as its close does (also for a window
    // that is still open when the program ends).
    // True when the record changed.
    bool StorePlacement();
    // To the window's tray icon; where the desktop has no tray, the window minimises instead.
    void HideToTray();

    TKestrunSite *Site() const { return FSite; }
    TEmbeddedWB *WebBrowser() const { return FWebBrowser; }
    QStatusBar *StatusBar() const { return FStatusBar; }
    // Find in page, zoom and print.
    TPageTools *PageTools() const { return FPageTools; }
    QSystemTrayIcon *BrowserTrayIcon() const { return FBrowserTrayIcon; }
    QMenu *pmBrowserTray() const { return FpmBrowserTray; }
    QAction *miShowBrowserWin() const { return FmiShowBrowserWin; }
    QAction *Closewindow1() const { return FClosewindow1; }
    QAction *HideToTrayAction() const { return FHideToTray; }
    TSiteMonitor &Monitor() { return *FMonitor; }
    const QIcon &SiteIcon() const { return FIcon; }
    // A new picture for the window, its taskbar entry and its tray icon.
    void SetSiteIcon(const QIcon &Icon);
    // The count of unread items the page's title begins with ("(3) Inbox"), shown on the tray icon
    // and the dock's entry of the site; 0 when none.
    int UnreadCount() const { return FUnreadCount; }

    // Handlers of the tray icon and its menu.
    void BrowserTrayIconClick() { ShowAndActivate(); }
    void miShowBrowserWinClick() { ShowBrowserWindow(); }
    void Closewindow1Click();

    bool TrayAvailable() const;

signals:
    // The balloon shown on the window's own tray icon in a tray (the change report or a web
    // notification).
    void BalloonShown(const QString &Title, const QString &Text);

protected:
    void showEvent(QShowEvent *Event) override;
    void closeEvent(QCloseEvent *Event) override;
    void changeEvent(QEvent *Event) override;
    void moveEvent(QMoveEvent *Event) override;
    void resizeEvent(QResizeEvent *Event) override;

private:
    void AssignUniqueName();
    void FormShow();
    void StartNavigation();
    void FormClose();
    // A tray-icon site's window that was minimised goes to its tray icon where there is a tray.
    void MinimizedToTray();
    void WebBrowserTitleChange(const QString &Title);
    void WebBrowserStatusTextChange(const QString &Text);
    void OpenPopup(QWebEngineNewWindowRequest &Request);
    // On the window's tray icon, which is visible: a balloon in an XEmbed tray, otherwise a desktop
    // notification titled NotificationTitle. A click on either brings the window forward.
    // Change: the balloon tells of a change the monitor saw; a click on it shows what changed.
    void ShowBalloon(const QString &Title, const QString &Text, const QString &NotificationTitle,
                     bool Change = false, TShownReport Shown = {});
    void BalloonClicked(bool Change);
    void WebNotification(const QString &Title, const QString &Text, const TShownReport &Shown);
    void SetTrayIconVisible(bool Visible);
    void ShowUnreadCount(int Count);
    void PlacementMayHaveChanged();

    // TSiteMonitorHost
    void StartTimer(int Milliseconds) override;
    void StopTimer() override;
    void RefreshPage() override;
    void RequestPageSource() override;
    void ContentChanged() override;
    void Trace(const QString &Text) override;

    TKestrunSite *FSite;
    TDesktopServices &FServices;
    TWebProfile &FProfile;
    bool FFirstShow = true;
    bool FCloseRequested = false;
    // Set while a window hidden from the minimised state comes back: the window manager may still
    // report the old iconic state on the way, which must not send the window to the tray again.
    bool FRestoring = false;
    static constexpr int RestoreSettleTime = 1500;
    Qt::WindowStates FStateBeforeFullScreen;
    QIcon FIcon;
    int FUnreadCount = 0;
    TEmbeddedWB *FWebBrowser = nullptr;
    QStatusBar *FStatusBar = nullptr;
    TPageTools *FPageTools = nullptr;
    QSystemTrayIcon *FBrowserTrayIcon = nullptr;
    QMenu *FpmBrowserTray = nullptr;
    QAction *FmiShowBrowserWin = nullptr;
    QAction *FClosewindow1 = nullptr;
    QAction *FHideToTray = nullptr;
    QTimer *FtmBrowserTimer = nullptr;
    std::unique_ptr<TSiteMonitor> FMonitor;
    // A source request the engine never answers (its page's process died) must not stop the monitor.
    QTimer *FSourceGuard = nullptr;
    int FSourceRequest = 0;
    // The same for the question whether the user is typing into the page, before a reload.
    QTimer *FEditingGuard = nullptr;
    int FEditingRequest = 0;

    TBrowserEvent FOnBrowserOpened;
    TBrowserEvent FOnBrowserClosed;
    TTitleEvent FOnTitleChanged;
    TBrowserEvent FOnContentChanged;
    TBrowserEvent FOnChangeNoted;
    TBrowserEvent FOnShowChanges;
    TBrowserEvent FOnZoomChanged;
    TIconEvent FOnPageIcon;
    TBrowserEvent FOnPlacementChanged;
    QTimer *FPlacementTimer = nullptr;
    // The desktop has shown the window maximised since it opened (a tiling one may never do).
    bool FMaximizeHonoured = false;
    bool FChangeBalloon = false; // the last balloon told of a change
    TSiteWatch FWatch;
    QString FPreviousText;
    QString FCurrentText;
    TTraceEvent FOnTrace;
    TNotificationEvent FOnWebNotification;
};

// A window the page opened itself (a sign-in window): the same profile, no site record, no monitor.
// It goes with Opener.
class TfBrowserPopup : public QWidget
{
    Q_OBJECT

public:
    // Profile: the opener's, which the request's page needs; it must outlive the window.
    TfBrowserPopup(QWidget *Opener, QWebEngineNewWindowRequest &Request, TDesktopServices &Services,
                   TWebProfile &Profile);
    ~TfBrowserPopup() override;
    TEmbeddedWB *WebBrowser() const { return FWebBrowser; }

private:
    TDesktopServices &FServices;
    TWebProfile &FProfile;
    TEmbeddedWB *FWebBrowser = nullptr;
};
