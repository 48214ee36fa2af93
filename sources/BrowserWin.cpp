#include "BrowserWin.h"

#include "CountBadge.h"
#include "DataModuleUnit.h"
#include "KestruneClasses.h"
#include "PageTools.h"
#include "RunTexts.h"
#include "SiteIdentity.h"
#include "WindowPlacement.h"
#include "platform/DesktopNotification.h"
#include "platform/DesktopServices.h"
#include "platform/EmbeddedWB.h"
#include "platform/ShellLinks.h"
#include "platform/TrayIdentity.h"
#include "platform/WaylandWindows.h"
#include "platform/WindowIdentity.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>

#include <algorithm>
#include <utility>

namespace {

constexpr int LayoutWidth = 426;
constexpr int LayoutHeight = 286;
constexpr int SourceTimeout = 15000;
constexpr int EditingTimeout = 5000;

// Ctrl+N (with or without Shift) would ask the engine for a window outside the program: swallowed
// everywhere in the application while a browser window exists. Each window has one of its own as a
// child: the application forgets a filter once it is destroyed.
class TCtrlNFilter : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override
    {
        if (Event->type() == QEvent::KeyPress || Event->type() == QEvent::ShortcutOverride) {
            const auto *Key = static_cast<QKeyEvent *>(Event);
            if (Key->key() == Qt::Key_N && (Key->modifiers() & Qt::ControlModifier)) {
                // An accepted override keeps any shortcut on Ctrl+N from firing as well.
                Event->accept();
                return true;
            }
        }
        return QObject::eventFilter(Watched, Event);
    }
};

void SwallowCtrlNWhileOpen(QWidget *Window)
{
    if (qApp)
        qApp->installEventFilter(new TCtrlNFilter(Window));
}

// Through the program's own icon decoder, as the site list shows the icon: the window, its taskbar
// entry and its tray icon show the row's picture.
QIcon LoadIcon(const QString &IconFile)
{
    if (!IconFile.isEmpty()) {
        QIcon Icon = LoadIconFile(IconFile);
        if (!Icon.isNull())
            return Icon;
    }
    if (!QApplication::windowIcon().isNull())
        return QApplication::windowIcon();
    return QApplication::style()->standardIcon(QStyle::SP_ComputerIcon);
}

bool OnSomeScreen(const QRect &Bounds)
{
    const QList<QScreen *> Screens = QGuiApplication::screens();
    for (const QScreen *Screen : Screens)
        if (Screen->availableVirtualGeometry().intersects(Bounds))
            return true;
    return Screens.isEmpty();
}

// A window without stored bounds: a good part of the screen's free area, centred on it.
QRect FirstPlacement(const QScreen *Screen)
{
    if (!Screen)
        return QRect(0, 0, LayoutWidth, LayoutHeight);
    const QRect Area = Screen->availableGeometry();
    // Room is left for the window's frame on a small screen.
    const QSize Size(std::min(std::max(Area.width() * 2 / 3, 800), Area.width() * 9 / 10),
                     std::min(std::max(Area.height() * 3 / 4, 600), Area.height() * 9 / 10));
    QRect Placement(QPoint(), Size);
    Placement.moveCenter(Area.center());
    return Placement;
}

} // namespace

