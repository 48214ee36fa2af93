#include "BrowserWin.h"
#include "Main.h"
#include "RunTexts.h"
#include "SiteDlg.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QToolButton>
#include <QTreeWidget>

namespace {

constexpr int SiteRole = Qt::UserRole;

} // namespace

TKestrunSite *TfMainForm::RowSite(const QTreeWidgetItem *Row) const
{
    if (!Row)
        return nullptr;
    auto *Site = static_cast<TKestrunSite *>(Row->data(0, SiteRole).value<void *>());
    // A row names a site of the collection or nothing.
    return Sites.IndexOf(Site) >= 0 ? Site : nullptr;
}

QTreeWidgetItem *TfMainForm::SelectedRow() const
{
    const QList<QTreeWidgetItem *> Selected = lvSites->selectedItems();
    return Selected.isEmpty() ? nullptr : Selected.first();
}

TKestrunSite *TfMainForm::SelectedSite() const
{
    return RowSite(SelectedRow());
}

int TfMainForm::SiteImageIndex(const TKestrunSite &Site) const
{
    const QString Name = QString::fromUtf8(Site.IconName());
    for (int i = 0; i < IconNames.size(); ++i) {
        if (IconNames[i].compare(Name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

void TfMainForm::MoveSelectedSite(int Step)
{
    QTreeWidgetItem *Row = SelectedRow();
    TKestrunSite *Site = RowSite(Row);
    const int From = Sites.IndexOf(Site);
    const int To = From + Step;
    if (!Site || From < 0 || To < 0 || To >= Sites.Count() || lvSites->topLevelItem(From) != Row)
        return;
    Sites.Move(From, To);
    // The list then agrees with the collection, so the order that follows a drag has nothing to do.
    lvSites->takeTopLevelItem(From);
    lvSites->insertTopLevelItem(To, Row);
    lvSites->setCurrentItem(Row);
    Row->setSelected(true);
    OrderTraySiteEntries();
    lvSitesSelectItem(Row, true);
    SaveSitesNow();
}

void TfMainForm::FollowListOrder()
{
    bool Moved = false;
    for (int i = 0; i < lvSites->topLevelItemCount() && i < Sites.Count(); ++i) {
        const int At = Sites.IndexOf(RowSite(lvSites->topLevelItem(i)));
        if (At > i) {
            Sites.Move(At, i);
            Moved = true;
        }
    }
    if (!Moved)
        return;
    OrderTraySiteEntries();
    lvSitesSelectItem(SelectedRow(), SelectedRow() != nullptr);
    SaveSitesNow();
}

void TfMainForm::OrderTraySiteEntries()
{
    for (int i = 0; i < Sites.Count(); ++i) {
        if (auto *Entry = qobject_cast<QAction *>(Sites[i]->MenuItem())) {
            pmTray->removeAction(Entry);
            pmTray->insertAction(miTrayOpenedSitesDelimiter, Entry);
        }
    }
}

void TfMainForm::RefreshRow(QTreeWidgetItem *Row, TKestrunSite &Site)
{
    Row->setText(0, QString::fromUtf8(Site.Title()));
    Row->setText(1, QString::fromUtf8(Site.URL()));
    Row->setText(2, WatchedCaption(Site.MonitorChanges(), Site.MonitorInterval()));
    Row->setIcon(0, SiteImage(SiteImageIndex(Site)));
    Row->setData(0, SiteRole, QVariant::fromValue<void *>(&Site));
    Row->setFlags(Row->flags() & ~Qt::ItemIsDropEnabled);
}

QAction *TfMainForm::CreateTraySiteEntry(TKestrunSite &Site, int Image)
{
    auto *Entry = new QAction(TraySiteCaption(Site), pmTray);
    Entry->setIcon(SiteImage(Image));
    connect(Entry, &QAction::triggered, this, [this, Entry] { TraySiteClick(Entry); });
    Site.SetMenuItem(Entry);
    return Entry;
}

void TfMainForm::FillSiteList()
{
    lvSites->setUpdatesEnabled(false);
    lvSites->clear();
    QList<QTreeWidgetItem *> Rows;
    Rows.reserve(Sites.Count());
    QList<QAction *> Entries;
    Entries.reserve(Sites.Count());
    for (int i = 0; i < Sites.Count(); ++i) {
        TKestrunSite &Site = *Sites[i];
        auto *Row = new QTreeWidgetItem;
        RefreshRow(Row, Site);
        Rows.append(Row);
        if (QObject *Old = Site.MenuItem())
            delete Old;
        Entries.append(CreateTraySiteEntry(Site, SiteImageIndex(Site)));
    }
    lvSites->addTopLevelItems(Rows);
    // The site entries follow miTraySitesDelimiter, in collection order.
    pmTray->insertActions(miTrayOpenedSitesDelimiter, Entries);
    lvSites->setUpdatesEnabled(true);
}

void TfMainForm::lvSitesSelectItem(QTreeWidgetItem *Item, bool Selected)
{
    const bool On = Selected && Item;
    lvSites->setContextMenuPolicy(On ? Qt::CustomContextMenu : Qt::NoContextMenu);
    tbRun->setEnabled(On);
    miOpen->setEnabled(On);
    miOpenDefault->setEnabled(On);
    tbShortCut->setEnabled(On);
    tbEdit->setEnabled(On);
    miModifySite->setEnabled(On);
    tbRemove->setEnabled(On);
    miRemoveSite->setEnabled(On);
    const TKestrunSite *Site = On ? RowSite(Item) : nullptr;
    miWhatChanged->setEnabled(Site && !WatchOf(*Site).History.isEmpty());
    const int Index = Site ? Sites.IndexOf(Site) : -1;
    tbMoveUp->setEnabled(Index > 0);
    tbMoveDown->setEnabled(Index >= 0 && Index + 1 < Sites.Count());
}

void TfMainForm::lvSitesDblClick()
{
    if (SelectedRow())
        tbRunClick();
}

void TfMainForm::tbAddClick()
{
    AddSite(QByteArray(), QByteArray());
}

void TfMainForm::tbEditClick()
{
    if (QTreeWidgetItem *Row = SelectedRow())
        EditSite(Row);
}

void TfMainForm::tbRemoveClick()
{
    QTreeWidgetItem *Row = SelectedRow();
    if (!Row)
        return;
    const QString Question =
        QStringLiteral("Are You sure to remove site \"") + Row->text(0) + QStringLiteral("\"?");
    if (ShowMessage(this, TMsgKind::Confirm, Question, TMsgButtons::YesNo) == TMsgResult::Yes && !FClosed &&
        SelectedRow() == Row)
        RemoveSite(Row);
}

void TfMainForm::GetIconFolder(QString &Folder) const
{
    Folder = ProgramFolder + QStringLiteral("Icons/");
}

void TfMainForm::IconAdded(const QString &IconName)
{
    IconNames.append(IconName);
}

namespace {

void PrepareDialog(TfMainForm &Form, TfSiteDlg &Dialog)
{
    for (int i = 0; i < Form.IconNames.size(); ++i)
        Dialog.AddIconItem(Form.IconNames[i], Form.SiteImage(i));
}

void GiveHandlers(TfMainForm &Form, TfSiteDlg &Dialog)
{
    Dialog.SetOnGetIconFolder([&Form](TfSiteDlg *, QString &Folder) { Form.GetIconFolder(Folder); });
    Dialog.SetOnIconAdded([&Form](TfSiteDlg *, const QString &IconName) { Form.IconAdded(IconName); });
}

} // namespace

void TfMainForm::AddSite(const QByteArray &Title, const QByteArray &URL)
{
    TfSiteDlg Dialog(this);
    PrepareDialog(*this, Dialog);
    Dialog.PrepareNew(Title, URL);
    PrepareShortcutBoxes(Dialog);
    GiveHandlers(*this, Dialog);
    if (Dialog.ShowModal() != QDialog::Accepted || FClosed)
        return;

    auto NewSite = std::make_unique<TKestrunSite>();
    NewSite->Assign(Dialog.EditedSite());
    TKestrunSite &Site = *NewSite;
    Sites.Add(std::move(NewSite));
    SetWatch(Site, Dialog.EditedWatch());

    auto *Row = new QTreeWidgetItem;
    RefreshRow(Row, Site);
    lvSites->addTopLevelItem(Row);
    lvSites->setCurrentItem(Row);
    lvSites->setFocus();
    Row->setSelected(true);

    pmTray->insertAction(miTrayOpenedSitesDelimiter, CreateTraySiteEntry(Site, SiteImageIndex(Site)));
    // Written at once: a crash or a logout must not lose the new site.
    SaveSitesNow();

    const std::pair<QCheckBox *, int> Boxes[] = {{Dialog.cbStartMenu, 1},
                                                 {Dialog.cbDesktopIcon, 2},
                                                 {Dialog.cbQuickLaunch, 3},
                                                 {Dialog.cbWindowsStartup, 4}};
    for (const auto &[Box, Place] : Boxes) {
        if (Box->isChecked() && Sites.IndexOf(&Site) >= 0)
            CreateShortcut(Site, Place);
    }
}

void TfMainForm::EditSite(QTreeWidgetItem *Row)
{
    TKestrunSite *Site = RowSite(Row);
    if (!Site)
        return;
    TfSiteDlg Dialog(this);
    PrepareDialog(*this, Dialog);
    Dialog.PrepareEdit(*Site);
    Dialog.PrepareWatch(WatchOf(*Site));
    GiveHandlers(*this, Dialog);
    // The dialog's loop lets other events run: the site may be removed or the program end meanwhile.
    if (Dialog.ShowModal() != QDialog::Accepted || FClosed || Sites.IndexOf(Site) < 0)
        return;
    const QByteArray OldTitle = Site->Title();
    Site->Assign(Dialog.EditedSite());
    // The dialog sets what the monitor compares; changes seen and the zoom set while it was open
    // stay.
    const TSiteWatch Edited = Dialog.EditedWatch();
    TSiteWatch Watch = WatchOf(*Site);
    Watch.Compare = Edited.Compare;
    Watch.Selector = Edited.Selector;
    SetWatch(*Site, Watch);
    // An open window of the site compares as it is told from its next reading on.
    for (const TOpenBrowser &Record : std::as_const(OpenBrowsers)) {
        if (auto *Window = qobject_cast<TfBrowserWin *>(Record.Window.data()); Window && Record.Site == Site)
            Window->SetWatch(WatchOf(*Site));
    }
    const int Row0 = Sites.IndexOf(Site);
    if (QTreeWidgetItem *Current = lvSites->topLevelItem(Row0); Current && RowSite(Current) == Site)
        RefreshRow(Current, *Site);
    if (auto *Entry = qobject_cast<QAction *>(Site->MenuItem())) {
        Entry->setIcon(SiteImage(SiteImageIndex(*Site)));
        Entry->setText(TraySiteCaption(*Site));
    }
    SaveSitesNow();
    // A box about the save may have let the site go meanwhile.
    if (!FClosed && Sites.IndexOf(Site) >= 0)
        RewriteShortcuts(OldTitle, *Site);
}

void TfMainForm::RemoveSite(QTreeWidgetItem *Row)
{
    TKestrunSite *Site = RowSite(Row);
    if (!Site)
        return;
    if (HasShortcuts(*Site)) {
        const TMsgResult Answer = ShowMessage(
            this, TMsgKind::Confirm,
            QStringLiteral("There are active shortcuts for this site. Whould you like to remove them too?"),
            TMsgButtons::YesNoCancel);
        if (Answer == TMsgResult::Cancel || FClosed || Sites.IndexOf(Site) < 0)
            return;
        if (Answer == TMsgResult::Yes)
            RemoveShortcuts(*Site);
    }
    delete Site->MenuItem();
    Site->SetMenuItem(nullptr);
    // Every window of the site goes, not only the newest: none may outlive the record it shows.
    for (int i = OpenBrowsers.size() - 1; i >= 0; --i) {
        if (i < OpenBrowsers.size() && OpenBrowsers[i].Site == Site)
            DropOpenBrowser(i);
    }
    const int Index = Sites.IndexOf(Site);
    QTreeWidgetItem *SiteRow = lvSites->topLevelItem(Index);
    FWatches.remove(Site);
    if (FBalloonSite == Site)
        FBalloonSite = nullptr;
    Sites.Delete(Index);
    delete SiteRow;
    lvSitesSelectItem(SelectedRow(), SelectedRow() != nullptr);
    SaveSitesNow();
}

void TfMainForm::DropOpenBrowser(int Index)
{
    if (Index < 0 || Index >= OpenBrowsers.size())
        return;
    const TOpenBrowser Record = OpenBrowsers.takeAt(Index);
    delete Record.MenuItem.data();
    // Destroyed directly: the window's own close handling (placement, open flag) does not run.
    delete Record.Window.data();
    UpdateOpenBrowserCount();
}

void TfMainForm::UpdateOpenBrowserCount()
{
    sbStatusPanel0->setText(OpenBrowsers.isEmpty()
                                ? QStringLiteral("No open browsers")
                                : QStringLiteral("Open browsers: %1").arg(OpenBrowsers.size()));
}
