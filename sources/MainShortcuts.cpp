#include "DesktopEntry.h"
#include "Main.h"
#include "SiteDlg.h"
#include "SiteIdentity.h"

#include "platform/DesktopServices.h"
#include "platform/ShellLinks.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>

namespace {

// The places that are a file of their own, in the order the existence check and the removal walk
// them. Quick launch is the dock's favourite made of the Start-menu entry.
constexpr int FilePlaces[] = {TShortcutPlace::StartMenu, TShortcutPlace::Desktop, TShortcutPlace::Startup};

// Whether the shortcut file asks for the site minimised; Fallback when it does not say.
bool ShortcutOpensMinimized(const QMap<QByteArray, QByteArray> &Keys, bool Fallback)
{
    const std::optional<QByteArrayList> Exec = SplitExecLine(Keys.value("Exec"));
    TLinkParameter Link;
    if (!Exec || Exec->size() != 2 || !DecodeLinkParameter(Exec->at(1), Link))
        return Fallback;
    return Link.OpenMinimized;
}

void ShowCannotCreate(QWidget *Parent)
{
    ShowMessage(Parent, TMsgKind::Error, QStringLiteral("Can not create shortcut!"));
}

} // namespace

QString TfMainForm::ExecutableFile() const
{
    return ProgramFile.isEmpty() ? QCoreApplication::applicationFilePath() : ProgramFile;
}

QString TfMainForm::ShortcutFolder(int Place) const
{
    return ShortcutPlaceFolder(FServices, Place);
}

QString ShortcutPlaceFolder(TDesktopServices &Services, int Place, bool Create)
{
    switch (Place) {
    case TShortcutPlace::StartMenu:
    case TShortcutPlace::QuickLaunch:
        return Services.SpecialFolderPath(TSpecialFolder::StartMenu, Create);
    case TShortcutPlace::Desktop:
        return Services.SpecialFolderPath(TSpecialFolder::Desktop, Create);
    case TShortcutPlace::Startup:
        return Services.SpecialFolderPath(TSpecialFolder::Startup, Create);
    default:
        return QString();
    }
}

QString TfMainForm::ShortcutFile(int Place, const QByteArray &Title) const
{
    const QString Folder = ShortcutFolder(Place);
    const QString Id = SiteDesktopId(Title);
    return Folder.isEmpty() || Id.isEmpty() ? QString() : Folder + QLatin1Char('/') + Id;
}

bool TfMainForm::WriteShortcut(const TKestrunSite &Site, int Place, bool OpenMinimized)
{
    const QString Id = SiteDesktopId(Site.Title());
    const QString Folder = ShortcutPlaceFolder(FServices, Place, true);
    if (Id.isEmpty() || Folder.isEmpty())
        return false;
    const QString FileName = Folder + QLatin1Char('/') + Id;
    // A launcher the user made under this name stays as it is.
    if (QFileInfo::exists(FileName) && !IsSiteShellLink(FileName))
        return false;
    TShellLink Link(ExecutableFile());
    Link.SetName(Site.Title());
    Link.SetDescription("Click here to open " + Site.Title());
    Link.SetArguments({EncodeLinkParameter(Site, OpenMinimized)});
    Link.SetWorkingDirectory(QString());
    Link.SetShowCommand(5);
    Link.SetIconIndex(0);
    // A site without an icon file of its own shows the program's: a path to nothing would show a
    // blank. Choosing an icon later is an edit, which writes the shortcuts anew.
    const QString IconFile = ProgramFolder + QStringLiteral("Icons/") + QFile::decodeName(Site.IconName()) +
                             QStringLiteral(".ico");
    Link.SetIconPath(!Site.IconName().isEmpty() && QFileInfo(IconFile).isFile()
                         ? IconFile
                         : QStringLiteral(KESTRUNE_APP_ID));
    Link.SetWindowClass(SiteWindowClass(Site.Title()));
    Link.SetSiteMark(true);
    return Link.Save(FileName, true);
}