TfBrowserWin::TfBrowserWin(QObject *Owner, const QString &IconFile, TKestrunSite *Site,
                           TDesktopServices &Services, TWebProfile &Profile)
    : QWidget(nullptr, Qt::Window), FSite(Site), FServices(Services), FProfile(Profile)
{
    SwallowCtrlNWhileOpen(this);
    setAttribute(Qt::WA_DeleteOnClose);
    if (FSite)
        FSite->SetIsOpen(1);
    if (Owner)
        connect(Owner, &QObject::destroyed, this, [this] { delete this; });

    setWindowTitle(OpeningCaption);
    // Each site stands in the taskbar and dock as an application of its own, tied to its launchers.
    if (FSite)
        SetWindowIdentity(this, SiteWindowClass(FSite->Title()), SiteDesktopName(FSite->Title()));
    FWebBrowser = new TEmbeddedWB(this, FProfile, TEmbeddedWB::TPageUse::SiteWindow);
    FStatusBar = new QStatusBar(this);
    FStatusBar->setSizeGripEnabled(false);
    auto *Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->setSpacing(0);
    Layout->addWidget(FWebBrowser, 1);
    Layout->addWidget(FStatusBar);
    FPageTools = new TPageTools(this, FWebBrowser, Layout, 1);
    connect(FPageTools, &TPageTools::StatusMessage, FStatusBar, &QStatusBar::showMessage);
    connect(FPageTools, &TPageTools::ZoomChanged, this, [this](double Zoom) {
        FWatch.Zoom = Zoom;
        if (FOnZoomChanged)
            FOnZoomChanged(FSite, this);
    });

    FtmBrowserTimer = new QTimer(this);
    FtmBrowserTimer->setSingleShot(false);
    connect(FtmBrowserTimer, &QTimer::timeout, this, [this] { FMonitor->TimerFired(); });
    FSourceGuard = new QTimer(this);
    FSourceGuard->setSingleShot(true);
    FSourceGuard->setInterval(SourceTimeout);
    connect(FSourceGuard, &QTimer::timeout, this, [this] { FMonitor->PageSourceReady(false, QByteArray()); });
    FEditingGuard = new QTimer(this);
    FEditingGuard->setSingleShot(true);
    FEditingGuard->setInterval(EditingTimeout);
    // No answer: the page's process is gone or hangs, and only a reload brings the page back.
    connect(FEditingGuard, &QTimer::timeout, this, [this] { FWebBrowser->Refresh(); });

    FpmBrowserTray = new QMenu(this);
    FmiShowBrowserWin = FpmBrowserTray->addAction(QStringLiteral("Show"));
    FpmBrowserTray->setDefaultAction(FmiShowBrowserWin);
    FpmBrowserTray->addSeparator();
    FClosewindow1 = FpmBrowserTray->addAction(QStringLiteral("Close window"));
    connect(FmiShowBrowserWin, &QAction::triggered, this, &TfBrowserWin::miShowBrowserWinClick);
    connect(FClosewindow1, &QAction::triggered, this, &TfBrowserWin::Closewindow1Click);

    // Stored once the window has settled; a minimised, hidden or full-screen window is passing
    // through and stores nothing.
    FPlacementTimer = new QTimer(this);
    FPlacementTimer->setSingleShot(true);
    FPlacementTimer->setInterval(PlacementSettleTime);
    connect(FPlacementTimer, &QTimer::timeout, this, [this] {
        if (!isVisible() || isMinimized() || isFullScreen())
            return;
        if (StorePlacement() && FOnPlacementChanged)
            FOnPlacementChanged(FSite, this);
    });

    FIcon = LoadIcon(IconFile);
    setWindowIcon(FIcon);
    FBrowserTrayIcon = new QSystemTrayIcon(FIcon, this);
    FBrowserTrayIcon->setToolTip(QApplication::applicationDisplayName());
    FBrowserTrayIcon->setContextMenu(FpmBrowserTray);
    // A bar tells this site's tray item from Kestrune's own by these; the id stays across runs.
    if (FSite)
        SetTrayIconIdentity(*FBrowserTrayIcon, QString::fromUtf8(SiteWindowClass(FSite->Title())),
                            QString::fromUtf8(FSite->Title()));
    connect(FBrowserTrayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason Reason) {
                if (Reason == QSystemTrayIcon::Trigger || Reason == QSystemTrayIcon::DoubleClick)
                    BrowserTrayIconClick();
            });
    connect(FBrowserTrayIcon, &QSystemTrayIcon::messageClicked, this, [this] {
        // Over D-Bus, Qt reports this for a click on any notification at all; balloons there are
        // notifications of our own, which report their clicks themselves.
        if (!TrayIconGoesOverDBus(*FBrowserTrayIcon))
            BalloonClicked(FChangeBalloon);
    });
    SetTrayIconVisible(FSite && FSite->MinimizeToTaskbar() == 0);

    resize(LayoutWidth, LayoutHeight);
    if (FSite) {
        // The bounds also stand behind a maximised window: un-maximising it gives them back.
        const TWindowRect &Rect = FSite->WindowRect();
        const qint64 Width = qint64(Rect.Right) - Rect.Left;
        const qint64 Height = qint64(Rect.Bottom) - Rect.Top;
        if (Width > 0 && Height > 0 && Width <= QWIDGETSIZE_MAX && Height <= QWIDGETSIZE_MAX) {
            const QRect Bounds(Rect.Left, Rect.Top, int(Width), int(Height));
            resize(Bounds.size());
            // Off every screen, the window would be out of reach: the desktop places it instead.
            if (OnSomeScreen(Bounds))
                move(Bounds.topLeft());
        } else {
            // Nothing stored (a site opened for the first time) or nothing that can be a window.
            const QRect First = FirstPlacement(QGuiApplication::primaryScreen());
            resize(First.size());
            move(First.topLeft());
        }
        if (FSite->WindowState() == 2)
            setWindowState(Qt::WindowMaximized);
    }

    AssignUniqueName();

    // FormCreate
    FFirstShow = true;
    static const TKestrunSite NoSite;
    FMonitor =
        std::make_unique<TSiteMonitor>(FSite ? *FSite : NoSite, static_cast<TSiteMonitorHost &>(*this));
    FHideToTray = new QAction(QStringLiteral("Hide to tray"), this);
    FHideToTray->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_H));
    FHideToTray->setShortcutContext(Qt::WindowShortcut);
    connect(FHideToTray, &QAction::triggered, this, &TfBrowserWin::HideToTray);
    addAction(FHideToTray);
    FWebBrowser->SetExtraContextActions({FPageTools->FindAction(), FPageTools->PrintAction(), FHideToTray});

    FWebBrowser->SetOnTitleChange([this](const QString &Title) { WebBrowserTitleChange(Title); });
    FWebBrowser->SetOnStatusTextChange([this](const QString &Text) { WebBrowserStatusTextChange(Text); });
    connect(FWebBrowser, &TEmbeddedWB::StatusMessage, this, &TfBrowserWin::WebBrowserStatusTextChange);
    connect(FWebBrowser, &TEmbeddedWB::PopupRequested, this, &TfBrowserWin::OpenPopup);
    connect(FWebBrowser, &TEmbeddedWB::WebNotification, this, &TfBrowserWin::WebNotification);
    connect(FWebBrowser->page(), &QWebEnginePage::iconUrlChanged, this, [this](const QUrl &Url) {
        if (FOnPageIcon && Url.isValid())
            FOnPageIcon(FSite, this, Url);
    });
    connect(FWebBrowser, &TEmbeddedWB::SystemBrowserRequested, this,
            [this](const QByteArray &Url) { FServices.OpenInDefaultBrowser(Url); });

    // A video or game in full screen; Escape (only then) brings the window back as it was.
    auto *ExitFullScreen = new QAction(this);
    ExitFullScreen->setShortcut(QKeySequence(Qt::Key_Escape));
    ExitFullScreen->setShortcutContext(Qt::WindowShortcut);
    ExitFullScreen->setEnabled(false);
    addAction(ExitFullScreen);
    connect(ExitFullScreen, &QAction::triggered, this,
            [this] { FWebBrowser->page()->triggerAction(QWebEnginePage::ExitFullScreen); });
    connect(FWebBrowser->page(), &QWebEnginePage::fullScreenRequested, this,
            [this, ExitFullScreen](QWebEngineFullScreenRequest Request) {
                Request.accept();
                ExitFullScreen->setEnabled(Request.toggleOn());
                FStatusBar->setVisible(!Request.toggleOn());
                if (Request.toggleOn()) {
                    FStateBeforeFullScreen = windowState() & ~Qt::WindowFullScreen;
                    showFullScreen();
                } else {
                    setWindowState(FStateBeforeFullScreen);
                }
            });
}

