#include "SiteDlg.h"

#include "RunTexts.h"
#include "platform/MessageBoxes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QStyledItemDelegate>
#include <QToolButton>

#include <limits>

std::function<int(TfSiteDlg &)> TfSiteDlg::ModalRunnerForTests;

namespace {

constexpr int ClientWidth = 461;
// Two rows more than the original layout: the change monitor's controls are offered.
constexpr int MonitorRow = 52;
constexpr int NewSiteHeight = 314 + MonitorRow;
constexpr int EditSiteHeight = 210 + MonitorRow;

enum TLoadedText
{
    LoadedTitle,
    LoadedURL,
    LoadedUserName,
    LoadedPassword
};

QLabel *MakeLabel(QWidget *Parent, const QString &Caption, int X, int Y, int Width = 200)
{
    auto *Label = new QLabel(Caption, Parent);
    Label->setGeometry(X, Y, Width, 16);
    return Label;
}

// A text left as loaded keeps its bytes exactly; an edited one is taken as typed.
QByteArray TextOf(const QLineEdit *Edit, const QByteArray &Loaded)
{
    const QString Text = Edit->text();
    return Text == QString::fromUtf8(Loaded) ? Loaded : Text.toUtf8();
}

// The icon list's items are 18 pixels high: a 16 x 16 picture and its name.
class TIconItemDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem &Option, const QModelIndex &Index) const override
    {
        return QSize(QStyledItemDelegate::sizeHint(Option, Index).width(), 18);
    }
};

} // namespace

TfSiteDlg::TfSiteDlg(QWidget *Owner) : QDialog(Owner)
{
    FormCreate();
}

TfSiteDlg::~TfSiteDlg() = default;

