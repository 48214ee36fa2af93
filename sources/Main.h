#pragma once

#include "KestruneClasses.h"
#include "SiteWatch.h"
#include "UpdateCheck.h"
#include "platform/MessageBoxes.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QSet>
#include <QSslCertificate>
#include <QStringList>

#include <functional>
#include <optional>

class QAction;
class QLabel;
class QMenu;
class QStatusBar;
class QSystemTrayIcon;
class QToolBar;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class TDesktopServices;
class TDownloadThread;
class TWebProfile;
class TfBrowserWin;
class TfSiteDlg;

// One open browser window of a site. The window belongs to the main window; the site record does
// not belong to the record.
struct TOpenBrowser
{
    TKestrunSite *Site = nullptr;
    QPointer<QWidget> Window;   // a TfBrowserWin
    QPointer<QAction> MenuItem; // its entry in pmTray
};

// Where the update check asks: the product's server over https, trusted as the system trusts it.
struct TUpdateSource
{
    QByteArray Server = KestruneServer;      // no trailing '/'
    QList<QSslCertificate> ExtraAuthorities; // trusted beside the system's (a test's own)
};

// True when both texts are equal once the ASCII letters A-Z are turned into a-z; nothing else is folded.
bool SameTextAscii(const QByteArray &A, const QByteArray &B);

// Tray and list captions show titles as they are: '&' (and, in a menu that goes over D-Bus, '_')
// would otherwise become an access key.
QString MenuCaption(const QByteArray &Title, bool OverDBus = false);
QByteArray MenuCaptionText(const QString &Caption, bool OverDBus = false);

// The places a site's shortcut goes to, as the shortcut commands and the site dialog's boxes
// carry them.
struct TShortcutPlace
{
    static constexpr int StartMenu = 1;
    static constexpr int Desktop = 2;
    static constexpr int QuickLaunch = 3; // the dock's favourites, made of the Start-menu entry
    static constexpr int Startup = 4;     // "Windows startup": opens the site minimised
};

// The folder of a shortcut place, without a trailing '/'; empty for another place or when it
// cannot be determined. Quick launch's is the Start menu's, where the entry the dock pins lies.
// With Create, a missing folder that the XDG rules name is made; empty when it cannot be.
QString ShortcutPlaceFolder(TDesktopServices &Services, int Place, bool Create = false);

// The main window: the site list, its commands, the tray menu and the program's start and end.
class TfMainForm : public QMainWindow
{
    Q_OBJECT

public:
    // ProgramFolder: the data folder ("sites.dat" and "Icons"); Parameters: the program's own
    // command line, each handed to OpenLink once the sites are listed. BeforeParameters, when
    // given, runs right before them: the place to start taking a later start's hand-overs, so
    // that a box shown for one of our own links does not keep a later start waiting.
    // Services: the desktop's; Profile: the one the site windows are made on. Both are for the
    // program's whole run and must outlive the window.
    TfMainForm(TDesktopServices &Services, TWebProfile &Profile, const QString &ProgramFolder,
               const QList<QByteArray> &Parameters, QWidget *Parent = nullptr,
               std::function<void(TfMainForm &)> BeforeParameters = {});
    ~TfMainForm() override; // FormDestroy

    // ---- State --------------------------------------------------------------------------------
    QString ProgramFolder; // always with a trailing '/'
    TKestrunCollection Sites;
    QStringList IconNames;
    QList<TOpenBrowser> OpenBrowsers;
    bool RunMinimized = false;
    bool RunAtStartup = false;
    double LastUpdateCheck = 0; // days since 1899-12-30, local time; 0: never
    TUpdateSource UpdateSource;
    // What the monitor compares for a site, and when it last saw it change.
    TSiteWatch WatchOf(const TKestrunSite &Site) const;
    void SetWatch(const TKestrunSite &Site, const TSiteWatch &Watch);
    // "What changed": the site's last changes in a window of their own.
    void ShowChanges(TKestrunSite *Site);

    // ---- Controls -----------------------------------------------------------------------------
    QToolBar *tlbMain = nullptr;
    QToolButton *tbRun = nullptr;
    QToolButton *tbShortCut = nullptr;
    QToolButton *tbAdd = nullptr;
    QToolButton *tbEdit = nullptr;
    QToolButton *tbRemove = nullptr;
    QToolButton *tbMoveUp = nullptr;
    QToolButton *tbMoveDown = nullptr;
    QTreeWidget *lvSites = nullptr;
    QStatusBar *sbStatusBar = nullptr;
    QLabel *sbStatusPanel0 = nullptr; // the open-browser count
    QLabel *sbStatusPanel1 = nullptr;
    QSystemTrayIcon *TrayIcon = nullptr;