TfBrowserWin::~TfBrowserWin()
{
    // The page first: an answer it still owes the monitor must find nobody.
    delete std::exchange(FWebBrowser, nullptr);
    // No count stays on the dock for a window that is gone.
    ShowUnreadCount(0);
    FtmBrowserTimer->stop();
}

void TfBrowserWin::SetWatch(const TSiteWatch &Watch)
{
    FWatch = Watch;
    FPageTools->SetZoom(Watch.Zoom);
}

void TfBrowserWin::SetSiteIcon(const QIcon &Icon)
{
    if (Icon.isNull())
        return;
    FIcon = Icon;
    setWindowIcon(FIcon);
    FBrowserTrayIcon->setIcon(IconWithCount(FIcon, FUnreadCount));
}

void TfBrowserWin::ShowUnreadCount(int Count)
{
    if (Count == FUnreadCount)
        return;
    FUnreadCount = Count;
    FBrowserTrayIcon->setIcon(IconWithCount(FIcon, Count));
    if (FSite) {
        if (const QString Id = SiteDesktopId(FSite->Title()); !Id.isEmpty())
            FServices.SetLauncherCount(Id, Count);
    }
}

bool TfBrowserWin::TrayAvailable() const
{
    return FServices.IsSystemTrayAvailable();
}