void TfSiteDlg::FormCreate()
{
    setObjectName(QStringLiteral("fSiteDlg"));
    setWindowTitle(QStringLiteral("Kestrune"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setModal(true);

    constexpr int Border = 8;
    constexpr int Wide = ClientWidth - 2 * Border;

    lblTitle = MakeLabel(this, QStringLiteral("Title"), Border, 8);
    edTitle = new QLineEdit(this);
    edTitle->setObjectName(QStringLiteral("edTitle"));
    edTitle->setGeometry(Border, 24, Wide, 22);
    // Qt cuts a line edit's text at 32,767 characters; a stored title or URL must never be cut.
    edTitle->setMaxLength(std::numeric_limits<int>::max());
    lblTitle->setBuddy(edTitle);

    lblURL = MakeLabel(this, QStringLiteral("URL"), Border, 52);
    edURL = new QLineEdit(this);
    edURL->setObjectName(QStringLiteral("edURL"));
    edURL->setGeometry(Border, 68, Wide, 22);
    edURL->setMaxLength(std::numeric_limits<int>::max());
    lblURL->setBuddy(edURL);

    lblIcon = MakeLabel(this, QStringLiteral("Icon"), Border, 96);
    cmbIcon = new QComboBox(this);
    cmbIcon->setObjectName(QStringLiteral("cmbIcon"));
    cmbIcon->setGeometry(Border, 112, 200, 24);
    cmbIcon->setIconSize(QSize(16, 16));
    cmbIcon->setItemDelegate(new TIconItemDelegate(cmbIcon));
    lblIcon->setBuddy(cmbIcon);
    sbDownloadIcon = new QToolButton(this);
    sbDownloadIcon->setObjectName(QStringLiteral("sbDownloadIcon"));
    sbDownloadIcon->setGeometry(Border + 204, 112, 24, 24);
    sbDownloadIcon->setText(QStringLiteral("..."));
    sbDownloadIcon->setToolTip(QStringLiteral("Download site icon"));
    sbDownloadIcon->setAutoRaise(true);

    lblDefaultBrowser = MakeLabel(this, QStringLiteral("Default browser"), 250, 96);
    rbKestruneBrowser = new QRadioButton(QStringLiteral("Kestrune browser"), this);
    rbKestruneBrowser->setObjectName(QStringLiteral("rbKestruneBrowser"));
    rbKestruneBrowser->setGeometry(250, 112, 200, 20);
    rbKestruneBrowser->setChecked(true);
    rbSystemBrowser = new QRadioButton(QStringLiteral("System default browser"), this);
    rbSystemBrowser->setObjectName(QStringLiteral("rbSystemBrowser"));
    rbSystemBrowser->setGeometry(250, 132, 200, 20);

    cbRunAsTrayIcon = new QCheckBox(QStringLiteral("Run as Tray icon"), this);
    cbRunAsTrayIcon->setObjectName(QStringLiteral("cbRunAsTrayIcon"));
    cbRunAsTrayIcon->setGeometry(Border, 144, 200, 20);

    cbMonitorChanges = new QCheckBox(QStringLiteral("Monitor site changes"), this);
    cbMonitorChanges->setObjectName(QStringLiteral("cbMonitorChanges"));
    cbMonitorChanges->setGeometry(Border, 166, 160, 20);
    cmbMonitorTime = new QComboBox(this);
    cmbMonitorTime->setObjectName(QStringLiteral("cmbMonitorTime"));
    cmbMonitorTime->setGeometry(Border + 164, 165, 140, 22);
    cmbMonitorTime->setToolTip(QStringLiteral("How often the page is loaded again and compared"));
    cmbCompare = new QComboBox(this);
    cmbCompare->setObjectName(QStringLiteral("cmbCompare"));
    cmbCompare->setGeometry(Border + 20, 191, 140, 22);
    cmbCompare->addItems({QStringLiteral("page source"), QStringLiteral("visible text")});
    cmbCompare->setToolTip(
        QStringLiteral("The page's source changes with every script and token; its visible "
                       "text changes only when what you read does"));
    edSelector = new QLineEdit(this);
    edSelector->setObjectName(QStringLiteral("edSelector"));
    edSelector->setGeometry(Border + 164, 191, Wide - 164, 22);
    edSelector->setMaxLength(int(MaxSelectorLength));
    edSelector->setPlaceholderText(QStringLiteral("part of the page (CSS selector), optional"));

    gbSecurity = new QGroupBox(QStringLiteral("Security"), this);
    gbSecurity->setObjectName(QStringLiteral("gbSecurity"));
    gbSecurity->setGeometry(Border, 166, Wide, 60);
    MakeLabel(gbSecurity, QStringLiteral("Username"), 8, 18, 80);
    edUserName = new QLineEdit(gbSecurity);
    edUserName->setObjectName(QStringLiteral("edUserName"));
    edUserName->setGeometry(8, 34, 150, 22);
    MakeLabel(gbSecurity, QStringLiteral("password"), 166, 18, 80);
    edUserPassword = new QLineEdit(gbSecurity);
    edUserPassword->setObjectName(QStringLiteral("edUserPassword"));
    edUserPassword->setEchoMode(QLineEdit::Password);
    edUserPassword->setGeometry(166, 34, 150, 22);
    Button3 = new QPushButton(QStringLiteral("Test"), gbSecurity);
    Button3->setObjectName(QStringLiteral("Button3"));
    Button3->setGeometry(324, 33, 75, 24);
    Button3->setEnabled(false);

    // Not offered: hidden and disabled, but its values are carried through.
    gbSecurity->setVisible(false);
    gbSecurity->setEnabled(false);

    gbDefaultShortcuts = new QGroupBox(QStringLiteral("Create default shortcut"), this);
    gbDefaultShortcuts->setObjectName(QStringLiteral("gbDefaultShortcuts"));
    gbDefaultShortcuts->setGeometry(Border, 172 + MonitorRow, Wide, 80);
    const auto AddShortcutBox = [this](QCheckBox *&Box, QLabel *&Image, const QString &Name,
                                       const QString &Caption, int X, int Y) {
        Image = new QLabel(gbDefaultShortcuts);
        Image->setGeometry(X, Y + 2, 16, 16);
        Box = new QCheckBox(Caption, gbDefaultShortcuts);
        Box->setObjectName(Name);
        Box->setGeometry(X + 22, Y, 180, 20);
    };
    AddShortcutBox(cbStartMenu, imgStart, QStringLiteral("cbStartMenu"), QStringLiteral("Start menu"), 12,
                   22);
    AddShortcutBox(cbDesktopIcon, imgDesktop, QStringLiteral("cbDesktopIcon"), QStringLiteral("Desktop"), 12,
                   48);
    AddShortcutBox(cbQuickLaunch, imgQuick, QStringLiteral("cbQuickLaunch"), QStringLiteral("Quick launch"),
                   230, 22);
    AddShortcutBox(cbWindowsStartup, imgStartup, QStringLiteral("cbWindowsStartup"),
                   QStringLiteral("Windows Startup"), 230, 48);

    Bevel1 = new QFrame(this);
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    btnOk = new QPushButton(QStringLiteral("Ok"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setDefault(true);
    btnOk->setAutoDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAutoDefault(false);
    SetClientHeight(NewSiteHeight);

    connect(btnOk, &QPushButton::clicked, this, &TfSiteDlg::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(sbDownloadIcon, &QToolButton::clicked, this, &TfSiteDlg::sbDownloadIconClick);
    connect(cbMonitorChanges, &QCheckBox::toggled, this, &TfSiteDlg::cbMonitorChangesClick);
    connect(cmbCompare, &QComboBox::currentIndexChanged, this, &TfSiteDlg::cbMonitorChangesClick);

    cmbMonitorTime->addItems(MonitorIntervalCaptions());
    LoadShortcutImages();
}

void TfSiteDlg::SetClientHeight(int Height)
{
    // The separator and the buttons are anchored to the bottom edge.
    setFixedSize(ClientWidth, Height);
    Bevel1->setGeometry(8, Height - 44, ClientWidth - 16, 2);
    btnOk->setGeometry(ClientWidth - 8 - 75 - 8 - 75, Height - 33, 75, 25);
    btnCancel->setGeometry(ClientWidth - 8 - 75, Height - 33, 75, 25);
}

void TfSiteDlg::AddIconItem(const QString &Name, const QIcon &Image)
{
    // A combo selects its first item by itself; the selection is LoadControls' to make.
    const int Selected = cmbIcon->currentIndex();
    cmbIcon->addItem(Image, Name);
    cmbIcon->setCurrentIndex(Selected);
}

void TfSiteDlg::LoadControls()
{
    FLoaded[LoadedTitle] = FSite.Title();
    FLoaded[LoadedURL] = FSite.URL();
    FLoaded[LoadedUserName] = FSite.UserName();
    FLoaded[LoadedPassword] = FSite.Password();
    edTitle->setText(QString::fromUtf8(FSite.Title()));
    edURL->setText(QString::fromUtf8(FSite.URL()));
    edUserName->setText(QString::fromUtf8(FSite.UserName()));
    edUserPassword->setText(QString::fromUtf8(FSite.Password()));
    cbMonitorChanges->setChecked(FSite.MonitorChanges() == 1);
    cbMonitorChangesClick();
    cbRunAsTrayIcon->setChecked(FSite.MinimizeToTaskbar() == 0);
    // Any choice but 1 opens the system browser, and is shown (and stored back) as such.
    if (FSite.BrowserChoice() == 1)
        rbKestruneBrowser->setChecked(true);
    else
        rbSystemBrowser->setChecked(true);
    const QString IconName = QString::fromUtf8(FSite.IconName());
    for (int i = 0; i < cmbIcon->count(); ++i) {
        if (cmbIcon->itemText(i).compare(IconName, Qt::CaseInsensitive) == 0) {
            cmbIcon->setCurrentIndex(i);
            break;
        }
    }
    cmbMonitorTime->setCurrentIndex(
        FSite.MonitorInterval() < cmbMonitorTime->count() ? FSite.MonitorInterval() : -1);
}

void TfSiteDlg::PrepareNew(const QByteArray &Title, const QByteArray &URL)
{
    LoadControls();
    if (!Title.isEmpty()) {
        edTitle->setText(QString::fromUtf8(Title));
        FLoaded[LoadedTitle] = Title;
    }
    if (!URL.isEmpty()) {
        edURL->setText(QString::fromUtf8(URL));
        FLoaded[LoadedURL] = URL;
    }
}

void TfSiteDlg::PrepareEdit(const TKestrunSite &Site)
{
    FSite.Assign(Site);
    LoadControls();
    SetClientHeight(EditSiteHeight);
    gbDefaultShortcuts->setEnabled(false);
    gbDefaultShortcuts->setVisible(false);
}

bool TfSiteDlg::StoreControls()
{
    QString Errors;
    if (edTitle->text().isEmpty())
        Errors += QStringLiteral("Title can not be empty.\r\n");
    if (edURL->text().isEmpty())
        Errors += QStringLiteral("Site URL must be present.\r\n");
    if (!Errors.isEmpty()) {
        ShowMessage(this, TMsgKind::Error, Errors);
        return false;
    }
    FSite.SetTitle(TextOf(edTitle, FLoaded[LoadedTitle]));
    FSite.SetURL(TextOf(edURL, FLoaded[LoadedURL]));
    FSite.SetUserName(TextOf(edUserName, FLoaded[LoadedUserName]));
    FSite.SetPassword(TextOf(edUserPassword, FLoaded[LoadedPassword]));
    FSite.SetIconName(cmbIcon->currentIndex() >= 0 ? cmbIcon->currentText().toUtf8() : QByteArray());
    FSite.SetMonitorChanges(cbMonitorChanges->isChecked() ? 1 : 0);
    FSite.SetMinimizeToTaskbar(cbRunAsTrayIcon->isChecked() ? 0 : 1);
    FSite.SetBrowserChoice(rbKestruneBrowser->isChecked() ? 1 : 0);
    // An interval the list does not hold (only a file can give one) stays as it was.
    if (cmbMonitorTime->currentIndex() >= 0)
        FSite.SetMonitorInterval(quint8(cmbMonitorTime->currentIndex()));
    return true;
}

void TfSiteDlg::btnOkClick()
{
    if (StoreControls())
        accept();
}

void TfSiteDlg::cbMonitorChangesClick()
{
    const bool On = cbMonitorChanges->isChecked();
    cmbMonitorTime->setEnabled(On);
    cmbCompare->setEnabled(On);
    edSelector->setEnabled(On && cmbCompare->currentIndex() == 1);
}

void TfSiteDlg::PrepareWatch(const TSiteWatch &Watch)
{
    FWatch = Watch;
    cmbCompare->setCurrentIndex(Watch.Compare == TCompareMode::VisibleText ? 1 : 0);
    edSelector->setText(Watch.Selector);
    cbMonitorChangesClick();
}

TSiteWatch TfSiteDlg::EditedWatch() const
{
    TSiteWatch Watch = FWatch;
    Watch.Compare = cmbCompare->currentIndex() == 1 ? TCompareMode::VisibleText : TCompareMode::Source;
    // A selector counts for the visible text only.
    Watch.Selector = Watch.Compare == TCompareMode::VisibleText ? edSelector->text().trimmed() : QString();
    return Watch;
}

void TfSiteDlg::mouseReleaseEvent(QMouseEvent *Event)
{
    // A click on the dialog's own surface acts as "Ok".
    QDialog::mouseReleaseEvent(Event);
    if (Event->button() == Qt::LeftButton && rect().contains(Event->position().toPoint()) &&
        !childAt(Event->position().toPoint()))
        btnOkClick();
}

int TfSiteDlg::ShowModal()
{
    if (ModalRunnerForTests)
        return ModalRunnerForTests(*this);
    return exec();
}

QString TfSiteDlg::IconFolder()
{
    QString Folder;
    if (FOnGetIconFolder)
        FOnGetIconFolder(this, Folder);
    return Folder;
}

void TfSiteDlg::IconDownloaded(const QString &Name, const QIcon &Image)
{
    cmbIcon->addItem(Image, Name);
    cmbIcon->setCurrentIndex(cmbIcon->count() - 1);
    if (FOnIconAdded)
        FOnIconAdded(this, Name);
}
