#include "DataModuleUnit.h"
#include "IconPreview.h"
#include "Main.h"
#include "Settings.h"
#include "SiteDlg.h"
#include "TestDesktopServices.h"
#include "TestHttpServer.h"
#include "images/ImageDecoding.h"
#include "images/ImageStoredForm.h"
#include "platform/MessageBoxes.h"
#include "platform/WebProfile.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>

namespace {

QByteArray BuiltinIcon(int Index)
{
    TImageCollection Images;
    TImageGroupCollection Groups;
    ReadImageRepositoryData(BuiltinImageData(), Images, Groups);
    return Images.Item(Index)->Graphic;
}

QImage Picture(const QIcon &Icon)
{
    return Icon.isNull() ? QImage() : Icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
}

void Write(const QString &Path, const QByteArray &Bytes)
{
    QFile File(Path);
    QVERIFY(File.open(QIODevice::WriteOnly));
    File.write(Bytes);
}

} // namespace

class TestMainIcons : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void siteIconsInRowsAndTray();
    void menuPictures();
    void siteDialogPicturesAndDownload();

private:
    std::unique_ptr<TfMainForm> MakeForm();
    TTestDesktopServices FDesktop;
    TWebProfile FProfile;
    std::unique_ptr<QTemporaryDir> FFolder;
};

void TestMainIcons::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings Store(SettingsOrganization, SettingsApplication);
    Store.setValue(LastUpdateCheckKey, EncodeLastUpdateCheck(QDateTime::currentDateTime()));
}

void TestMainIcons::init()
{
    FFolder = std::make_unique<QTemporaryDir>();
    MessageBoxTest::Enable();
    MessageBoxTest::TakeRecords();
}

void TestMainIcons::cleanup()
{
    TfIconPreviewDlg::ModalRunnerForTests = nullptr;
    MessageBoxTest::Enable(false);
    FFolder.reset();
}

std::unique_ptr<TfMainForm> TestMainIcons::MakeForm()
{
    auto Form = std::make_unique<TfMainForm>(FDesktop, FProfile, FFolder->path(), QList<QByteArray>());
    FDesktop.TrayAvailable = false;
    return Form;
}

void TestMainIcons::siteIconsInRowsAndTray()
{
    const QString Icons = FFolder->path() + QStringLiteral("/Icons/");
    QVERIFY(QDir().mkpath(Icons));
    Write(Icons + QStringLiteral("web.ico"), BuiltinIcon(1));
    Write(Icons + QStringLiteral("News.ico"), BuiltinIcon(3));
    Write(Icons + QStringLiteral("broken.ico"), BuiltinIcon(5).left(200));
    Write(Icons + QStringLiteral("empty.ico"), QByteArray());
    TKestrunCollection Sites;
    for (const auto &[Title, Icon] : {std::pair{"A", "WEB"}, {"B", "news"}, {"C", "gone"}}) {
        auto Site = std::make_unique<TKestrunSite>();
        Site->SetTitle(Title);
        Site->SetIconName(Icon);
        Sites.Add(std::move(Site));
    }
    QVERIFY(SaveSites(FFolder->path(), Sites));

    auto Form = MakeForm();
    QCOMPARE(Form->IconNames, QStringList({QStringLiteral("News"), QStringLiteral("web")}));
    QCOMPARE(TdmMain::Current()->ilSites.Count(), 2);
    const QImage Web = Picture(DecodeIconFile(BuiltinIcon(1)));
    const QImage News = Picture(DecodeIconFile(BuiltinIcon(3)));
    QCOMPARE(Picture(Form->lvSites->topLevelItem(0)->icon(0)), Web);
    QCOMPARE(Picture(Form->lvSites->topLevelItem(1)->icon(0)), News);
    QVERIFY(Form->lvSites->topLevelItem(2)->icon(0).isNull());
    for (int I = 0; I < 3; ++I) {
        auto *Entry = qobject_cast<QAction *>(Form->Sites[I]->MenuItem());
        QVERIFY(Entry);
        QCOMPARE(Picture(Entry->icon()), Picture(Form->lvSites->topLevelItem(I)->icon(0)));
    }

    // A second window starts from an empty list again: names and pictures stay in step.
    Form.reset();
    auto Again = MakeForm();
    QCOMPARE(TdmMain::Current()->ilSites.Count(), Again->IconNames.size());
}