void TfBrowserWin::SetTrayIconVisible(bool Visible)
{
    FBrowserTrayIcon->setVisible(Visible);
}

void TfBrowserWin::AssignUniqueName()
{
    int Highest = 0;
    const QWidgetList Windows = QApplication::topLevelWidgets();
    for (QWidget *Widget : Windows) {
        auto *Other = qobject_cast<TfBrowserWin *>(Widget);
        if (!Other || Other == this)
            continue;
        bool Ok = false;
        const int Number = Other->objectName().mid(NamePrefix.size()).toInt(&Ok);
        if (Ok && Number > Highest)
            Highest = Number;
    }
    setObjectName(NamePrefix + QString::number(Highest + 1));
}

void TfBrowserWin::showEvent(QShowEvent *Event)
{
    QWidget::showEvent(Event);
    FormShow();
}

void TfBrowserWin::FormShow()
{
    if (!FFirstShow)
        return;
    FFirstShow = false;
    // A desktop that honours the maximised state shows the window so by the time it has settled.
    QTimer::singleShot(PlacementSettleTime, this, [this] {
        if (isMaximized())
            FMaximizeHonoured = true;
    });
    StartNavigation();
}

void TfBrowserWin::StartNavigation()
{
    if (FOnBrowserOpened)
        FOnBrowserOpened(FSite, this);
    if (!FSite)
        return;
    FMonitor->Start();
    Trace(QStringLiteral("Start navigate \"") + QString::fromUtf8(FSite->URL()) + QLatin1Char('"'));
    FWebBrowser->SetOnBeforeNavigate2([this] { FMonitor->BeforeNavigate(); });
    FWebBrowser->SetOnNavigateComplete2([this] { FMonitor->NavigateComplete(); });
    FWebBrowser->SetOnDocumentComplete([this] { FMonitor->DocumentComplete(); });
    FWebBrowser->Navigate(FSite->URL());
}

void TfBrowserWin::WebBrowserTitleChange(const QString &Title)
{
    const QString Caption = BrowserCaption(Title);
    setWindowTitle(Caption);
    if (FOnTitleChanged)
        FOnTitleChanged(FSite, this, Title);
    FBrowserTrayIcon->setToolTip(Caption);
    ShowUnreadCount(UnreadCountOf(Title));
    // Shown exactly: an '&' or '_' of a title is no access key.
    FmiShowBrowserWin->setText(
        TrayMenuText(QStringLiteral("Show ") + Title, TrayIconGoesOverDBus(*FBrowserTrayIcon)));
}

void TfBrowserWin::WebBrowserStatusTextChange(const QString &Text)
{
    FStatusBar->showMessage(Text);
}

void TfBrowserWin::Closewindow1Click()
{
    FCloseRequested = true;
    close();
}

void TfBrowserWin::closeEvent(QCloseEvent *Event)
{
    if (!FCloseRequested && FSite && FSite->MinimizeToTaskbar() == 0 && TrayAvailable()) {
        // A tray-icon site goes on running in the tray; only "Close window" ends it. Without a
        // tray the close box closes: the window could otherwise never be closed from itself.
        Event->ignore();
        HideToTray();
        return;
    }
    FormClose();
    Event->accept();
}

bool TfBrowserWin::StorePlacement()
{
    if (!FSite)
        return false;
    const Qt::WindowStates State = windowState();
    if (State & Qt::WindowMaximized)
        FMaximizeHonoured = true;
    const TPlacement Stored{FSite->WindowState(), FSite->WindowRect()};
    const TWindowNow Now{pos(), size(), bool(State & Qt::WindowMaximized), bool(State & Qt::WindowMinimized),
                         bool(State & Qt::WindowFullScreen)};
    const TPlacement Placement =
        PlacementToStore(Stored, Now, FServices.WindowPositionsKnown(), FMaximizeHonoured);
    if (Placement == Stored)
        return false;
    FSite->SetWindowState(Placement.State);
    FSite->SetWindowRect(Placement.Rect);
    return true;
}

void TfBrowserWin::PlacementMayHaveChanged()
{
    if (!FFirstShow && FPlacementTimer)
        FPlacementTimer->start();
}

void TfBrowserWin::moveEvent(QMoveEvent *Event)
{
    QWidget::moveEvent(Event);
    PlacementMayHaveChanged();
}

