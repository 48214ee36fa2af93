#include "Main.h"
#include "BrowserWin.h"
#include "platform/DesktopNotification.h"
#include "platform/DesktopServices.h"
#include "platform/WaylandWindows.h"
#include "platform/WebProfile.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QWindow>

#include <algorithm>
#include <cstdio>

namespace {

QToolButton *AddToolButton(QToolBar *Bar, const QString &Name, const QString &Caption, const QString &Hint)
{
    auto *Button = new QToolButton(Bar);
    Button->setObjectName(Name);
    Button->setText(Caption);
    Button->setToolTip(Hint);
    Button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    Button->setAutoRaise(true);
    Bar->addWidget(Button);
    return Button;
}

QAction *AddEntry(QMenu *Menu, const QString &Name, const QString &Caption)
{
    QAction *Entry = Menu->addAction(Caption);
    Entry->setObjectName(Name);
    return Entry;
}

QAction *AddSeparator(QMenu *Menu, const QString &Name)
{
    QAction *Separator = Menu->addSeparator();
    Separator->setObjectName(Name);
    return Separator;
}

} // namespace

TfMainForm::TfMainForm(TDesktopServices &Services, TWebProfile &Profile, const QString &Folder,
                       const QList<QByteArray> &Parameters, QWidget *Parent,
                       std::function<void(TfMainForm &)> BeforeParameters)
    : QMainWindow(Parent), FServices(Services), FWebProfile(Profile)
{
    ProgramFolder = Folder;
    if (!ProgramFolder.endsWith(QLatin1Char('/')))
        ProgramFolder += QLatin1Char('/');
    CreateControls();
    CreateMenus();
    // 460 x 390 below the menu bar: tool bar, list and status bar.
    resize(460, 390 + menuBar()->sizeHint().height());
    if (qApp)
        qApp->installEventFilter(this);
    FormCreate(Parameters, BeforeParameters);
}