    // Main menu.
    QMenu *miKestrune = nullptr;
    QAction *miOptions = nullptr;
    QAction *N1 = nullptr;
    QAction *miQuit = nullptr;
    QMenu *miSite = nullptr;
    QAction *miAddNewSite = nullptr;
    QAction *miModifySite = nullptr;
    QAction *N2 = nullptr;
    QAction *miRemoveSite = nullptr;
    QAction *N3 = nullptr;
    QAction *miOpen = nullptr;
    QAction *miOpenDefault = nullptr;
    QAction *miWhatChanged = nullptr; // the selected site's last changes
    QAction *miSitePopupChanges = nullptr;
    QAction *N11 = nullptr;
    QAction *miExportSites = nullptr; // the site list to a JSON file
    QAction *miImportSites = nullptr; // ... and back
    QMenu *miHelp = nullptr;
    QAction *miAbout = nullptr;
    QAction *N10 = nullptr;
    QAction *miKestrunewebsite = nullptr;

    // Drop-down of "Run".
    QMenu *pmRun = nullptr;
    QAction *Run1 = nullptr;
    QAction *miRunDefaultBrowser = nullptr;

    // Menu of "Shortcut". Every shortcut entry carries its place (1-4) in data().
    QMenu *pmShortcut = nullptr;
    QAction *miShortcut_StartMenu = nullptr;
    QAction *miShortcut_Desktop = nullptr;
    QAction *miShortcut_QuickLaunch = nullptr;
    QAction *N5 = nullptr;
    QAction *miShortcut_WindowsStart = nullptr;

    // Context menu of the list.
    QMenu *pmSite = nullptr;
    QAction *miSitePopupRun = nullptr;
    QAction *N7 = nullptr;
    QMenu *Shortcut1 = nullptr;
    QAction *Startmenu1 = nullptr;
    QAction *Desktop1 = nullptr;
    QAction *Quicklaunch1 = nullptr;
    QAction *N9 = nullptr;
    QAction *Windowsstartup1 = nullptr;
    QAction *N8 = nullptr;
    QAction *miClosewindow = nullptr;
    QAction *N6 = nullptr;
    QAction *miSiteProperties = nullptr;

    // Menu of the tray icon: site entries between the two delimiters, open windows after the second.
    QMenu *pmTray = nullptr;
    QAction *miShowMainApp = nullptr;
    QAction *miTraySitesDelimiter = nullptr;
    QAction *miTrayOpenedSitesDelimiter = nullptr;
    QAction *N4 = nullptr;
    QAction *miTrayQuit = nullptr;

    // ---- Start, hand-over, tray, end (Main.cpp) -------------------------------------------------
    // When a link's site window is made: at once, or (for a link handed over by a later start)
    // from the event loop, right after the later start has had its answer. Every box a link
    // brings comes before that answer either way.
    enum class TWindowFor
    {
        Now,
        AfterAnswer
    };
    void OpenLink(const QByteArray &Parameter, TWindowFor When = TWindowFor::Now);
    TKestrunSite *FindSiteByTitle(const QByteArray &Title) const;
    void HideToTray();
    void ShowFromTray();
    bool AnyBrowserOpen() const;
    void miShowMainAppClick() { ShowFromTray(); }
    void miQuitClick();     // "Quit Kestrune": the quit road with its question
    void miTrayQuitClick(); // "Quit" of the tray menu: the same road
    // SIGTERM, SIGINT and the session's end: saves and closes without a question.
    void QuitWithoutQuestions();
    // The placement of every open site window into its site record (saved with the sites).
    void StoreOpenWindowPlacements();
    // Writes sites.dat now; shows a failure unless the program is ending without questions.
    bool SaveSitesNow();
    // The desktop session asks its programs to save (a logout the user may still cancel): saves
    // without a box and goes on running.
    void SaveForSession();
    // Set once the main window has closed for good (the program is to end).
    bool Closed() const { return FClosed; }
    bool TrayAvailable() const;
    // Whether pmTray goes to a StatusNotifierItem host over D-Bus (its captions are made for it).
    bool TrayMenuOverDBus() const;
    TDesktopServices &Services() const { return FServices; }
    TWebProfile &WebProfile() const { return FWebProfile; }