void TfBrowserWin::resizeEvent(QResizeEvent *Event)
{
    QWidget::resizeEvent(Event);
    PlacementMayHaveChanged();
}

void TfBrowserWin::FormClose()
{
    if (!FSite)
        return;
    StorePlacement();
    ShowUnreadCount(0);
    FSite->SetIsOpen(0);
    if (FOnBrowserClosed)
        FOnBrowserClosed(FSite, this);
}

void TfBrowserWin::changeEvent(QEvent *Event)
{
    QWidget::changeEvent(Event);
    if (Event->type() == QEvent::WindowStateChange) {
        if (isMaximized() && isVisible())
            FMaximizeHonoured = true;
        PlacementMayHaveChanged();
    }
    if (Event->type() == QEvent::WindowStateChange && isMinimized() && !FRestoring)
        MinimizedToTray();
}

void TfBrowserWin::MinimizedToTray()
{
    if (FSite && FSite->MinimizeToTaskbar() == 0 && TrayAvailable()) {
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                HideToTray();
        });
    }
}

void TfBrowserWin::HideToTray()
{
    if (!TrayAvailable()) {
        // Nowhere to hide to: the taskbar keeps the window within reach.
        showMinimized();
        return;
    }
    SetTrayIconVisible(true);
    // A minimised window keeps that state while hidden: taking it away now would map the window
    // again behind the toolkit's back (a window that shows but never paints). It goes when the
    // window is shown again.
    hide();
}

void TfBrowserWin::ShowBrowserWindow()
{
    SetTrayIconVisible(FSite && FSite->MinimizeToTaskbar() == 0);
    const bool Minimized = isMinimized();
    show();
    // Shown first and then restored: on X11 a minimised window comes back by being mapped, which
    // the restore does once the window is the toolkit's shown window again.
    if (Minimized) {
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
        // The window was mapped with its iconic hint and then restored: the window manager's word
        // on the first can come after the restore. A minimised state that is still there once it
        // has settled is the user's.
        FRestoring = true;
        QTimer::singleShot(RestoreSettleTime, this, [this] {
            FRestoring = false;
            if (isVisible() && isMinimized())
                MinimizedToTray();
        });
    }
}

void TfBrowserWin::ShowAndActivate()
{
    ShowBrowserWindow();
    ActivateWindow(this);
}

void TfBrowserWin::MinimizeOrHide()
{
    if (FSite && FSite->MinimizeToTaskbar() != 0)
        showMinimized();
    else
        HideToTray();
}

void TfBrowserWin::OpenPopup(QWebEngineNewWindowRequest &Request)
{
    auto *Popup = new TfBrowserPopup(this, Request, FServices, FProfile);
    Popup->show();
}

void TfBrowserWin::ShowBalloon(const QString &Title, const QString &Text, const QString &NotificationTitle,
                               bool Change, TShownReport Shown)
{
    if (ShowTrayBalloon(
            FServices, TrayAvailable(), *FBrowserTrayIcon, QSystemTrayIcon::Information, Title, Text,
            NotificationTitle,
            [Window = QPointer(this), Change] {
                if (Window)
                    Window->BalloonClicked(Change);
            },
            std::move(Shown))) {
        FChangeBalloon = Change;
        emit BalloonShown(Title, Text);
    }
}

void TfBrowserWin::BalloonClicked(bool Change)
{
    if (Change && FOnShowChanges && FSite)
        FOnShowChanges(FSite, this);
    else
        ShowAndActivate();
}

void TfBrowserWin::WebNotification(const QString &Title, const QString &Text, const TShownReport &Shown)
{
    if (FBrowserTrayIcon->isVisible())
        ShowBalloon(Title, Text, SiteNotificationTitle(FSite ? FSite->Title() : QByteArray(), Title), false,
                    Shown);
    else if (FOnWebNotification)
        FOnWebNotification(FSite, this, Title, Text, Shown);
}

void TfBrowserWin::StartTimer(int Milliseconds)
{
    FtmBrowserTimer->start(Milliseconds);
}

void TfBrowserWin::StopTimer()
{
    FtmBrowserTimer->stop();
}

