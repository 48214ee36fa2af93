#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;
class TDesktopServices;

// The about box: the program's icon, name, short version and the product's web site.
class TfAboutDlg : public QDialog
{
    Q_OBJECT

public:
    explicit TfAboutDlg(TDesktopServices &Services, QWidget *Parent = nullptr);

    void Label3Click();

    QFrame *Bevel1 = nullptr;
    QLabel *imgLogo = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *lbVersion = nullptr; // "0.0" until the about road sets it
    QLabel *Label3 = nullptr;    // the product's web site, opened on a click
    QPushButton *btnOk = nullptr;

private:
    void FormCreate();

    TDesktopServices &FServices;
};