    // ---- Site list (MainSites.cpp) ------------------------------------------------------------
    void FillSiteList();
    void lvSitesSelectItem(QTreeWidgetItem *Item, bool Selected);
    void lvSitesDblClick();
    void tbAddClick();
    void tbEditClick();
    void tbRemoveClick();
    void AddSite(const QByteArray &Title, const QByteArray &URL);
    void EditSite(QTreeWidgetItem *Row);
    void RemoveSite(QTreeWidgetItem *Row);
    TKestrunSite *RowSite(const QTreeWidgetItem *Row) const;
    QTreeWidgetItem *SelectedRow() const;
    TKestrunSite *SelectedSite() const;
    // Position of the site's icon name in IconNames, ignoring letter case; -1 when absent.
    int SiteImageIndex(const TKestrunSite &Site) const;
    // The site dialog's handlers.
    void GetIconFolder(QString &Folder) const;
    void IconAdded(const QString &IconName);
    // "Open browsers: N" or "No open browsers" in the first status panel.
    void UpdateOpenBrowserCount();
    // Takes record Index out of OpenBrowsers: its tray entry goes and its window is destroyed
    // without its close handling.
    void DropOpenBrowser(int Index);

    // ---- Running sites, the tray's site entries (MainRun.cpp) --------------------------------
    void tbRunClick();
    void miRunDefaultBrowserClick();
    void miClosewindowClick();
    void pmSitePopup();
    void TraySiteClick(QAction *Item);
    void RunSite(TKestrunSite *Site, bool Minimized);
    void OpenInSystemBrowser(const QByteArray &URL, bool Minimized);
    // Site windows need the web engine, which does not start as root with its sandbox on.
    bool SiteWindowsCanRun() const;
    // The site opens in a window of its own here (not in the system's browser, not refused).
    bool OpensInOwnWindow(const TKestrunSite &Site) const;
    void ReportSiteWindowsBlocked(const TKestrunSite *Site);
    // The five events of a browser window, and the open-window entries of the tray menu.
    void BrowserOpened(TKestrunSite *Site, TfBrowserWin *Window);
    void BrowserClosed(TKestrunSite *Site, TfBrowserWin *Window);
    void BrowserTitleChanged(TKestrunSite *Site, TfBrowserWin *Window, const QString &Title);
    void SiteContentChanged(TKestrunSite *Site, TfBrowserWin *Window);
    void SiteChangeNoted(TKestrunSite *Site, TfBrowserWin *Window);
    // The user zoomed a site's page: the zoom is kept for the site's next windows and runs.
    void SiteZoomChanged(TKestrunSite *Site, TfBrowserWin *Window);
    // Moves the selected site one place up (-1) or down (+1): list, tray menu and file.
    void MoveSelectedSite(int Step);
    // After a drag in the list: the collection and the tray menu take the list's order, saved.
    void FollowListOrder();
    // The tray menu's site entries in the collection's order.
    void OrderTraySiteEntries();
    void LoadSiteWatchesAtStart();
    bool SaveSiteWatchesNow();
    // A site's tray entry: its title, and when it last changed in this run.
    QString TraySiteCaption(const TKestrunSite &Site) const;
    void TrayOpenWindowClick(QAction *Item);
    // A page's own notification from a window whose tray icon is not in view.
    void SiteWebNotification(TKestrunSite *Site, TfBrowserWin *Window, const QString &Title,
                             const QString &Text, const std::function<void(bool Shown)> &Shown);

    // ---- Shortcuts (MainShortcuts.cpp) --------------------------------------------------------
    void miShortcut_WindowsStartClick(QAction *Item);
    bool HasShortcuts(const TKestrunSite &Site);
    void RemoveShortcuts(const TKestrunSite &Site);
    void CreateShortcut(const TKestrunSite &Site, int Place);
    // After an edit: the shortcuts of the site as it was titled OldTitle are written anew for the
    // site as it is now, at the same places; files under the old name go, a dock favourite follows.
    void RewriteShortcuts(const QByteArray &OldTitle, const TKestrunSite &Site);
    // Writes the site's shortcut file at a file place; false when it cannot be written there.
    bool WriteShortcut(const TKestrunSite &Site, int Place, bool OpenMinimized);
    // Quick launch: the Start-menu entry, pinned to the dock.
    bool PinToDock(const TKestrunSite &Site);
    // The Quick launch commands are offered only where the desktop has a dock with favourites.
    void SetUpQuickLaunchCommands();
    void PrepareShortcutBoxes(TfSiteDlg &Dialog);
    // The folder of a place (TShortcutPlace), without a trailing '/'; empty for another place or
    // when it cannot be determined.
    QString ShortcutFolder(int Place) const;
    // The site's shortcut file at a place (its desktop id in the place's folder); empty when the
    // title cannot name a file.
    QString ShortcutFile(int Place, const QByteArray &Title) const;
    // The program that shortcuts and the autostart entry start: this program, unless a test set
    // ProgramFile.
    QString ExecutableFile() const;
    QString ProgramFile;