void TfMainForm::CreateControls()
{
    setObjectName(QStringLiteral("fMainForm"));
    setWindowTitle(QStringLiteral("Kestrune"));
    // Window menu and minimise, no maximise; the close box hides to the tray.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    tlbMain = new QToolBar(this);
    // QMainWindow's own menu of tool bars would show an empty menu here: the one bar cannot be hidden.
    tlbMain->setContextMenuPolicy(Qt::PreventContextMenu);
    tlbMain->setObjectName(QStringLiteral("tlbMain"));
    tlbMain->setMovable(false);
    tlbMain->setFloatable(false);
    tlbMain->setIconSize(QSize(16, 16));
    tlbMain->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    tlbMain->toggleViewAction()->setEnabled(false);
    addToolBar(Qt::TopToolBarArea, tlbMain);

    tbRun = AddToolButton(tlbMain, QStringLiteral("tbRun"), QStringLiteral("Run"),
                          QStringLiteral("Open selected site in browser"));
    tlbMain->addSeparator();
    tbShortCut = AddToolButton(tlbMain, QStringLiteral("tbShortCut"), QStringLiteral("Shortcut"),
                               QStringLiteral("Create shortcut for selected site"));
    tlbMain->addSeparator();
    tbAdd = AddToolButton(tlbMain, QStringLiteral("tbAdd"), QStringLiteral("Add"),
                          QStringLiteral("Add new site"));
    tbEdit = AddToolButton(tlbMain, QStringLiteral("tbEdit"), QStringLiteral("Edit"),
                           QStringLiteral("Modify selected site"));
    tbRemove = AddToolButton(tlbMain, QStringLiteral("tbRemove"), QStringLiteral("Remove"),
                             QStringLiteral("Remove selected site"));
    tlbMain->addSeparator();
    tbMoveUp = AddToolButton(tlbMain, QStringLiteral("tbMoveUp"), QStringLiteral("Up"),
                             QStringLiteral("Move selected site up"));
    tbMoveDown = AddToolButton(tlbMain, QStringLiteral("tbMoveDown"), QStringLiteral("Down"),
                               QStringLiteral("Move selected site down"));
    // Pictures only: with their captions the tool bar would not fit the window.
    for (QToolButton *Button : {tbMoveUp, tbMoveDown})
        Button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    tbMoveUp->setEnabled(false);
    tbMoveDown->setEnabled(false);

    lvSites = new QTreeWidget(this);
    lvSites->setObjectName(QStringLiteral("lvSites"));
    lvSites->setColumnCount(3);
    lvSites->setHeaderLabels({QStringLiteral("Site"), QStringLiteral("URL"), QStringLiteral("Watched")});
    lvSites->setColumnWidth(0, 180);
    lvSites->setColumnWidth(1, 170);
    lvSites->setColumnWidth(2, 90);
    lvSites->setRootIsDecorated(false);
    lvSites->setItemsExpandable(false);
    lvSites->setUniformRowHeights(true);
    lvSites->setSelectionMode(QAbstractItemView::SingleSelection);
    lvSites->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvSites->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvSites->setIconSize(QSize(16, 16));
    lvSites->setSortingEnabled(false);
    lvSites->header()->setSectionsClickable(false);
    lvSites->header()->setSectionsMovable(false);
    // Rows can be dragged into another order (never into one another: rows take no drops).
    lvSites->setDragDropMode(QAbstractItemView::InternalMove);
    lvSites->setDefaultDropAction(Qt::MoveAction);
    lvSites->setContextMenuPolicy(Qt::CustomContextMenu);
    setCentralWidget(lvSites);

    sbStatusBar = new QStatusBar(this);
    sbStatusBar->setObjectName(QStringLiteral("sbStatusBar"));
    sbStatusPanel0 = new QLabel(sbStatusBar);
    sbStatusPanel0->setMinimumWidth(150);
    sbStatusPanel1 = new QLabel(sbStatusBar);
    sbStatusPanel1->setMinimumWidth(50);
    sbStatusBar->addWidget(sbStatusPanel0);
    sbStatusBar->addWidget(sbStatusPanel1);
    setStatusBar(sbStatusBar);

    TrayIcon = new QSystemTrayIcon(this);
    TrayIcon->setToolTip(QStringLiteral("Kestrune"));
}