void TestMainIcons::menuPictures()
{
    auto Form = MakeForm();
    TImageList *List = TdmMain::Current()->ImageRepository.GetThemedImageList(QByteArrayLiteral("Menu"),
                                                                              QByteArrayLiteral("MenuXP"));
    QVERIFY(List);
    const QList<std::pair<QIcon, int>> Expected = {
        {Form->tbRun->icon(), 0},
        {Form->tbShortCut->icon(), 1},
        {Form->tbAdd->icon(), 2},
        {Form->tbEdit->icon(), 3},
        {Form->tbRemove->icon(), 4},
        {Form->tbMoveUp->icon(), 5},
        {Form->tbMoveDown->icon(), 6},
        {Form->miQuit->icon(), 7},
        {Form->miAddNewSite->icon(), 2},
        {Form->miModifySite->icon(), 3},
        {Form->miRemoveSite->icon(), 4},
        {Form->miOpen->icon(), 0},
        {Form->Run1->icon(), 0},
        {Form->miShortcut_StartMenu->icon(), 8},
        {Form->miShortcut_Desktop->icon(), 9},
        {Form->miShortcut_QuickLaunch->icon(), 10},
        {Form->miShortcut_WindowsStart->icon(), 11},
        {Form->miSitePopupRun->icon(), 0},
        {Form->Shortcut1->menuAction()->icon(), 1},
        {Form->Startmenu1->icon(), 8},
        {Form->Desktop1->icon(), 9},
        {Form->Quicklaunch1->icon(), 10},
        {Form->Windowsstartup1->icon(), 11},
        {Form->miClosewindow->icon(), 7},
    };
    for (qsizetype I = 0; I < Expected.size(); ++I) {
        QVERIFY2(!Expected[I].first.isNull(), qPrintable(QString::number(I)));
        QCOMPARE(Picture(Expected[I].first), Picture(List->Icon(Expected[I].second)));
    }
    QVERIFY(Form->miOptions->icon().isNull());
    QVERIFY(Form->miOpenDefault->icon().isNull());
}

void TestMainIcons::siteDialogPicturesAndDownload()
{
    auto Form = MakeForm();
    TTestServer Server;
    Server.Replies["/favicon.ico"] = HttpReply("200 OK", BuiltinIcon(24));
    TfIconPreviewDlg::ModalRunnerForTests = [](TfIconPreviewDlg &Dialog) {
        Dialog.Button1Click();
        return Dialog.result();
    };

    TfSiteDlg Dialog(Form.get());
    for (int I = 0; I < Form->IconNames.size(); ++I)
        Dialog.AddIconItem(Form->IconNames[I], Form->SiteImage(I));
    Dialog.PrepareNew("Local Site", QByteArray());
    Dialog.SetOnGetIconFolder([&Form](TfSiteDlg *, QString &Folder) { Form->GetIconFolder(Folder); });
    Dialog.SetOnIconAdded([&Form](TfSiteDlg *, const QString &Name) { Form->IconAdded(Name); });
    for (QLabel *Image : {Dialog.imgStart, Dialog.imgDesktop, Dialog.imgQuick, Dialog.imgStartup})
        QVERIFY(!Image->pixmap().isNull());

    Dialog.edURL->setText(Server.Url("/index.html"));
    Dialog.sbDownloadIcon->click();
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
    QCOMPARE(Form->IconNames, QStringList{QStringLiteral("Local Site")});
    QCOMPARE(TdmMain::Current()->ilSites.Count(), 1);
    QCOMPARE(Dialog.cmbIcon->count(), 1);
    QCOMPARE(Dialog.cmbIcon->currentText(), QStringLiteral("Local Site"));
    QVERIFY(QFileInfo::exists(FFolder->path() + QStringLiteral("/Icons/Local Site.ico")));
    QCOMPARE(Picture(Form->SiteImage(0)), Picture(DecodeIconFile(BuiltinIcon(24))));
}

QTEST_MAIN(TestMainIcons)
#include "tst_mainicons.moc"
