#include "SetupDlg.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

TfSetupDlg::TfSetupDlg(QWidget *Parent) : QDialog(Parent)
{
    setObjectName(QStringLiteral("fSetupDlg"));
    setWindowTitle(QStringLiteral("Setup"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);

    auto *Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(8, 8, 8, 8);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    tsGeneral = new QWidget(PageControl1);
    tsGeneral->setObjectName(QStringLiteral("tsGeneral"));
    auto *Page = new QVBoxLayout(tsGeneral);
    cbWinStartup = new QCheckBox(QStringLiteral("Run at Windows startup"), tsGeneral);
    cbWinStartup->setObjectName(QStringLiteral("cbWinStartup"));
    cbRunMinimized = new QCheckBox(QStringLiteral("Minimize on startup"), tsGeneral);
    cbRunMinimized->setObjectName(QStringLiteral("cbRunMinimized"));
    Page->addWidget(cbWinStartup);
    Page->addWidget(cbRunMinimized);
    Page->addStretch();
    PageControl1->addTab(tsGeneral, QStringLiteral("General"));
    Layout->addWidget(PageControl1, 1);

    auto *Buttons = new QHBoxLayout;
    Buttons->addStretch();
    btnOk = new QPushButton(QStringLiteral("Ok"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    // Escape rejects the dialog: the Cancel button's role.
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    Buttons->addWidget(btnOk);
    Buttons->addWidget(btnCancel);
    Layout->addLayout(Buttons);

    setFixedSize(QSize(412, 264).expandedTo(sizeHint()));
}
