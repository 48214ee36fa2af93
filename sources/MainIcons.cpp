#include "DataModuleUnit.h"
#include "Main.h"

#include <QAction>
#include <QMenu>
#include <QToolButton>

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