void TfMainForm::CreateMenus()
{
    QMenuBar *Bar = menuBar();

    miKestrune = Bar->addMenu(QStringLiteral("Kestrune"));
    miKestrune->setObjectName(QStringLiteral("miKestrune"));
    miOptions = AddEntry(miKestrune, QStringLiteral("miOptions"), QStringLiteral("Options..."));
    N1 = AddSeparator(miKestrune, QStringLiteral("N1"));
    miQuit = AddEntry(miKestrune, QStringLiteral("miQuit"), QStringLiteral("Quit Kestrune"));

    miSite = Bar->addMenu(QStringLiteral("Site"));
    miSite->setObjectName(QStringLiteral("miSite"));
    miAddNewSite = AddEntry(miSite, QStringLiteral("miAddNewSite"), QStringLiteral("Add new site..."));
    miModifySite = AddEntry(miSite, QStringLiteral("miModifySite"), QStringLiteral("Modify..."));
    N2 = AddSeparator(miSite, QStringLiteral("N2"));
    miRemoveSite = AddEntry(miSite, QStringLiteral("miRemoveSite"), QStringLiteral("Remove"));
    N3 = AddSeparator(miSite, QStringLiteral("N3"));
    miOpen = AddEntry(miSite, QStringLiteral("miOpen"), QStringLiteral("Open"));
    miOpenDefault =
        AddEntry(miSite, QStringLiteral("miOpenDefault"), QStringLiteral("Open in default web browser"));
    miWhatChanged = AddEntry(miSite, QStringLiteral("miWhatChanged"), QStringLiteral("What changed..."));
    N11 = AddSeparator(miSite, QStringLiteral("N11"));
    miExportSites = AddEntry(miSite, QStringLiteral("miExportSites"), QStringLiteral("Export sites..."));
    miImportSites = AddEntry(miSite, QStringLiteral("miImportSites"), QStringLiteral("Import sites..."));

    miHelp = Bar->addMenu(QStringLiteral("Help"));
    miHelp->setObjectName(QStringLiteral("miHelp"));
    miAbout = AddEntry(miHelp, QStringLiteral("miAbout"), QStringLiteral("About Kestrune..."));
    N10 = AddSeparator(miHelp, QStringLiteral("N10"));
    miKestrunewebsite =
        AddEntry(miHelp, QStringLiteral("miKestrunewebsite"), QStringLiteral("Kestrune web site..."));

    pmRun = new QMenu(this);
    pmRun->setObjectName(QStringLiteral("pmRun"));
    Run1 = AddEntry(pmRun, QStringLiteral("Run1"), QStringLiteral("Run"));
    pmRun->setDefaultAction(Run1);
    miRunDefaultBrowser =
        AddEntry(pmRun, QStringLiteral("miRunDefaultBrowser"), QStringLiteral("Run in default web browser"));

    pmShortcut = new QMenu(this);
    pmShortcut->setObjectName(QStringLiteral("pmShortcut"));
    miShortcut_StartMenu =
        AddEntry(pmShortcut, QStringLiteral("miShortcut_StartMenu"), QStringLiteral("Start menu"));
    miShortcut_Desktop =
        AddEntry(pmShortcut, QStringLiteral("miShortcut_Desktop"), QStringLiteral("Desktop"));
    miShortcut_QuickLaunch =
        AddEntry(pmShortcut, QStringLiteral("miShortcut_QuickLaunch"), QStringLiteral("Quick launch"));
    N5 = AddSeparator(pmShortcut, QStringLiteral("N5"));
    miShortcut_WindowsStart =
        AddEntry(pmShortcut, QStringLiteral("miShortcut_WindowsStart"), QStringLiteral("Windows startup"));

    pmSite = new QMenu(this);
    pmSite->setObjectName(QStringLiteral("pmSite"));
    miSitePopupRun = AddEntry(pmSite, QStringLiteral("miSitePopupRun"), QStringLiteral("Run"));
    pmSite->setDefaultAction(miSitePopupRun);
    N7 = AddSeparator(pmSite, QStringLiteral("N7"));
    Shortcut1 = pmSite->addMenu(QStringLiteral("Shortcut"));
    Shortcut1->setObjectName(QStringLiteral("Shortcut1"));
    Startmenu1 = AddEntry(Shortcut1, QStringLiteral("Startmenu1"), QStringLiteral("Start menu"));
    Desktop1 = AddEntry(Shortcut1, QStringLiteral("Desktop1"), QStringLiteral("Desktop"));
    Quicklaunch1 = AddEntry(Shortcut1, QStringLiteral("Quicklaunch1"), QStringLiteral("Quick launch"));
    N9 = AddSeparator(Shortcut1, QStringLiteral("N9"));
    Windowsstartup1 =
        AddEntry(Shortcut1, QStringLiteral("Windowsstartup1"), QStringLiteral("Windows startup"));
    N8 = AddSeparator(pmSite, QStringLiteral("N8"));
    miClosewindow = AddEntry(pmSite, QStringLiteral("miClosewindow"), QStringLiteral("Close window"));
    N6 = AddSeparator(pmSite, QStringLiteral("N6"));
    miSitePopupChanges =
        AddEntry(pmSite, QStringLiteral("miSitePopupChanges"), QStringLiteral("What changed..."));
    miSiteProperties = AddEntry(pmSite, QStringLiteral("miSiteProperties"), QStringLiteral("Properties..."));

    pmTray = new QMenu(this);
    pmTray->setObjectName(QStringLiteral("pmTray"));
    miShowMainApp = AddEntry(pmTray, QStringLiteral("miShowMainApp"), QStringLiteral("Show Kestrune"));
    pmTray->setDefaultAction(miShowMainApp);
    miTraySitesDelimiter = AddSeparator(pmTray, QStringLiteral("miTraySitesDelimiter"));
    miTrayOpenedSitesDelimiter = AddSeparator(pmTray, QStringLiteral("miTrayOpenedSitesDelimiter"));
    N4 = AddSeparator(pmTray, QStringLiteral("N4"));
    miTrayQuit = AddEntry(pmTray, QStringLiteral("miTrayQuit"), QStringLiteral("Quit"));
    TrayIcon->setContextMenu(pmTray);

    // The place of each shortcut entry.
    const std::pair<QAction *, int> Places[] = {
        {miShortcut_StartMenu, 1},
        {miShortcut_Desktop, 2},
        {miShortcut_QuickLaunch, 3},
        {miShortcut_WindowsStart, 4},
        {Startmenu1, 1},
        {Desktop1, 2},
        {Quicklaunch1, 3},
        {Windowsstartup1, 4},
    };
    for (const auto &[Entry, Place] : Places) {
        Entry->setData(Place);
        connect(Entry, &QAction::triggered, this,
                [this, Item = Entry] { miShortcut_WindowsStartClick(Item); });
    }
    SetUpQuickLaunchCommands();

    tbRun->setPopupMode(QToolButton::MenuButtonPopup);
    tbRun->setMenu(pmRun);
    tbShortCut->setPopupMode(QToolButton::InstantPopup);
    tbShortCut->setMenu(pmShortcut);

    connect(tbRun, &QToolButton::clicked, this, &TfMainForm::tbRunClick);
    connect(tbAdd, &QToolButton::clicked, this, &TfMainForm::tbAddClick);
    connect(tbEdit, &QToolButton::clicked, this, &TfMainForm::tbEditClick);
    connect(tbRemove, &QToolButton::clicked, this, &TfMainForm::tbRemoveClick);
    connect(tbMoveUp, &QToolButton::clicked, this, [this] { MoveSelectedSite(-1); });
    connect(tbMoveDown, &QToolButton::clicked, this, [this] { MoveSelectedSite(+1); });
    // A drag takes the row out and puts it in again: the collection follows once it is done.
    connect(lvSites->model(), &QAbstractItemModel::rowsInserted, this,
            [this] { QTimer::singleShot(0, this, &TfMainForm::FollowListOrder); });

    connect(miOptions, &QAction::triggered, this, &TfMainForm::miOptionsClick);
    connect(miQuit, &QAction::triggered, this, &TfMainForm::miQuitClick);
    connect(miAddNewSite, &QAction::triggered, this, &TfMainForm::tbAddClick);
    connect(miModifySite, &QAction::triggered, this, &TfMainForm::tbEditClick);
    connect(miRemoveSite, &QAction::triggered, this, &TfMainForm::tbRemoveClick);
    connect(miOpen, &QAction::triggered, this, &TfMainForm::tbRunClick);
    connect(miOpenDefault, &QAction::triggered, this, &TfMainForm::miRunDefaultBrowserClick);
    connect(miAbout, &QAction::triggered, this, &TfMainForm::miAboutClick);
    connect(miKestrunewebsite, &QAction::triggered, this, &TfMainForm::miKestrunewebsiteClick);
    connect(Run1, &QAction::triggered, this, &TfMainForm::tbRunClick);
    connect(miRunDefaultBrowser, &QAction::triggered, this, &TfMainForm::miRunDefaultBrowserClick);
    connect(miSitePopupRun, &QAction::triggered, this, &TfMainForm::tbRunClick);
    connect(miClosewindow, &QAction::triggered, this, &TfMainForm::miClosewindowClick);
    connect(miSiteProperties, &QAction::triggered, this, &TfMainForm::tbEditClick);
    for (QAction *Entry : {miWhatChanged, miSitePopupChanges})
        connect(Entry, &QAction::triggered, this, [this] { ShowChanges(SelectedSite()); });
    connect(miExportSites, &QAction::triggered, this, &TfMainForm::miExportSitesClick);
    connect(miImportSites, &QAction::triggered, this, &TfMainForm::miImportSitesClick);
    connect(miShowMainApp, &QAction::triggered, this, &TfMainForm::miShowMainAppClick);
    connect(miTrayQuit, &QAction::triggered, this, &TfMainForm::miTrayQuitClick);

    connect(lvSites, &QTreeWidget::itemSelectionChanged, this, [this] {
        QTreeWidgetItem *Row = SelectedRow();
        lvSitesSelectItem(Row, Row != nullptr);
    });
    connect(lvSites, &QTreeWidget::itemDoubleClicked, this, [this] { lvSitesDblClick(); });
    // The keys a list of this kind answers to on a Linux desktop; the captions stay as they are.
    const auto OnKey = [this](const QKeySequence &Key, void (TfMainForm::*Handler)()) {
        auto *Shortcut = new QShortcut(Key, lvSites);
        Shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(Shortcut, &QShortcut::activated, this, Handler);
    };
    OnKey(QKeySequence(Qt::Key_Return), &TfMainForm::lvSitesDblClick);
    OnKey(QKeySequence(Qt::Key_Enter), &TfMainForm::lvSitesDblClick);
    OnKey(QKeySequence(Qt::Key_Delete), &TfMainForm::tbRemoveClick);
    OnKey(QKeySequence(Qt::Key_Insert), &TfMainForm::tbAddClick);
    OnKey(QKeySequence(Qt::Key_F2), &TfMainForm::tbEditClick);
    OnKey(QKeySequence(Qt::ALT | Qt::Key_Return), &TfMainForm::tbEditClick);
    connect(lvSites, &QWidget::customContextMenuRequested, this, [this](const QPoint &Position) {
        // pmSite is the list's context menu only while a row is selected.
        if (lvSites->contextMenuPolicy() != Qt::CustomContextMenu || !SelectedRow())
            return;
        pmSitePopup();
        pmSite->popup(lvSites->viewport()->mapToGlobal(Position));
    });
    connect(TrayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason Reason) {
        if (Reason == QSystemTrayIcon::Trigger || Reason == QSystemTrayIcon::DoubleClick)
            miShowMainAppClick();
    });
    connect(TrayIcon, &QSystemTrayIcon::messageClicked, this, [this] {
        // Over D-Bus, Qt reports this for a click on any notification at all; balloons there are
        // notifications of our own, which report their clicks themselves.
        if (TrayMenuOverDBus())
            return;
        BalloonClicked(qobject_cast<TfBrowserWin *>(FBalloonWindow.data()), FBalloonSite);
    });
}

