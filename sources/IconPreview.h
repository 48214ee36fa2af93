#pragma once

#include <QDialog>
#include <QIcon>

#include <functional>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

// Shows a freshly downloaded icon with the site's address and asks for the title it is saved under.
// A title whose file exists already is refused and the dialog stays open.
class TfIconPreviewDlg : public QDialog
{
    Q_OBJECT

public:
    explicit TfIconPreviewDlg(QWidget *Owner);

    // Folder ends with '/' (or is empty: the current folder).
    void SetIconFolder(const QString &Folder) { IconFolder = Folder; }
    void Button1Click();
    // QDialog::Accepted after a successful Save, QDialog::Rejected otherwise.
    int ShowModal();

    QString IconFolder;
    QString IconFileName; // the chosen path, set by Save

    // Tests: when set, ShowModal runs this instead of a modal loop and returns its result.
    static std::function<int(TfIconPreviewDlg &)> ModalRunnerForTests;

    QFrame *Bevel1 = nullptr;
    QLabel *Label3 = nullptr;
    QLineEdit *edSite = nullptr;
    QLabel *Label1 = nullptr;
    QFrame *Shape1 = nullptr;
    QLabel *imgIcon = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *edIconTitle = nullptr;
    QPushButton *Button1 = nullptr;
    QPushButton *Button2 = nullptr;
};

// True when a file of that name exists in Folder. Letter case is ignored as well: site icons are
// found by name without regard to case, so a second "Web.ico" beside "web.ico" could never be used.
bool IconTitleInUse(const QString &Folder, const QString &FileName);
