#pragma once

#include <QDialog>

class QCheckBox;
class QPushButton;
class QTabWidget;
class QWidget;

// The options dialog: two start-up settings, filled and read back by the main window.
class TfSetupDlg : public QDialog
{
    Q_OBJECT

public:
    explicit TfSetupDlg(QWidget *Parent = nullptr);

    QTabWidget *PageControl1 = nullptr;
    QWidget *tsGeneral = nullptr;
    QCheckBox *cbWinStartup = nullptr;
    QCheckBox *cbRunMinimized = nullptr;
    QPushButton *btnOk = nullptr;
    QPushButton *btnCancel = nullptr;
};