void TfMainForm::FormCreate(const QList<QByteArray> &Parameters,
                            const std::function<void(TfMainForm &)> &BeforeParameters)
{
    ApplyMenuImages();
    TrayIcon->setIcon(QApplication::windowIcon());
    ReadSettings();
    LoadSiteIcons();
    LoadSitesAtStart();
    // A start that opens a site window gets the engine going now: its helper processes and the
    // page's renderer start while the list is made and shown.
    if (std::any_of(Parameters.cbegin(), Parameters.cend(), [this](const QByteArray &Parameter) {
            TLinkParameter Link;
            const TKestrunSite *Site =
                DecodeLinkParameter(Parameter, Link) ? FindSiteByTitle(Link.Title) : nullptr;
            return Site && OpensInOwnWindow(*Site);
        }))
        FWebProfile.PreparePageNow();
    LoadSiteWatchesAtStart();
    FillSiteList();
    lvSitesSelectItem(nullptr, false);
    if (BeforeParameters)
        BeforeParameters(*this);
    for (const QByteArray &Parameter : Parameters)
        OpenLink(Parameter);
    RunAtStartup = IsRunAtStartup();
    ScheduleUpdateCheck();
    if (RunMinimized)
        QTimer::singleShot(1500, this, &TfMainForm::HideToTray);
}

