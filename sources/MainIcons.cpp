#include "BrowserWin.h"
#include "DataModuleUnit.h"
#include "Favicon.h"
#include "Main.h"
#include "PageIcon.h"
#include "SiteExport.h"
#include "images/ImageDecoding.h"
#include "platform/Download.h"

#include <QAction>
#include <QMenu>
#include <QPointer>
#include <QToolButton>
#include <QTreeWidget>

// The main window's pictures: the tool bar and menu images from the built-in set, and the site
// icons of the icon folder.

void TfMainForm::ApplyMenuImages()
{
    const TImageList *Images = TdmMain::Current()->ImageRepository.GetThemedImageList(
        QByteArrayLiteral("Menu"), QByteArrayLiteral("MenuXP"));
    if (!Images)
        return;
    const auto Set = [Images](auto *Target, int Index) {
        if (Target)
            Target->setIcon(Images->Icon(Index));
    };
    // Positions of the menu image list: run, shortcut, add, edit, delete, up, down, quit, and the
    // four shortcut places.
    Set(tbRun, 0);
    Set(tbShortCut, 1);
    Set(tbAdd, 2);
    Set(tbEdit, 3);
    Set(tbRemove, 4);
    Set(tbMoveUp, 5);
    Set(tbMoveDown, 6);
    Set(miQuit, 7);
    Set(miAddNewSite, 2);
    Set(miModifySite, 3);
    Set(miRemoveSite, 4);
    Set(miOpen, 0);
    Set(Run1, 0);
    Set(miShortcut_StartMenu, 8);
    Set(miShortcut_Desktop, 9);
    Set(miShortcut_QuickLaunch, 10);
    Set(miShortcut_WindowsStart, 11);
    Set(miSitePopupRun, 0);
    if (Shortcut1)
        Set(Shortcut1->menuAction(), 1);
    Set(Startmenu1, 8);
    Set(Desktop1, 9);
    Set(Quicklaunch1, 10);
    Set(Windowsstartup1, 11);
    Set(miClosewindow, 7);
}

void TfMainForm::LoadSiteIcons()
{
    // The list starts empty with the main window, so that entry i of IconNames names image i.
    TdmMain *Module = TdmMain::Current();
    Module->DataModuleCreate();
    LoadIconFolder(IconFolderOf(ProgramFolder), Module->ilSites, IconNames);
}

QIcon TfMainForm::SiteImage(int Index) const
{
    return TdmMain::Current()->ilSites.Icon(Index);
}

void TfMainForm::SitePageIconFound(TKestrunSite *Site, TfBrowserWin *Window, const QUrl &Url)
{
    Q_UNUSED(Window);
    if (!Site || Sites.IndexOf(Site) < 0 || SiteImageIndex(*Site) >= 0 || FClosed)
        return;
    if (Url.scheme() != QLatin1String("http") && Url.scheme() != QLatin1String("https"))
        return;
    const QByteArray Key = Site->Title() + '\0' + Site->URL();
    if (FPageIconsFetched.contains(Key))
        return;
    FPageIconsFetched.insert(Key);
    // The site may be removed or renamed, or the list closed, before the icon arrives.
    TDownloadThread *Fetch = TDownloadThread::Create(
        Url.toString(),
        [Form = QPointer<TfMainForm>(this), Site, Key](TDownloadThread *Sender) {
            if (Form && Sender->Result() == TDownloadResult::Done && Form->Sites.IndexOf(Site) >= 0 &&
                Site->Title() + '\0' + Site->URL() == Key)
                Form->SitePageIconFetched(Site, Sender->Data());
        },
        FaviconBodyCap);
    Fetch->start();
}

void TfMainForm::SitePageIconFetched(TKestrunSite *Site, const QByteArray &Fetched)
{
    // The user may have chosen an icon meanwhile: theirs stays.
    if (SiteImageIndex(*Site) >= 0 || FClosed)
        return;
    const QByteArray Data = PageIconFileData(Fetched);
    if (Data.isEmpty())
        return;
    // Placed as an imported icon is: a free name, a file that did not exist, nothing replaced.
    TExportedSite Wanted;
    Wanted.Title = Site->Title();
    Wanted.URL = Site->URL();
    Wanted.IconName = PageIconName(Site->Title()).toUtf8();
    Wanted.IconData = Data;
    const QString IconFolder = IconFolderOf(ProgramFolder);
    const TSiteImportPlan Plan = PlanSiteImport({}, {Wanted}, IconFolder, IconNames);
    QString Error;
    if (Plan.Icons.size() != 1 || !WriteImportedIcons(Plan.Icons, IconFolder, Error))
        return;
    const QString Name = Plan.Icons.first().Name;
    const QIcon Icon = DecodeIconFile(Data);
    if (IconImageIndex(IconNames, Name) < 0) {
        TdmMain::Current()->ilSites.Add(Icon);
        IconNames.append(Name);
    }
    Site->SetIconName(Name.toUtf8());
    SaveSitesNow();
    const int Row = Sites.IndexOf(Site);
    if (QTreeWidgetItem *Current = lvSites->topLevelItem(Row); Current && RowSite(Current) == Site)
        RefreshRow(Current, *Site);
    const QIcon Shown = SiteImage(SiteImageIndex(*Site));
    if (auto *Entry = qobject_cast<QAction *>(Site->MenuItem()))
        Entry->setIcon(Shown);
    for (const TOpenBrowser &Record : std::as_const(OpenBrowsers)) {
        if (Record.Site != Site)
            continue;
        if (Record.MenuItem)
            Record.MenuItem->setIcon(Shown);
        if (auto *Window = qobject_cast<TfBrowserWin *>(Record.Window.data()))
            Window->SetSiteIcon(Icon);
    }
}
