#include "IconPreview.h"

#include "platform/MessageBoxes.h"

#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

std::function<int(TfIconPreviewDlg &)> TfIconPreviewDlg::ModalRunnerForTests;

TfIconPreviewDlg::TfIconPreviewDlg(QWidget *Owner) : QDialog(Owner)
{
    setObjectName(QStringLiteral("fIconPreviewDlg"));
    setWindowTitle(QStringLiteral("Setup site icon"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setModal(true);

    Bevel1 = new QFrame(this);
    Bevel1->setFrameShape(QFrame::StyledPanel);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(8, 8, 305, 129);

    Label3 = new QLabel(QStringLiteral("Site"), this);
    Label3->setGeometry(20, 24, 50, 16);
    edSite = new QLineEdit(this);
    edSite->setObjectName(QStringLiteral("edSite"));
    edSite->setGeometry(72, 20, 229, 22);
    edSite->setEnabled(false);

    Label1 = new QLabel(QStringLiteral("Icon"), this);
    Label1->setGeometry(20, 60, 50, 16);
    Shape1 = new QFrame(this);
    Shape1->setGeometry(72, 57, 22, 22);
    Shape1->setAutoFillBackground(true);
    Shape1->setStyleSheet(QStringLiteral("QFrame { background: white; border: 1px solid palette(dark); }"));
    imgIcon = new QLabel(this);
    imgIcon->setObjectName(QStringLiteral("imgIcon"));
    imgIcon->setGeometry(75, 60, 16, 16);

    Label2 = new QLabel(QStringLiteral("Title"), this);
    Label2->setGeometry(20, 98, 50, 16);
    edIconTitle = new QLineEdit(this);
    edIconTitle->setObjectName(QStringLiteral("edIconTitle"));
    edIconTitle->setGeometry(72, 94, 229, 22);
    Label2->setBuddy(edIconTitle);

    Button1 = new QPushButton(QStringLiteral("Save"), this);
    Button1->setGeometry(157, 145, 75, 25);
    Button1->setDefault(true);
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button2->setGeometry(238, 145, 75, 25);

    connect(Button1, &QPushButton::clicked, this, &TfIconPreviewDlg::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
    setFixedSize(321, 178);
    edIconTitle->setFocus();
}

bool IconTitleInUse(const QString &Folder, const QString &FileName)
{
    const QString Path = Folder + FileName;
    if (QFileInfo::exists(Path))
        return true;
    const QFileInfo Info(Path);
    const QStringList Names =
        Info.dir().entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &Name : Names)
        if (Name.compare(Info.fileName(), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

void TfIconPreviewDlg::Button1Click()
{
    const QString FileName = edIconTitle->text() + QStringLiteral(".ico");
    if (IconTitleInUse(IconFolder, FileName)) {
        ShowMessage(this, TMsgKind::Error, QStringLiteral("This title is in use already!"));
        return;
    }
    IconFileName = IconFolder + FileName;
    accept();
}

int TfIconPreviewDlg::ShowModal()
{
    if (ModalRunnerForTests)
        return ModalRunnerForTests(*this);
    return exec();
}