void TfMainForm::LoadSiteWatchesAtStart()
{
    bool Damaged = false;
    const QList<TSiteWatchEntry> Entries = LoadSiteWatches(ProgramFolder, &Damaged);
    if (Damaged) {
        // The next save would write over it: keep it, and say where.
        const QString Path = ProgramFolder + SiteWatchFileName;
        if (const QString Kept = KeepFileAside(Path); !Kept.isEmpty())
            Report(TMsgKind::Information,
                   QStringLiteral(
                       "The monitor settings file \"%1\" could not be read. It has been kept as \"%2\".")
                       .arg(QDir::toNativeSeparators(Path), QDir::toNativeSeparators(Kept)));
    }
    QList<std::pair<QByteArray, QByteArray>> Keys;
    for (int i = 0; i < Sites.Count(); ++i)
        Keys.append({Sites[i]->Title(), Sites[i]->URL()});
    const QList<TSiteWatch> Watches = MatchSiteWatches(Keys, Entries);
    for (int i = 0; i < Sites.Count(); ++i) {
        if (!Watches[i].IsDefault())
            FWatches.insert(Sites[i], Watches[i]);
    }
}

bool TfMainForm::SaveSiteWatchesNow()
{
    QList<TSiteWatchEntry> Entries;
    for (int i = 0; i < Sites.Count(); ++i)
        Entries.append({Sites[i]->Title(), Sites[i]->URL(), FWatches.value(Sites[i])});
    return SaveSiteWatches(ProgramFolder, Entries);
}