bool TfMainForm::PinToDock(const TKestrunSite &Site)
{
    // The dock finds a favourite by its Start-menu entry.
    return FServices.HasDockFavorites() && WriteShortcut(Site, TShortcutPlace::StartMenu, false) &&
           FServices.AddDockFavorite(SiteDesktopId(Site.Title()));
}

void TfMainForm::CreateShortcut(const TKestrunSite &Site, int Place)
{
    if (Place < TShortcutPlace::StartMenu || Place > TShortcutPlace::Startup) {
        ShowCannotCreate(this);
        return;
    }
    // A title that cannot name a file gets no shortcut, and no message.
    if (SiteDesktopId(Site.Title()).isEmpty())
        return;
    const bool Written = Place == TShortcutPlace::QuickLaunch
                             ? PinToDock(Site)
                             : WriteShortcut(Site, Place, Place == TShortcutPlace::Startup);
    if (!Written)
        ShowCannotCreate(this);
}

bool TfMainForm::HasShortcuts(const TKestrunSite &Site)
{
    const QString Id = SiteDesktopId(Site.Title());
    if (Id.isEmpty())
        return false;
    for (const int Place : FilePlaces) {
        if (IsSiteShellLink(ShortcutFile(Place, Site.Title())))
            return true;
    }
    return FServices.IsDockFavorite(Id);
}

void TfMainForm::RemoveShortcuts(const TKestrunSite &Site)
{
    const QString Id = SiteDesktopId(Site.Title());
    if (Id.isEmpty())
        return;
    // Unpinned first: the dock would otherwise show an entry whose launcher is gone.
    FServices.RemoveDockFavorite(Id);
    for (const int Place : FilePlaces) {
        const QString FileName = ShortcutFile(Place, Site.Title());
        if (IsSiteShellLink(FileName))
            QFile::remove(FileName);
    }
}

void TfMainForm::RewriteShortcuts(const QByteArray &OldTitle, const TKestrunSite &Site)
{
    const QString OldId = SiteDesktopId(OldTitle);
    if (OldId.isEmpty())
        return;
    const bool Renamed = SiteDesktopId(Site.Title()) != OldId;
    bool Failed = false;
    for (const int Place : FilePlaces) {
        const QString OldFile = ShortcutFile(Place, OldTitle);
        const QMap<QByteArray, QByteArray> Keys = ReadShellLinkKeys(OldFile);
        if (Keys.value(SiteMarkKey) != "true")
            continue;
        const bool Minimized = ShortcutOpensMinimized(Keys, Place == TShortcutPlace::Startup);
        Failed = !WriteShortcut(Site, Place, Minimized) || Failed;
        // Left behind, it would open a site that is no more, or ask at every start to be updated.
        if (Renamed)
            QFile::remove(OldFile);
    }
    if (Renamed && FServices.IsDockFavorite(OldId)) {
        FServices.RemoveDockFavorite(OldId);
        Failed = !PinToDock(Site) || Failed;
    }
    if (Failed)
        ShowCannotCreate(this);
}

void TfMainForm::SetUpQuickLaunchCommands()
{
    // Asked each time a menu opens, never at start: the desktop's settings are not read before
    // they are needed.
    const auto Update = [this] {
        const bool Available = FServices.HasDockFavorites();
        miShortcut_QuickLaunch->setEnabled(Available);
        Quicklaunch1->setEnabled(Available);
    };
    connect(pmShortcut, &QMenu::aboutToShow, this, Update);
    connect(Shortcut1, &QMenu::aboutToShow, this, Update);
}

void TfMainForm::PrepareShortcutBoxes(TfSiteDlg &Dialog)
{
    const bool Available = FServices.HasDockFavorites();
    Dialog.cbQuickLaunch->setEnabled(Available);
    Dialog.imgQuick->setEnabled(Available);
}

void TfMainForm::miShortcut_WindowsStartClick(QAction *Item)
{
    const TKestrunSite *Site = SelectedSite();
    if (!Site || !Item)
        return;
    CreateShortcut(*Site, Item->data().toInt());
}
