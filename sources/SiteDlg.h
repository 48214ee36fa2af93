#pragma once

#include "KestruneClasses.h"
#include "SiteWatch.h"

#include <QDialog>
#include <QIcon>

#include <functional>

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QToolButton;

// The modal dialog in which a site is entered or modified. It edits a working copy of the site and
// never touches the caller's record: after Ok the caller copies EditedSite() out.
class TfSiteDlg : public QDialog
{
    Q_OBJECT

public:
    using TGetIconFolderEvent = std::function<void(TfSiteDlg *Sender, QString &Folder)>;
    using TIconAddedEvent = std::function<void(TfSiteDlg *Sender, const QString &IconName)>;

    explicit TfSiteDlg(QWidget *Owner);
    ~TfSiteDlg() override;

    // Appends one name (and its picture) to cmbIcon without selecting it; item i names image i of
    // the site image list.
    void AddIconItem(const QString &Name, const QIcon &Image = QIcon());
    void PrepareNew(const QByteArray &Title, const QByteArray &URL);
    void PrepareEdit(const TKestrunSite &Site);
    void SetOnGetIconFolder(TGetIconFolderEvent Handler) { FOnGetIconFolder = std::move(Handler); }
    void SetOnIconAdded(TIconAddedEvent Handler) { FOnIconAdded = std::move(Handler); }
    // QDialog::Accepted for Ok, QDialog::Rejected for Cancel.
    int ShowModal();
    const TKestrunSite &EditedSite() const { return FSite; }
    // The monitor's settings beside the record: shown with PrepareWatch, read back after Ok.
    void PrepareWatch(const TSiteWatch &Watch);
    TSiteWatch EditedWatch() const;

    // The folder of the site icons, as the owner answers it (empty without an owner's handler).
    QString IconFolder();
    // A downloaded icon: appended to cmbIcon, selected, and reported through OnIconAdded.
    void IconDownloaded(const QString &Name, const QIcon &Image);

    void LoadControls();
    bool StoreControls();
    void btnOkClick();
    void cbMonitorChangesClick();

    // Tests: when set, ShowModal runs this instead of a modal loop and returns its result.
    static std::function<int(TfSiteDlg &)> ModalRunnerForTests;

    QLabel *lblTitle = nullptr;
    QLineEdit *edTitle = nullptr;
    QLabel *lblURL = nullptr;
    QLineEdit *edURL = nullptr;
    QLabel *lblIcon = nullptr;
    QComboBox *cmbIcon = nullptr;
    QToolButton *sbDownloadIcon = nullptr;
    QLabel *lblDefaultBrowser = nullptr;
    QRadioButton *rbKestruneBrowser = nullptr;
    QRadioButton *rbSystemBrowser = nullptr;
    QCheckBox *cbRunAsTrayIcon = nullptr;
    QCheckBox *cbMonitorChanges = nullptr;
    QComboBox *cmbMonitorTime = nullptr;
    QComboBox *cmbCompare = nullptr; // "page source", "visible text"
    QLineEdit *edSelector = nullptr; // part of the page to watch, a CSS selector
    QGroupBox *gbSecurity = nullptr;
    QLineEdit *edUserName = nullptr;
    QLineEdit *edUserPassword = nullptr;
    QPushButton *Button3 = nullptr;
    QGroupBox *gbDefaultShortcuts = nullptr;
    QCheckBox *cbStartMenu = nullptr;
    QCheckBox *cbDesktopIcon = nullptr;
    QCheckBox *cbQuickLaunch = nullptr;
    QCheckBox *cbWindowsStartup = nullptr;
    QLabel *imgStart = nullptr;
    QLabel *imgDesktop = nullptr;
    QLabel *imgQuick = nullptr;
    QLabel *imgStartup = nullptr;
    QFrame *Bevel1 = nullptr;
    QPushButton *btnOk = nullptr;
    QPushButton *btnCancel = nullptr;

protected:
    void mouseReleaseEvent(QMouseEvent *Event) override;

private:
    void FormCreate();
    void SetClientHeight(int Height);
    // The four pictures beside the shortcut boxes.
    void LoadShortcutImages();
    void sbDownloadIconClick();

    TKestrunSite FSite;
    TSiteWatch FWatch;
    // The texts as loaded: a field left as it was keeps its bytes even when they are not valid UTF-8.
    QByteArray FLoaded[4];
    TGetIconFolderEvent FOnGetIconFolder;
    TIconAddedEvent FOnIconAdded;
};