TSiteWatch TfMainForm::WatchOf(const TKestrunSite &Site) const
{
    return FWatches.value(&Site);
}

void TfMainForm::SetWatch(const TKestrunSite &Site, const TSiteWatch &Watch)
{
    if (Watch.IsDefault())
        FWatches.remove(&Site);
    else
        FWatches.insert(&Site, Watch);
}

void TfMainForm::LoadSitesAtStart()
{
    const TLoadSitesResult Result = LoadSites(ProgramFolder, Sites);
    if (!Result.Error.isEmpty())
        Report(TMsgKind::Error, Result.Error);
    if (!Result.Unusable())
        return;
    // The next save would write over what could not be read: keep it aside first, and say where.
    FUnusableFile = true;
    KeepUnusableFileAside();
}

bool TfMainForm::KeepUnusableFileAside()
{
    if (!FUnusableFile)
        return true;
    const QString Original = QDir::toNativeSeparators(ProgramFolder + SitesFileName);
    if (!QFileInfo::exists(ProgramFolder + SitesFileName)) {
        // Moved away meanwhile (by the user): nothing is left to write over.
        FUnusableFile = false;
        FSaveBlocked = false;
        return true;
    }
    const QString Kept = KeepUnusableSitesFile(ProgramFolder);
    if (Kept.isEmpty()) {
        FSaveBlocked = true;
        Report(TMsgKind::Error,
               QStringLiteral("The site file \"%1\" could not be read, and it could not be kept "
                              "under another name. Kestrune will not write over it.")
                   .arg(Original));
        return false;
    }
    FUnusableFile = false;
    FSaveBlocked = false;
    Report(TMsgKind::Information,
           QStringLiteral("The site file \"%1\" could not be read completely. It has been kept as \"%2\".")
               .arg(Original, QDir::toNativeSeparators(Kept)));
    return true;
}

bool TfMainForm::SaveSitesNow()
{
    if (FSaveBlocked && !KeepUnusableFileAside())
        return false;
    QString Error;
    if (SaveSites(ProgramFolder, Sites, &Error)) {
        // Beside it, in step with it: the monitor's settings of the same sites.
        SaveSiteWatchesNow();
        return true;
    }
    Report(TMsgKind::Error, Error);
    return false;
}

void TfMainForm::SaveForSession()
{
    // A box now would hold up the session manager; a failure goes to the session's log.
    const bool Quiet = std::exchange(FQuiet, true);
    SaveSitesNow();
    FQuiet = Quiet;
}

bool TfMainForm::eventFilter(QObject *Watched, QEvent *Event)
{
    if (Event->type() == QEvent::Expose && Watched == windowHandle() && windowHandle()->isExposed()) {
        windowHandle()->removeEventFilter(this);
        QTimer::singleShot(0, this, &TfMainForm::RaiseStartWindows);
    }
    if (Watched == qApp && Event->type() == QEvent::Quit) {
        // Otherwise the close box's hiding would refuse it, or the program would end unsaved.
        QuitWithoutQuestions();
        return true;
    }
    return QMainWindow::eventFilter(Watched, Event);
}

