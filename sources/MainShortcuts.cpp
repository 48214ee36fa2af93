#include "Main.h"

#include "platform/DesktopServices.h"
#include "platform/ShellLinks.h"

#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

// The four shortcut places in the order the existence check and the removal walk them.
static constexpr int ShortcutPlacesInCheckOrder[] = {1, 2, 4, 3};

QString TfMainForm::ExecutableFile() const
{
    return ProgramFile.isEmpty() ? QCoreApplication::applicationFilePath() : ProgramFile;
}

QString TfMainForm::ShortcutFolder(int Place) const
{
    return ShortcutPlaceFolder(FServices, Place);
}

QString ShortcutPlaceFolder(TDesktopServices &Services, int Place)
{
    switch (Place) {
    case 1:
        return Services.SpecialFolderPath(TSpecialFolder::StartMenu);
    case 2:
        return Services.SpecialFolderPath(TSpecialFolder::Desktop);
    case 3: {
        const QString AppData = Services.SpecialFolderPath(TSpecialFolder::AppData);
        return AppData.isEmpty() ? QString()
                                 : AppData + QStringLiteral("/Microsoft/Internet Explorer/Quick Launch");
    }
    case 4:
        return Services.SpecialFolderPath(TSpecialFolder::Startup);
    default:
        return QString();
    }
}

QString TfMainForm::ShortcutFile(int Place, const QByteArray &Title) const
{
    const QString Folder = ShortcutFolder(Place);
    // A title that cannot name a file in the folder gets no shortcut there: a '/' would reach into
    // another folder, and the program's own entries (its autostart entry, and its menu entry, which
    // a file of the same name in the user's folder would hide) are not a site's to write or delete.
    if (Folder.isEmpty() || Title.isEmpty() || Title.contains('/') || Title.contains('\0'))
        return QString();
    const QString Name = QFile::decodeName(Title) + ShellLinkExtension;
    if ((Place == 1 || Place == 4) && Name == ProgramAutostartName)
        return QString();
    return Folder + QLatin1Char('/') + Name;
}

void TfMainForm::CreateShortcut(const TKestrunSite &Site, int Place)
{
    const QString Folder = ShortcutFolder(Place);
    if (Folder.isEmpty() || !QFileInfo(Folder).isDir()) {
        ShowMessage(this, TMsgKind::Error, QStringLiteral("Can not create shortcut!"));
        return;
    }
    const QString FileName = ShortcutFile(Place, Site.Title());
    if (FileName.isEmpty())
        return;
    TShellLink Link(ExecutableFile());
    Link.SetName(Site.Title());
    Link.SetDescription("Click here to open " + Site.Title());
    Link.SetArguments({EncodeLinkParameter(Site, Place == 4)});
    Link.SetWorkingDirectory(QString());
    Link.SetShowCommand(5);
    Link.SetIconIndex(0);
    Link.SetIconPath(ProgramFolder + QStringLiteral("Icons/") + QFile::decodeName(Site.IconName()) +
                     QStringLiteral(".ico"));
    Link.Save(FileName, true);
}

bool TfMainForm::HasShortcuts(const TKestrunSite &Site)
{
    for (const int Place : ShortcutPlacesInCheckOrder) {
        const QString FileName = ShortcutFile(Place, Site.Title());
        if (!FileName.isEmpty() && QFileInfo::exists(FileName))
            return true;
    }
    return false;
}

void TfMainForm::RemoveShortcuts(const TKestrunSite &Site)
{
    for (const int Place : ShortcutPlacesInCheckOrder) {
        const QString FileName = ShortcutFile(Place, Site.Title());
        if (!FileName.isEmpty() && QFileInfo::exists(FileName))
            QFile::remove(FileName);
    }
}

void TfMainForm::miShortcut_WindowsStartClick(QAction *Item)
{
    const TKestrunSite *Site = SelectedSite();
    if (!Site || !Item)
        return;
    CreateShortcut(*Site, Item->data().toInt());
}
