#include "DataModuleUnit.h"
#include "Main.h"
#include "SiteExport.h"
#include "images/ImageDecoding.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTreeWidget>

// The site list to and from a JSON file of the user's choosing (Site > Export sites..., Import
// sites...).

namespace {

const QString FileFilter = QStringLiteral("Kestrune site lists (*.json);;All files (*)");

// The same test the icon folder's loader makes: an icon Kestrune can show.
bool IsSiteIcon(const QByteArray &Data)
{
    return !DecodeIconFile(Data).isNull();
}

QString StartFolder()
{
    const QString Documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QDir(Documents).exists() ? Documents : QDir::homePath();
}

} // namespace

QByteArray TfMainForm::SiteIconFileData(const TKestrunSite &Site) const
{
    const int Index = SiteImageIndex(Site);
    if (Index < 0)
        return {};
    QFile File(IconFolderOf(ProgramFolder) + IconNames[Index] + QStringLiteral(".ico"));
    if (!File.open(QIODevice::ReadOnly) || File.size() > MaxExportedIcon)
        return {};
    const QByteArray Data = File.read(MaxExportedIcon + 1);
    // Only what an import takes back: anything else travels as the name alone.
    return Data.size() <= MaxExportedIcon && IsSiteIcon(Data) ? Data : QByteArray();
}

void TfMainForm::miExportSitesClick()
{
    const QString Path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Export sites"),
        QDir(StartFolder()).filePath(QStringLiteral("kestrune-sites.json")), FileFilter);
    if (Path.isEmpty() || FClosed)
        return;
    ExportSites(Path);
}

bool TfMainForm::ExportSites(const QString &Path)
{
    QList<TExportedSite> List;
    List.reserve(Sites.Count());
    for (int i = 0; i < Sites.Count(); ++i)
        List.append(ExportedSiteOf(*Sites[i], WatchOf(*Sites[i]), SiteIconFileData(*Sites[i])));
    const QByteArray Data = SiteExportData(List);
    QSaveFile File(Path);
    bool Saved = File.open(QIODevice::WriteOnly);
    if (Saved) {
        // The user's list is the user's alone, as sites.dat is (a file system without modes refuses).
        File.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        Saved = File.write(Data) == Data.size() && File.commit();
    }
    if (!Saved) {
        Report(TMsgKind::Error, QStringLiteral("Can not export sites to \"%1\". %2")
                                    .arg(QDir::toNativeSeparators(Path), File.errorString()));
        return false;
    }
    Report(TMsgKind::Information, List.size() == 1 ? QStringLiteral("1 site exported.")
                                                   : QStringLiteral("%1 sites exported.").arg(List.size()));
    return true;
}

void TfMainForm::miImportSitesClick()
{
    const QString Path =
        QFileDialog::getOpenFileName(this, QStringLiteral("Import sites"), StartFolder(), FileFilter);
    if (Path.isEmpty() || FClosed)
        return;
    ImportSites(Path);
}

bool TfMainForm::ImportSites(const QString &Path)
{
    const auto Fail = [this, &Path](const QString &Why) {
        Report(TMsgKind::Error, QStringLiteral("Can not import sites from \"%1\".\r\n%2")
                                    .arg(QDir::toNativeSeparators(Path), Why));
        return false;
    };
    QFile File(Path);
    if (!File.open(QIODevice::ReadOnly))
        return Fail(File.errorString());
    // One byte beyond the limit is enough to refuse a file as too big.
    const QByteArray Data = File.read(MaxSiteExportFileSize + 1);
    if (File.error() != QFileDevice::NoError)
        return Fail(File.errorString());
    QList<TExportedSite> Imported;
    QString Error;
    if (!ParseSiteExport(Data, Imported, Error, IsSiteIcon))
        return Fail(Error);

    QList<std::pair<QByteArray, QByteArray>> Listed;
    for (int i = 0; i < Sites.Count(); ++i)
        Listed.append({Sites[i]->Title(), Sites[i]->URL()});
    const QString IconFolder = IconFolderOf(ProgramFolder);
    const TSiteImportPlan Plan = PlanSiteImport(Listed, Imported, IconFolder, IconNames);
    if (!WriteImportedIcons(Plan.Icons, IconFolder, Error))
        return Fail(Error);

    // The new icons join the site image list as a downloaded one does, name and picture in step.
    for (const TImportedIcon &Icon : Plan.Icons) {
        if (IconImageIndex(IconNames, Icon.Name) >= 0)
            continue;
        TdmMain::Current()->ilSites.Add(DecodeIconFile(Icon.Data));
        IconNames.append(Icon.Name);
    }
    for (const TExportedSite &Exported : Plan.NewSites) {
        auto NewSite = std::make_unique<TKestrunSite>();
        ApplyExportedSite(Exported, *NewSite);
        TKestrunSite &Site = *NewSite;
        Sites.Add(std::move(NewSite));
        SetWatch(Site, ExportedWatch(Exported));
        auto *Row = new QTreeWidgetItem;
        RefreshRow(Row, Site);
        lvSites->addTopLevelItem(Row);
        pmTray->insertAction(miTrayOpenedSitesDelimiter, CreateTraySiteEntry(Site, SiteImageIndex(Site)));
    }
    if (!Plan.NewSites.isEmpty()) {
        // Up and Down follow the selected site's new place in a longer list.
        lvSitesSelectItem(SelectedRow(), SelectedRow() != nullptr);
        SaveSitesNow();
    }
    const qsizetype Added = Plan.NewSites.size();
    Report(TMsgKind::Information,
           QStringLiteral("%1 imported, %2 already in the list.")
               .arg(Added == 1 ? QStringLiteral("1 site") : QStringLiteral("%1 sites").arg(Added))
               .arg(Plan.Existing));
    return true;
}