void TfMainForm::Report(TMsgKind Kind, const QString &Text)
{
    if (FQuiet) {
        // Nobody is there to answer a box while the system stops the program.
        std::fprintf(stderr, "kestrune: %s\n", qPrintable(Text));
        return;
    }
    ShowMessage(this, Kind, Text);
}

TfMainForm::~TfMainForm()
{
    // Windows still open keep where the user left them.
    StoreOpenWindowPlacements();
    SaveSitesNow();
    // The windows go with the main window, without their close handling.
    while (!OpenBrowsers.isEmpty())
        DropOpenBrowser(OpenBrowsers.size() - 1);
    for (int i = 0; i < Sites.Count(); ++i)
        Sites[i]->SetMenuItem(nullptr);
}

bool SameTextAscii(const QByteArray &A, const QByteArray &B)
{
    if (A.size() != B.size())
        return false;
    for (qsizetype i = 0; i < A.size(); ++i) {
        char X = A[i];
        char Y = B[i];
        if (X >= 'A' && X <= 'Z')
            X = char(X - 'A' + 'a');
        if (Y >= 'A' && Y <= 'Z')
            Y = char(Y - 'A' + 'a');
        if (X != Y)
            return false;
    }
    return true;
}

QString MenuCaption(const QByteArray &Title, bool OverDBus)
{
    return TrayMenuText(QString::fromUtf8(Title), OverDBus);
}

QByteArray MenuCaptionText(const QString &Caption, bool OverDBus)
{
    return TrayMenuShownText(Caption, OverDBus).toUtf8();
}

TKestrunSite *TfMainForm::FindSiteByTitle(const QByteArray &Title) const
{
    for (int i = 0; i < Sites.Count(); ++i) {
        if (SameTextAscii(Sites[i]->Title(), Title))
            return Sites[i];
    }
    return nullptr;
}

void TfMainForm::OpenLink(const QByteArray &Parameter, TWindowFor When)
{
    if (Parameter.isEmpty() || FClosed)
        return;
    TLinkParameter Link;
    if (!DecodeLinkParameter(Parameter, Link)) {
        ShowMessage(this, TMsgKind::Plain,
                    QStringLiteral("Can't open link! Please recreate link from Kestrune."));
        return;
    }
    if (TKestrunSite *Site = FindSiteByTitle(Link.Title)) {
        if (!LinkCarriesURL(Link.URL, Site->URL())) {
            ShowMessage(this, TMsgKind::Information,
                        QStringLiteral("The \"") + QString::fromUtf8(Link.Title) +
                            QStringLiteral(
                                "\" url has been chaged from link creation time!. Please update the link."));
        }
        // The box may have let other events run; the site may be gone, or the program ending.
        if (FClosed || Sites.IndexOf(Site) < 0)
            return;
        // Making the window is work, not an answer: the later start need not wait for it. A
        // site that cannot open in a window still says so before the answer.
        if (When == TWindowFor::AfterAnswer && OpensInOwnWindow(*Site)) {
            QMetaObject::invokeMethod(
                this,
                [this, Site, Minimized = Link.OpenMinimized] {
                    if (!FClosed && Sites.IndexOf(Site) >= 0)
                        RunSite(Site, Minimized);
                },
                Qt::QueuedConnection);
            return;
        }
        RunSite(Site, Link.OpenMinimized);
        return;
    }
    const TMsgResult Answer = ShowMessage(
        this, TMsgKind::Error,
        QStringLiteral("You are trying to open a missed link!\nTo recreate site click Yes. Select No to "
                       "open link in default browser."),
        TMsgButtons::YesNoOrClose);
    if (FClosed)
        return;
    if (Answer == TMsgResult::Yes)
        AddSite(Link.Title, Link.URL);
    else if (Answer == TMsgResult::No)
        OpenInSystemBrowser(Link.URL, Link.OpenMinimized);
}