    // ---- Settings, update check, small dialogs (MainSettings.cpp) ----------------------------
    void ReadSettings();
    void ApplySettingsDefaults();
    bool IsRunAtStartup();
    void SetRunAtStartup(bool On);
    void WriteRunMinimized();
    void WriteLastUpdateCheck();
    void ScheduleUpdateCheck(); // at start: the delayed update check when one is due
    void ShowOptions();
    void StartUpdateCheck();
    void UpdateDownloadDone(TDownloadThread *Sender);
    void HandleUpdateReply(const QByteArray &Reply);
    void miOptionsClick();
    void miAboutClick();
    void miKestrunewebsiteClick();

    // ---- The site list as a JSON file (MainExport.cpp) ---------------------------------------
    void miExportSitesClick(); // asks for the file
    void miImportSitesClick();
    // Write the list to Path, or append the sites of Path that the list lacks (saved at once). A
    // file that is damaged in any part changes nothing. Each says how it went in a box.
    bool ExportSites(const QString &Path);
    bool ImportSites(const QString &Path);
    // The bytes of the site's icon file when its icon is a file of the icon folder; empty otherwise.
    QByteArray SiteIconFileData(const TKestrunSite &Site) const;

    // ---- Site icons ---------------------------------------------------------------------------
    void ApplyMenuImages();           // at start: the tool bar and menu images
    void LoadSiteIcons();             // at start: the icon folder into ilSites and IconNames
    QIcon SiteImage(int Index) const; // image Index of ilSites; a null icon for -1
    // A site window's page declared its icon at Url: a site without an icon file gets it, saved
    // once into the icon folder under the site's title (never over a file that is there).
    void SitePageIconFound(TKestrunSite *Site, TfBrowserWin *Window, const QUrl &Url);
    // The fetched bytes of that icon: checked, saved and shown in the list, the tray and the window.
    void SitePageIconFetched(TKestrunSite *Site, const QByteArray &Fetched);

signals:
    // The main window closed for good: the program ends.
    void FormClosed();
    // A balloon was shown on TrayIcon.
    void BalloonShown(const QString &Title, const QString &Text);

protected:
    // The session's end (the session manager's last word reaches the application as a quit
    // event): saved and ended without questions.
    bool eventFilter(QObject *Watched, QEvent *Event) override;
    void closeEvent(QCloseEvent *Event) override;
    void showEvent(QShowEvent *Event) override;

private:
    void CreateControls();
    void CreateMenus();
    void FormCreate(const QList<QByteArray> &Parameters,
                    const std::function<void(TfMainForm &)> &BeforeParameters);
    void LoadSitesAtStart();
    void RaiseStartWindows();
    QAction *CreateTraySiteEntry(TKestrunSite &Site, int Image);
    void RefreshRow(QTreeWidgetItem *Row, TKestrunSite &Site);
    bool KeepUnusableFileAside();
    // Shows a box unless the program is ending without questions.
    void Report(TMsgKind Kind, const QString &Text);
    // A balloon about Window's site: on TrayIcon, or as a desktop notification titled
    // NotificationTitle. A click on it brings Window forward, or for a change of ChangedSite shows
    // what changed. Shown, when given, learns whether the balloon showed.
    void ShowBalloon(TfBrowserWin *Window, const QString &Title, const QString &Text,
                     const QString &NotificationTitle, TKestrunSite *ChangedSite = nullptr,
                     std::function<void(bool Shown)> Shown = {});
    // What a click on a balloon does: shows the changes of ChangedSite when it is still there and
    // has any, else brings Window forward.
    void BalloonClicked(TfBrowserWin *Window, TKestrunSite *ChangedSite);

    TDesktopServices &FServices;
    TWebProfile &FWebProfile;
    bool FRootReported = false; // the box about running as root was shown
    bool FQuitting = false;     // a quit command is under way
    bool FQuiet = false;        // ending without questions
    bool FClosed = false;
    bool FCentred = false;
    // Site windows opened by the program's own link parameters, to be raised over this window once
    // it is on screen.
    QList<QPointer<QWidget>> FStartWindows;
    bool FUnusableFile = false; // sites.dat could not be read: keep it before writing over it
    bool FSaveBlocked = false;  // ... and it could not be kept aside
    // The window (a TfBrowserWin) of the site that TrayIcon's last balloon told about.
    QPointer<QWidget> FBalloonWindow;
    TKestrunSite *FBalloonSite = nullptr; // the site of the last change balloon, if it was one
    // The monitor's settings of the sites that have any beyond the defaults (sites-watch.json).
    QHash<const TKestrunSite *, TSiteWatch> FWatches;
    // Sites whose page icon was fetched in this run: once is enough, whatever came of it.
    QSet<QByteArray> FPageIconsFetched;
};