void TfBrowserWin::RefreshPage()
{
    if (!isActiveWindow()) {
        FWebBrowser->Refresh();
        return;
    }
    // The user may be typing into the page: a reload now would lose the text.
    const int Request = ++FEditingRequest;
    FEditingGuard->start();
    FWebBrowser->AskFocusTakesText([this, Request](bool Editing) {
        if (Request != FEditingRequest || !FEditingGuard->isActive())
            return;
        FEditingGuard->stop();
        if (Editing)
            FMonitor->RefreshPostponed();
        else
            FWebBrowser->Refresh();
    });
}

void TfBrowserWin::RequestPageSource()
{
    const int Request = ++FSourceRequest;
    FSourceGuard->start();
    const auto Current = [this, Request] { return Request == FSourceRequest && FSourceGuard->isActive(); };
    // The reading the monitor compares, and the visible text kept to show what changed.
    const auto Ready = [this, Current](bool Ok, const QByteArray &Reading, const QByteArray &Visible) {
        if (!Current())
            return;
        FSourceGuard->stop();
        if (Ok) {
            FPreviousText = std::exchange(FCurrentText, QString::fromUtf8(Visible));
        }
        FMonitor->PageSourceReady(Ok, Reading);
    };
    const bool Text = FWatch.Compare == TCompareMode::VisibleText;
    FWebBrowser->GetVisibleText(
        Text ? FWatch.Selector : QString(), [this, Current, Ready, Text](bool Ok, const QByteArray &Visible) {
            if (!Current())
                return;
            if (Text) {
                Ready(Ok, Visible, Visible);
                return;
            }
            FWebBrowser->GetDocumentSource(
                [Ready, Visible = Ok ? Visible : QByteArray()](bool SourceOk, const QByteArray &Source) {
                    Ready(SourceOk, Source, Visible);
                });
        });
}

void TfBrowserWin::ContentChanged()
{
    if (!FSite)
        return;
    if (FOnChangeNoted)
        FOnChangeNoted(FSite, this);
    if (FBrowserTrayIcon->isVisible()) {
        const QString Title = ChangeBalloonTitle(FSite->Title());
        ShowBalloon(Title, ChangeBalloonText(FSite->Title()), Title, true);
    } else if (FOnContentChanged) {
        FOnContentChanged(FSite, this);
    }
}

void TfBrowserWin::Trace(const QString &Text)
{
    if (FOnTrace)
        FOnTrace(this, Text);
}

TfBrowserPopup::TfBrowserPopup(QWidget *Opener, QWebEngineNewWindowRequest &Request,
                               TDesktopServices &Services, TWebProfile &Profile)
    : QWidget(nullptr, Qt::Window), FServices(Services), FProfile(Profile)
{
    SwallowCtrlNWhileOpen(this);
    setAttribute(Qt::WA_DeleteOnClose);
    if (Opener) {
        connect(Opener, &QObject::destroyed, this, [this] { delete this; });
        setWindowIcon(Opener->windowIcon());
        // A sign-in window belongs to its site's application.
        if (const auto *Site = qobject_cast<TfBrowserWin *>(Opener); Site && Site->Site())
            SetWindowIdentity(this, SiteWindowClass(Site->Site()->Title()),
                              SiteDesktopName(Site->Site()->Title()));
    }
    setWindowTitle(OpeningCaption);
    FWebBrowser = new TEmbeddedWB(this, FProfile, TEmbeddedWB::TPageUse::WindowRequest);
    auto *Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->addWidget(FWebBrowser);
    const QRect Wanted = Request.requestedGeometry();
    resize(Wanted.width() > 0 && Wanted.height() > 0 ? Wanted.size().boundedTo(QSize(4096, 4096))
                                                     : QSize(LayoutWidth * 3 / 2, LayoutHeight * 2));
    FWebBrowser->SetOnTitleChange([this](const QString &Title) { setWindowTitle(BrowserCaption(Title)); });
    connect(FWebBrowser->page(), &QWebEnginePage::windowCloseRequested, this, &QWidget::close);
    connect(FWebBrowser, &TEmbeddedWB::SystemBrowserRequested, this,
            [this](const QByteArray &Url) { FServices.OpenInDefaultBrowser(Url); });
    connect(FWebBrowser, &TEmbeddedWB::PopupRequested, this, [this](QWebEngineNewWindowRequest &Next) {
        (new TfBrowserPopup(this, Next, FServices, FProfile))->show();
    });
    Request.openIn(FWebBrowser->page());
}

TfBrowserPopup::~TfBrowserPopup()
{
    delete std::exchange(FWebBrowser, nullptr);
}