bool TfMainForm::TrayAvailable() const
{
    return FServices.IsSystemTrayAvailable();
}

bool TfMainForm::TrayMenuOverDBus() const
{
    return TrayIconGoesOverDBus(*TrayIcon);
}

void TfMainForm::HideToTray()
{
    if (FClosed)
        return;
    if (!TrayAvailable()) {
        // Without a tray the window would be gone for good: it goes to the taskbar instead.
        showMinimized();
        return;
    }
    TrayIcon->setVisible(true);
    hide();
}

void TfMainForm::ShowFromTray()
{
    if (FClosed)
        return;
    if (isMinimized())
        showNormal();
    else
        show();
    TrayIcon->setVisible(false);
    ActivateWindow(this);
}

bool TfMainForm::AnyBrowserOpen() const
{
    for (const TOpenBrowser &Record : OpenBrowsers) {
        if (Record.Site && Record.Site->IsOpen())
            return true;
    }
    return false;
}

void TfMainForm::miQuitClick()
{
    FQuitting = true;
    close();
    FQuitting = false;
}

void TfMainForm::miTrayQuitClick()
{
    miQuitClick();
}

void TfMainForm::QuitWithoutQuestions()
{
    if (FClosed)
        return;
    FQuiet = true;
    StoreOpenWindowPlacements();
    SaveSitesNow();
    // While the quit question is open, this close is refused as a second one: the question's own
    // road ends the program once the box has gone (it sees that no question is to be asked now).
    miQuitClick();
}

void TfMainForm::RaiseStartWindows()
{
    const QList<QPointer<QWidget>> Windows = std::exchange(FStartWindows, {});
    QWidget *Last = nullptr;
    for (const QPointer<QWidget> &Window : Windows) {
        if (Window && Window->isVisible() && !Window->isMinimized()) {
            Window->raise();
            Last = Window;
        }
    }
    if (Last)
        ActivateWindow(Last);
}

void TfMainForm::StoreOpenWindowPlacements()
{
    for (const TOpenBrowser &Record : std::as_const(OpenBrowsers)) {
        if (auto *Window = qobject_cast<TfBrowserWin *>(Record.Window.data()))
            Window->StorePlacement();
    }
}

void TfMainForm::closeEvent(QCloseEvent *Event)
{
    if (FClosed) {
        Event->accept();
        return;
    }
    if (!FQuitting) {
        // The close box, Alt+F4 and the window menu's "Close" only hide the program.
        Event->ignore();
        HideToTray();
        return;
    }
    if (!FQuiet && AnyBrowserOpen() &&
        ShowMessage(this, TMsgKind::Confirm,
                    QStringLiteral("There are opened browsers. Are You sure to quit?"),
                    TMsgButtons::YesNo) != TMsgResult::Yes &&
        !FQuiet) {
        // Unless a stop signal came while the question waited: the program then ends all the same.
        Event->setAccepted(FClosed);
        return;
    }
    Event->accept();
    if (FClosed)
        return;
    FClosed = true;
    TrayIcon->setVisible(false);
    emit FormClosed();
}

void TfMainForm::showEvent(QShowEvent *Event)
{
    QMainWindow::showEvent(Event);
    if (FCentred)
        return;
    FCentred = true;
    // Site windows opened by our own link parameters came before this window: once the desktop has
    // put it on screen (in front, as most window managers put a new window), they go back on top,
    // whatever the window manager's policy.
    for (const TOpenBrowser &Record : std::as_const(OpenBrowsers)) {
        if (Record.Window && Record.Window->isVisible() && !Record.Window->isMinimized())
            FStartWindows.append(Record.Window);
    }
    if (!FStartWindows.isEmpty() && windowHandle())
        windowHandle()->installEventFilter(this);
    if (QScreen *Screen = screen()) {
        QRect Frame = frameGeometry();
        Frame.moveCenter(Screen->availableGeometry().center());
        move(Frame.topLeft());
    }
}
