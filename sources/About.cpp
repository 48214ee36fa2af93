#include "About.h"

#include "UpdateCheck.h"
#include "platform/DesktopServices.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TfAboutDlg::TfAboutDlg(TDesktopServices &Services, QWidget *Parent) : QDialog(Parent), FServices(Services)
{
    setObjectName(QStringLiteral("fAboutDlg"));
    setWindowTitle(QStringLiteral("About Kestrune"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);

    auto *Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(8, 8, 8, 8);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::StyledPanel);
    Bevel1->setFrameShadow(QFrame::Sunken);
    auto *Frame = new QHBoxLayout(Bevel1);

    imgLogo = new QLabel(Bevel1);
    imgLogo->setObjectName(QStringLiteral("imgLogo"));
    imgLogo->setFixedSize(32, 32);
    Frame->addWidget(imgLogo, 0, Qt::AlignTop);

    auto *Texts = new QVBoxLayout;
    Label1 = new QLabel(QStringLiteral("Kestrune"), Bevel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont Bold = Label1->font();
    Bold.setBold(true);
    Bold.setPointSizeF(Bold.pointSizeF() * 1.5);
    Label1->setFont(Bold);
    Texts->addWidget(Label1);

    auto *VersionLine = new QHBoxLayout;
    VersionLine->setSpacing(0);
    Label2 = new QLabel(QStringLiteral("Version: "), Bevel1);
    Label2->setObjectName(QStringLiteral("Label2"));
    lbVersion = new QLabel(QStringLiteral("0.0"), Bevel1);
    lbVersion->setObjectName(QStringLiteral("lbVersion"));
    VersionLine->addWidget(Label2);
    VersionLine->addWidget(lbVersion);
    VersionLine->addStretch();
    Texts->addLayout(VersionLine);

    const QString Site = QString::fromLatin1(KestruneHomePage());
    Label3 = new QLabel(Bevel1);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setTextFormat(Qt::RichText);
    Label3->setText(QStringLiteral("<a href=\"%1\" style=\"color: blue; text-decoration: underline\">%1</a>")
                        .arg(Site.toHtmlEscaped()));
    Label3->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    Label3->setOpenExternalLinks(false);
    Label3->setCursor(Qt::PointingHandCursor);
    connect(Label3, &QLabel::linkActivated, this, [this] { Label3Click(); });
    Texts->addWidget(Label3);
    Texts->addStretch();
    Frame->addLayout(Texts, 1);
    Layout->addWidget(Bevel1, 1);

    auto *Buttons = new QHBoxLayout;
    Buttons->addStretch();
    btnOk = new QPushButton(QStringLiteral("Ok"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setDefault(true);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    Buttons->addWidget(btnOk);
    Buttons->addStretch();
    Layout->addLayout(Buttons);

    setFixedSize(QSize(285, 160).expandedTo(sizeHint()));
    FormCreate();
}

void TfAboutDlg::FormCreate()
{
    imgLogo->setPixmap(QApplication::windowIcon().pixmap(32, 32));
}

void TfAboutDlg::Label3Click()
{
    FServices.OpenInDefaultBrowser(KestruneHomePage());
}
