#include "Main.h"
#include "Settings.h"
#include "SiteDlg.h"
#include "TestDesktopServices.h"
#include "platform/MessageBoxes.h"
#include "platform/WebProfile.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>

namespace {

struct TSiteSpec
{
    QByteArray Title;
    // Not a web address: a site that reaches the system browser in a test opens nothing.
    QByteArray URL = "about:blank";
};

void WriteSites(const QString &Folder, const QList<TSiteSpec> &Specs)
{
    TKestrunCollection Sites;
    for (const TSiteSpec &Spec : Specs) {
        auto Site = std::make_unique<TKestrunSite>();
        Site->SetTitle(Spec.Title);
        Site->SetURL(Spec.URL);
        Site->SetBrowserChoice(0);
        Sites.Add(std::move(Site));
    }
    QVERIFY(SaveSites(Folder, Sites));
}

QList<QByteArray> SavedTitles(const QString &Folder)
{
    TKestrunCollection Sites;
    LoadSites(Folder, Sites);
    QList<QByteArray> Titles;
    for (int i = 0; i < Sites.Count(); ++i)
        Titles.append(Sites[i]->Title());
    return Titles;
}

QStringList RowCaptions(const TfMainForm &Form)
{
    QStringList Captions;
    for (int i = 0; i < Form.lvSites->topLevelItemCount(); ++i)
        Captions.append(Form.lvSites->topLevelItem(i)->text(0));
    return Captions;
}

// The captions between two entries of pmTray.
QStringList TrayCaptions(const TfMainForm &Form, QAction *After, QAction *Before)
{
    const QList<QAction *> Entries = Form.pmTray->actions();
    const qsizetype From = Entries.indexOf(After);
    const qsizetype To = Entries.indexOf(Before);
    QStringList Captions;
    for (qsizetype i = From + 1; i < To; ++i)
        Captions.append(Entries[i]->text());
    return Captions;
}

QStringList TraySites(const TfMainForm &Form)
{
    return TrayCaptions(Form, Form.miTraySitesDelimiter, Form.miTrayOpenedSitesDelimiter);
}

QStringList Texts(const QList<MessageBoxTest::TRecord> &Records)
{
    QStringList Result;
    for (const MessageBoxTest::TRecord &Record : Records)
        Result.append(Record.Text);
    return Result;
}

// The eight commands that need a selected site.
QList<bool> SelectionCommands(const TfMainForm &Form)
{
    return {Form.tbRun->isEnabled(),      Form.miOpen->isEnabled(),      Form.miOpenDefault->isEnabled(),
            Form.tbShortCut->isEnabled(), Form.tbEdit->isEnabled(),      Form.miModifySite->isEnabled(),
            Form.tbRemove->isEnabled(),   Form.miRemoveSite->isEnabled()};
}

const QList<bool> AllOn(8, true);
const QList<bool> AllOff(8, false);

// Answers the next site dialogs: fills the title and URL (unless empty) and presses the button.
struct TDialogScript
{
    struct TStep
    {
        TStep(QString Title, QString URL, bool Ok, std::function<void(TfSiteDlg &)> More = {})
            : Title(std::move(Title)), URL(std::move(URL)), Ok(Ok), More(std::move(More))
        {}
        QString Title;
        QString URL;
        bool Ok = true;
        std::function<void(TfSiteDlg &)> More; // anything else the user changes
    };
    QList<TStep> Steps;
    QStringList SeenTitles;
    QStringList SeenURLs;

    void Install()
    {
        TfSiteDlg::ModalRunnerForTests = [this](TfSiteDlg &Dialog) {
            SeenTitles.append(Dialog.edTitle->text());
            SeenURLs.append(Dialog.edURL->text());
            if (Steps.isEmpty())
                return int(QDialog::Rejected);
            const TStep Step = Steps.takeFirst();
            if (!Step.Title.isNull())
                Dialog.edTitle->setText(Step.Title);
            if (!Step.URL.isNull())
                Dialog.edURL->setText(Step.URL);
            if (Step.More)
                Step.More(Dialog);
            (Step.Ok ? Dialog.btnOk : Dialog.btnCancel)->click();
            return Dialog.result();
        };
    }
};

} // namespace

class TestMainForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void emptyListState();
    void addThroughDialog();
    void editUpdatesRowAndTrayEntry();
    void monitorSettingsFollowTheirSites();
    void reorderSites();
    void removeAsksFirst();
    void removeClosesEveryWindowOfTheSite();
    void findSiteByTitle_data();
    void findSiteByTitle();
    void openLink_data();
    void openLink();
    void longUrlLinkOpensWithoutNotice();
    void missedLinkBoxClosedDoesNothing_data();
    void missedLinkBoxClosedDoesNothing();
    void listKeys_data();
    void listKeys();
    void toolBarHasNoContextMenu();
    void equalTitlesBothListed();
    void closeBoxHides_data();
    void closeBoxHides();
    void runMinimizedHidesAfterStart();
    void quitRoad();
    void sessionSavesThenEnds();
    void restartKeepsSitesInOrder();
    void unusableFileKeptAside_data();
    void unusableFileKeptAside();
    void unopenableFileReportedAndKept();
    void unkeepableFileNeverWrittenOver();
    void saveFailureIsShown();

private:
    std::unique_ptr<TfMainForm> MakeForm(const QList<QByteArray> &Parameters = {});
    TTestDesktopServices FDesktop;
    TWebProfile FProfile;
    std::unique_ptr<QTemporaryDir> FFolder;
    TDialogScript FDialogs;
};

void TestMainForm::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    // The window's start-up would otherwise ask the product's server for a newer version.
    QSettings Store(SettingsOrganization, SettingsApplication);
    Store.setValue(LastUpdateCheckKey, EncodeLastUpdateCheck(QDateTime::currentDateTime()));
}

void TestMainForm::init()
{
    FFolder = std::make_unique<QTemporaryDir>();
    QVERIFY(FFolder->isValid());
    FDialogs = TDialogScript();
    FDialogs.Install();
    MessageBoxTest::Enable();
}

void TestMainForm::cleanup()
{
    TfSiteDlg::ModalRunnerForTests = nullptr;
    MessageBoxTest::Enable(false);
    FFolder.reset();
}

std::unique_ptr<TfMainForm> TestMainForm::MakeForm(const QList<QByteArray> &Parameters)
{
    auto Form = std::make_unique<TfMainForm>(FDesktop, FProfile, FFolder->path(), Parameters);
    FDesktop.TrayAvailable = false;
    return Form;
}

void TestMainForm::emptyListState()
{
    WriteSites(FFolder->path(), {});
    auto Form = MakeForm();
    QCOMPARE(Form->ProgramFolder, FFolder->path() + QLatin1Char('/'));
    QCOMPARE(Form->windowTitle(), QStringLiteral("Kestrune"));
    QCOMPARE(Form->lvSites->topLevelItemCount(), 0);
    QCOMPARE(SelectionCommands(*Form), AllOff);
    QVERIFY(Form->tbAdd->isEnabled());
    QVERIFY(Form->miAddNewSite->isEnabled());
    QVERIFY(Form->miQuit->isEnabled());
    // Offered, and waiting for a selected site.
    QVERIFY(!Form->tbMoveUp->isEnabled());
    const auto Offered = [&Form](QWidget *Button) {
        const QList<QAction *> Actions = Form->tlbMain->actions();
        return std::any_of(Actions.cbegin(), Actions.cend(), [&Form, Button](QAction *Action) {
            return Form->tlbMain->widgetForAction(Action) == Button && Action->isVisible();
        });
    };
    QVERIFY(Offered(Form->tbMoveUp));
    QVERIFY(Offered(Form->tbMoveDown));
    QCOMPARE(Form->lvSites->contextMenuPolicy(), Qt::NoContextMenu);
    QCOMPARE(Form->pmTray->actions(),
             (QList<QAction *>{Form->miShowMainApp, Form->miTraySitesDelimiter,
                               Form->miTrayOpenedSitesDelimiter, Form->N4, Form->miTrayQuit}));
    QCOMPARE(Form->pmTray->defaultAction(), Form->miShowMainApp);
    QCOMPARE(Form->sbStatusPanel0->text(), QString());
    // The shortcut entries carry their place.
    const QList<QAction *> Places = {Form->miShortcut_StartMenu, Form->miShortcut_Desktop,
                                     Form->miShortcut_QuickLaunch, Form->miShortcut_WindowsStart};
    for (int i = 0; i < Places.size(); ++i)
        QCOMPARE(Places[i]->data().toInt(), i + 1);
    QCOMPARE(Form->Windowsstartup1->data().toInt(), 4);
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
}

void TestMainForm::addThroughDialog()
{
    auto Form = MakeForm();
    FDialogs.Steps = {{QStringLiteral("Mail"), QStringLiteral("https://mail.example/"), true},
                      {QStringLiteral("Ignored"), QString(), false},
                      {QStringLiteral("News & more"), QStringLiteral("https://news.example/"), true}};

    Form->tbAdd->click();
    QCOMPARE(FDialogs.SeenTitles, QStringList{QString()});
    QCOMPARE(FDialogs.SeenURLs, QStringList{QStringLiteral("http://")});
    QCOMPARE(RowCaptions(*Form), QStringList{QStringLiteral("Mail")});
    QCOMPARE(Form->lvSites->topLevelItem(0)->text(1), QStringLiteral("https://mail.example/"));
    QCOMPARE(TraySites(*Form), QStringList{QStringLiteral("Mail")});
    // The new row is selected, and with it the site commands.
    QCOMPARE(Form->SelectedSite(), Form->Sites[0]);
    QCOMPARE(SelectionCommands(*Form), AllOn);
    QCOMPARE(Form->lvSites->contextMenuPolicy(), Qt::CustomContextMenu);
    // Written at once, not only at the end.
    QCOMPARE(SavedTitles(FFolder->path()), QList<QByteArray>{"Mail"});

    Form->miAddNewSite->trigger(); // Cancel: nothing changes
    QCOMPARE(Form->Sites.Count(), 1);

    Form->tbAdd->click();
    QCOMPARE(RowCaptions(*Form), (QStringList{QStringLiteral("Mail"), QStringLiteral("News & more")}));
    QCOMPARE(TraySites(*Form), (QStringList{QStringLiteral("Mail"), QStringLiteral("News && more")}));
    QCOMPARE(MenuCaptionText(TraySites(*Form).last()), QByteArray("News & more"));
    QCOMPARE(Form->Sites[1]->MenuItem(), Form->pmTray->actions().at(3));
    QCOMPARE(SavedTitles(FFolder->path()), (QList<QByteArray>{"Mail", "News & more"}));
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
}

// The monitor's settings live beside sites.dat and follow their sites through the dialog's roads:
// set, renamed, removed, and read back by the next start.
void TestMainForm::monitorSettingsFollowTheirSites()
{
    WriteSites(FFolder->path(), {{"A"}, {"B"}, {"C"}});
    const auto Selectors = [this] {
        QStringList Shown;
        for (const TSiteWatchEntry &Entry : LoadSiteWatches(FFolder->path()))
            Shown << QString::fromUtf8(Entry.Title) + u'=' + Entry.Watch.Selector;
        return Shown;
    };
    {
        auto Form = MakeForm();
        Form->lvSites->topLevelItem(1)->setSelected(true);
        FDialogs.Steps = {{QString(), QString(), true, [](TfSiteDlg &Dialog) {
                               Dialog.cbMonitorChanges->setChecked(true);
                               QVERIFY(!Dialog.edSelector->isEnabled());
                               Dialog.cmbCompare->setCurrentIndex(1);
                               QVERIFY(Dialog.edSelector->isEnabled());
                               Dialog.edSelector->setText(QStringLiteral(" #news "));
                           }}};
        Form->miSiteProperties->trigger();
        QCOMPARE(Selectors(), QStringList{QStringLiteral("B=#news")});
        QCOMPARE(Form->lvSites->topLevelItem(1)->text(2), QStringLiteral("once per minute"));

        // Renamed, the site keeps its settings; another site's removal leaves them with it.
        FDialogs.Steps = {{QStringLiteral("B2"), QString(), true}};
        Form->miSiteProperties->trigger();
        QCOMPARE(Selectors(), QStringList{QStringLiteral("B2=#news")});
        Form->lvSites->topLevelItem(0)->setSelected(true);
        Form->lvSites->topLevelItem(1)->setSelected(false);
        MessageBoxTest::QueueAnswer(TMsgResult::Yes);
        Form->miRemoveSite->trigger();
        QCOMPARE(SavedTitles(FFolder->path()), (QList<QByteArray>{"B2", "C"}));
        QCOMPARE(Selectors(), QStringList{QStringLiteral("B2=#news")});
        QCOMPARE(Form->WatchOf(*Form->Sites[0]).Compare, TCompareMode::VisibleText);
    }
    {
        // The next start reads them back for the same site.
        auto Form = MakeForm();
        QCOMPARE(Form->WatchOf(*Form->Sites[0]).Selector, QStringLiteral("#news"));
        QVERIFY(Form->WatchOf(*Form->Sites[1]).IsDefault());
        // Removed, the site's settings go with it.
        Form->lvSites->topLevelItem(0)->setSelected(true);
        MessageBoxTest::QueueAnswer(TMsgResult::Yes);
        Form->miRemoveSite->trigger();
        QCOMPARE(Selectors(), QStringList());
    }

    // A damaged file is kept aside, said so, and the sites run with the defaults.
    {
        QFile Damaged(FFolder->filePath(SiteWatchFileName));
        QVERIFY(Damaged.open(QIODevice::WriteOnly));
        Damaged.write("{\"sites\": [ cut");
    }
    auto Form = MakeForm();
    QVERIFY(Form->WatchOf(*Form->Sites[0]).IsDefault());
    QVERIFY(QFileInfo::exists(FFolder->filePath(SiteWatchFileName + QStringLiteral(".unreadable"))));
    const QList<MessageBoxTest::TRecord> Boxes = MessageBoxTest::TakeRecords();
    QVERIFY(std::any_of(Boxes.cbegin(), Boxes.cend(), [](const MessageBoxTest::TRecord &Box) {
        return Box.Text.startsWith(QStringLiteral("The monitor settings file"));
    }));
}

// Up and Down, and a drag in the list: the order is the list's, the tray menu's and the file's, at
// once; the monitor's settings stay with their sites.
void TestMainForm::reorderSites()
{
    WriteSites(FFolder->path(), {{"A"}, {"B"}, {"C"}});
    auto Form = MakeForm();
    TSiteWatch Watched;
    Watched.Selector = QStringLiteral("#b");
    Watched.Compare = TCompareMode::VisibleText;
    Form->SetWatch(*Form->Sites[1], Watched);
    const auto Select = [&Form](int Row) {
        Form->lvSites->setCurrentItem(Form->lvSites->topLevelItem(Row));
        Form->lvSites->topLevelItem(Row)->setSelected(true);
    };

    Select(0);
    QVERIFY(!Form->tbMoveUp->isEnabled());
    QVERIFY(Form->tbMoveDown->isEnabled());
    Select(2);
    QVERIFY(Form->tbMoveUp->isEnabled());
    QVERIFY(!Form->tbMoveDown->isEnabled());
    Form->tbMoveUp->click();
    QCOMPARE(RowCaptions(*Form), QStringLiteral("A C B").split(u' '));
    QCOMPARE(TraySites(*Form), QStringLiteral("A C B").split(u' '));
    QCOMPARE(SavedTitles(FFolder->path()), (QList<QByteArray>{"A", "C", "B"}));
    // The moved row stays selected, and can go on moving.
    QCOMPARE(Form->SelectedSite(), Form->Sites[1]);
    Form->tbMoveUp->click();
    Form->tbMoveUp->click(); // at the top: nothing more
    QCOMPARE(SavedTitles(FFolder->path()), (QList<QByteArray>{"C", "A", "B"}));
    QVERIFY(!Form->tbMoveUp->isEnabled());

    // A drag: the view takes the row out and puts it in at the drop.
    QTreeWidgetItem *Dragged = Form->lvSites->takeTopLevelItem(2);
    Form->lvSites->insertTopLevelItem(0, Dragged);
    QTRY_COMPARE(SavedTitles(FFolder->path()), (QList<QByteArray>{"B", "C", "A"}));
    QCOMPARE(RowCaptions(*Form), QStringLiteral("B C A").split(u' '));
    QCOMPARE(TraySites(*Form), QStringLiteral("B C A").split(u' '));
    QCOMPARE(Form->Sites[0]->Title(), QByteArray("B"));
    QCOMPARE(Form->WatchOf(*Form->Sites[0]).Selector, QStringLiteral("#b"));
    QCOMPARE(LoadSiteWatches(FFolder->path()).value(0).Title, QByteArray("B"));
    // Rows never take a drop into themselves.
    QVERIFY(!(Dragged->flags() & Qt::ItemIsDropEnabled));
}

void TestMainForm::editUpdatesRowAndTrayEntry()
{
    WriteSites(FFolder->path(), {{"A"}, {"B"}});
    auto Form = MakeForm();
    TKestrunSite *B = Form->Sites[1];

    // An open browser window of B, with its own tray entry.
    QWidget Window;
    auto *WindowEntry = new QAction(QStringLiteral("B (page)"), Form->pmTray);
    Form->pmTray->insertAction(Form->N4, WindowEntry);
    Form->OpenBrowsers.append({B, &Window, WindowEntry});

    Form->lvSites->topLevelItem(1)->setSelected(true);
    FDialogs.Steps = {{QStringLiteral("B2"), QStringLiteral("http://b2/"), true}};
    Form->miSiteProperties->trigger();
    QCOMPARE(FDialogs.SeenTitles, QStringList{QStringLiteral("B")});
    QCOMPARE(RowCaptions(*Form), (QStringList{QStringLiteral("A"), QStringLiteral("B2")}));
    QCOMPARE(Form->lvSites->topLevelItem(1)->text(1), QStringLiteral("http://b2/"));
    QCOMPARE(TraySites(*Form), (QStringList{QStringLiteral("A"), QStringLiteral("B2")}));
    QCOMPARE(B->Title(), QByteArray("B2"));
    QCOMPARE(WindowEntry->text(), QStringLiteral("B (page)"));
    QCOMPARE(Form->OpenBrowsers.size(), 1);
    QCOMPARE(SavedTitles(FFolder->path()), (QList<QByteArray>{"A", "B2"}));

    // Cancel leaves the site as it was.
    FDialogs.Steps = {{QStringLiteral("B3"), QString(), false}};
    Form->tbEdit->click();
    QCOMPARE(B->Title(), QByteArray("B2"));
    Form->OpenBrowsers.clear();
}

void TestMainForm::removeAsksFirst()
{
    WriteSites(FFolder->path(), {{"A"}, {"Blog \"x\""}, {"C"}});
    auto Form = MakeForm();
    Form->lvSites->topLevelItem(1)->setSelected(true);

    MessageBoxTest::QueueAnswer(TMsgResult::No);
    Form->tbRemove->click();
    const QList<MessageBoxTest::TRecord> Asked = MessageBoxTest::TakeRecords();
    QCOMPARE(Asked.size(), 1);
    QCOMPARE(Asked[0].Kind, TMsgKind::Confirm);
    QCOMPARE(Asked[0].Buttons, TMsgButtons::YesNo);
    QCOMPARE(Asked[0].Text, QStringLiteral("Are You sure to remove site \"Blog \"x\"\"?"));
    QCOMPARE(Form->Sites.Count(), 3);

    MessageBoxTest::QueueAnswer(TMsgResult::Yes);
    Form->miRemoveSite->trigger();
    QCOMPARE(MessageBoxTest::TakeRecords().size(), 1);
    QCOMPARE(RowCaptions(*Form), (QStringList{QStringLiteral("A"), QStringLiteral("C")}));
    QCOMPARE(TraySites(*Form), (QStringList{QStringLiteral("A"), QStringLiteral("C")}));
    QCOMPARE(SavedTitles(FFolder->path()), (QList<QByteArray>{"A", "C"}));
    // Nothing is selected any more: the commands on the selection do nothing.
    if (!Form->SelectedRow()) {
        QCOMPARE(SelectionCommands(*Form), AllOff);
        Form->tbRemoveClick();
        Form->tbEditClick();
        QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
        QCOMPARE(Form->Sites.Count(), 2);
    }
}

void TestMainForm::removeClosesEveryWindowOfTheSite()
{
    WriteSites(FFolder->path(), {{"A"}, {"B"}});
    auto Form = MakeForm();
    TKestrunSite *A = Form->Sites[0];
    TKestrunSite *B = Form->Sites[1];
    // Two windows of A (it was run twice) and one of B.
    QPointer<QWidget> A1 = new QWidget(Form.get(), Qt::Window);
    QPointer<QWidget> A2 = new QWidget(Form.get(), Qt::Window);
    QPointer<QWidget> B1 = new QWidget(Form.get(), Qt::Window);
    QList<QPointer<QAction>> Entries;
    for (const auto &[Site, Window] : {std::pair{A, A1}, std::pair{B, B1}, std::pair{A, A2}}) {
        auto *Entry = new QAction(MenuCaption(Site->Title()), Form->pmTray);
        Form->pmTray->insertAction(Form->N4, Entry);
        Entries.append(Entry);
        Form->OpenBrowsers.append({Site, Window, Entry});
    }

    Form->lvSites->topLevelItem(0)->setSelected(true);
    MessageBoxTest::QueueAnswer(TMsgResult::Yes);
    Form->tbRemove->click();
    // No other question: the windows go without asking.
    QCOMPARE(MessageBoxTest::TakeRecords().size(), 1);
    QVERIFY(A1.isNull());
    QVERIFY(A2.isNull());
    QVERIFY(Entries[0].isNull());
    QVERIFY(Entries[2].isNull());
    QVERIFY(!B1.isNull());
    QCOMPARE(Form->OpenBrowsers.size(), 1);
    QCOMPARE(Form->OpenBrowsers[0].Site, B);
    QCOMPARE(Form->sbStatusPanel0->text(), QStringLiteral("Open browsers: 1"));
    QCOMPARE(TrayCaptions(*Form, Form->miTrayOpenedSitesDelimiter, Form->N4),
             QStringList{QStringLiteral("B")});

    Form->lvSites->topLevelItem(0)->setSelected(true);
    MessageBoxTest::QueueAnswer(TMsgResult::Yes);
    Form->tbRemove->click();
    QVERIFY(B1.isNull());
    QCOMPARE(Form->sbStatusPanel0->text(), QStringLiteral("No open browsers"));
    QCOMPARE(Form->Sites.Count(), 0);
}

void TestMainForm::findSiteByTitle_data()
{
    QTest::addColumn<QByteArray>("Title");
    QTest::addColumn<int>("Found"); // index in Sites, -1 for none

    // Sites: "Mail", "mail" (same title but for case), "\xc3\x89t\xc3\xa9" ("Été"), "News".
    QTest::newRow("exact title") << QByteArray("News") << 3;
    QTest::newRow("ASCII case folded, first of equal titles") << QByteArray("MAIL") << 0;
    QTest::newRow("exact match later in the list still gives the first") << QByteArray("mail") << 0;
    QTest::newRow("non-ASCII case is not folded") << QByteArray("\xc3\xa9t\xc3\xa9") << -1;
    QTest::newRow("non-ASCII exact") << QByteArray("\xc3\x89T\xc3\xa9") << 2;
    QTest::newRow("prefix is no match") << QByteArray("Mai") << -1;
    QTest::newRow("trailing blank is no match") << QByteArray("News ") << -1;
}

void TestMainForm::findSiteByTitle()
{
    QFETCH(QByteArray, Title);
    QFETCH(int, Found);
    WriteSites(FFolder->path(), {{"Mail"}, {"mail"}, {"\xc3\x89t\xc3\xa9"}, {"News"}});
    auto Form = MakeForm();
    QCOMPARE(Form->FindSiteByTitle(Title), Found < 0 ? nullptr : Form->Sites[Found]);
}

void TestMainForm::openLink_data()
{
    QTest::addColumn<QByteArray>("Parameter");
    QTest::addColumn<QList<int>>("Answers"); // TMsgResult of the boxes, in order
    QTest::addColumn<QStringList>("Boxes");
    QTest::addColumn<QStringList>("DialogTitles"); // the title each site dialog opened with
    QTest::addColumn<bool>("DialogOk");
    QTest::addColumn<QList<QByteArray>>("Sites");

    TKestrunSite Link;
    const auto Param = [&Link](const QByteArray &Title, const QByteArray &URL) {
        Link.SetTitle(Title);
        Link.SetURL(URL);
        return EncodeLinkParameter(Link, false);
    };
    const QList<QByteArray> Before = {"Mail"};
    const QString Missed =
        QStringLiteral("You are trying to open a missed link!\nTo recreate site click Yes. Select "
                       "No to open link in default browser.");

    QTest::newRow("empty parameter does nothing")
        << QByteArray() << QList<int>() << QStringList() << QStringList() << false << Before;
    QTest::newRow("a file name is no link")
        << QByteArray("/home/u/sites.dat") << QList<int>()
        << QStringList{QStringLiteral("Can't open link! Please recreate link from Kestrune.")}
        << QStringList() << false << Before;
    QTest::newRow("known title, ASCII case folded")
        << Param("MAIL", "about:blank") << QList<int>() << QStringList() << QStringList() << false << Before;
    QTest::newRow("URL changed only in case")
        << Param("mail", "ABOUT:blank") << QList<int>()
        << QStringList{QStringLiteral(
               "The \"mail\" url has been chaged from link creation time!. Please update the link.")}
        << QStringList() << false << Before;
    QTest::newRow("missing site, Yes, then Cancel in the dialog")
        << Param("Gone", "http://gone/") << QList<int>{int(TMsgResult::Yes)} << QStringList{Missed}
        << QStringList{QStringLiteral("Gone")} << false << Before;
    QTest::newRow("missing site, Yes, then Ok recreates it")
        << Param("Gone", "http://gone/") << QList<int>{int(TMsgResult::Yes)} << QStringList{Missed}
        << QStringList{QStringLiteral("Gone")} << true << QList<QByteArray>{"Mail", "Gone"};
    QTest::newRow("missing site, No opens no dialog")
        << Param("Gone", "about:blank") << QList<int>{int(TMsgResult::No)} << QStringList{Missed}
        << QStringList() << false << Before;
    QTest::newRow("missing site, box closed otherwise")
        << Param("Gone", "about:blank") << QList<int>{int(TMsgResult::Cancel)} << QStringList{Missed}
        << QStringList() << false << Before;
    QTest::newRow("non-ASCII case differs: missing")
        << Param("M\xc3\xa0il", "about:blank") << QList<int>{int(TMsgResult::No)} << QStringList{Missed}
        << QStringList() << false << Before;
}

void TestMainForm::openLink()
{
    QFETCH(QByteArray, Parameter);
    QFETCH(QList<int>, Answers);
    QFETCH(QStringList, Boxes);
    QFETCH(QStringList, DialogTitles);
    QFETCH(bool, DialogOk);
    QFETCH(QList<QByteArray>, Sites);

    WriteSites(FFolder->path(), {{"Mail"}});
    auto Form = MakeForm();
    for (int Answer : Answers)
        MessageBoxTest::QueueAnswer(TMsgResult(Answer));
    FDialogs.Steps = {{QString(), QString(), DialogOk}};
    Form->OpenLink(Parameter);

    const QList<MessageBoxTest::TRecord> Shown = MessageBoxTest::TakeRecords();
    QCOMPARE(Texts(Shown), Boxes);
    if (!Shown.isEmpty()) {
        const TMsgKind Kind = Boxes[0].startsWith(QStringLiteral("Can't"))  ? TMsgKind::Plain
                              : Boxes[0].startsWith(QStringLiteral("The ")) ? TMsgKind::Information
                                                                            : TMsgKind::Error;
        QCOMPARE(Shown[0].Kind, Kind);
        QCOMPARE(Shown[0].Buttons, Kind == TMsgKind::Error ? TMsgButtons::YesNoOrClose : TMsgButtons::Ok);
    }
    QCOMPARE(FDialogs.SeenTitles, DialogTitles);
    if (!DialogTitles.isEmpty())
        QCOMPARE(FDialogs.SeenURLs, QStringList{QStringLiteral("http://gone/")});
    QList<QByteArray> Titles;
    for (int i = 0; i < Form->Sites.Count(); ++i)
        Titles.append(Form->Sites[i]->Title());
    QCOMPARE(Titles, Sites);
    QCOMPARE(TraySites(*Form).size(), Sites.size());
}

void TestMainForm::longUrlLinkOpensWithoutNotice()
{
    // A link made for a URL of 300 bytes carries its first 44: still the same site, no notice.
    const QByteArray Long = "about:blank#" + QByteArray(288, 'x');
    WriteSites(FFolder->path(), {{"Long", Long}});
    auto Form = MakeForm();
    Form->OpenLink(EncodeLinkParameter(*Form->Sites[0], false));
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());

    // A site whose long URL changed since is still noticed.
    TKestrunSite Older;
    Older.SetTitle("Long");
    Older.SetURL("about:blank#" + QByteArray(288, 'y'));
    Form->OpenLink(EncodeLinkParameter(Older, false));
    QCOMPARE(MessageBoxTest::TakeRecords().size(), 1);
}

void TestMainForm::missedLinkBoxClosedDoesNothing_data()
{
    QTest::addColumn<bool>("Escape"); // or the close box
    QTest::newRow("Escape") << true;
    QTest::newRow("close box") << false;
}

void TestMainForm::missedLinkBoxClosedDoesNothing()
{
    QFETCH(bool, Escape);
    WriteSites(FFolder->path(), {{"Mail"}});
    auto Form = MakeForm();
    FDesktop.TakeOpened();
    TKestrunSite Gone;
    Gone.SetTitle("Gone");
    Gone.SetURL("http://127.0.0.1:1/gone");

    // The real box this time: only Yes and No are offered, and closing it answers neither.
    MessageBoxTest::Enable(false);
    QStringList Buttons;
    bool Closed = false;
    QTimer Closer;
    QElapsedTimer Clock;
    Clock.start();
    connect(&Closer, &QTimer::timeout, this, [&] {
        auto *Box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!Box) {
            if (Clock.elapsed() > 10000)
                QApplication::exit(1); // never left waiting: the box did not come
            return;
        }
        Closer.stop();
        for (QAbstractButton *Button : Box->buttons())
            if (Button->isVisibleTo(Box))
                Buttons << Button->text().remove(QLatin1Char('&'));
        if (Escape)
            QTest::keyClick(Box, Qt::Key_Escape);
        else
            Box->close();
        Closed = !Box->isVisible();
    });
    Closer.start(20);
    Form->OpenLink(EncodeLinkParameter(Gone, false));
    MessageBoxTest::Enable();

    QVERIFY(Closed);
    QCOMPARE(Buttons, (QStringList{QStringLiteral("Yes"), QStringLiteral("No")}));
    QVERIFY(FDesktop.TakeOpened().isEmpty());
    QVERIFY(FDialogs.SeenTitles.isEmpty());
    QCOMPARE(Form->Sites.Count(), 1);
}

void TestMainForm::listKeys_data()
{
    QTest::addColumn<int>("Key");
    QTest::addColumn<int>("Modifiers");
    QTest::addColumn<QStringList>("DialogTitles"); // the site dialogs opened, by the title they showed
    QTest::addColumn<int>("Boxes");
    QTest::addColumn<int>("Opened"); // addresses handed to the default browser
    QTest::newRow("Enter runs the site") << int(Qt::Key_Return) << 0 << QStringList() << 0 << 1;
    QTest::newRow("keypad Enter runs the site")
        << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << QStringList() << 0 << 1;
    QTest::newRow("Delete asks to remove") << int(Qt::Key_Delete) << 0 << QStringList() << 1 << 0;
    QTest::newRow("Insert adds") << int(Qt::Key_Insert) << 0 << QStringList{QString()} << 0 << 0;
    QTest::newRow("F2 edits") << int(Qt::Key_F2) << 0 << QStringList{QStringLiteral("B")} << 0 << 0;
    QTest::newRow("Alt+Enter edits") << int(Qt::Key_Return) << int(Qt::AltModifier)
                                     << QStringList{QStringLiteral("B")} << 0 << 0;
}

void TestMainForm::listKeys()
{
    QFETCH(int, Key);
    QFETCH(int, Modifiers);
    QFETCH(QStringList, DialogTitles);
    QFETCH(int, Boxes);
    QFETCH(int, Opened);
    WriteSites(FFolder->path(), {{"A", "http://127.0.0.1:1/a"}, {"B", "http://127.0.0.1:1/b"}});
    auto Form = MakeForm();
    Form->show();
    Form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(Form.get()));
    Form->lvSites->setCurrentItem(Form->lvSites->topLevelItem(1));
    Form->lvSites->setFocus();
    FDesktop.TakeOpened();

    QTest::keyClick(Form->lvSites, Qt::Key(Key), Qt::KeyboardModifiers(Modifiers));
    QCOMPARE(FDialogs.SeenTitles, DialogTitles);
    QCOMPARE(MessageBoxTest::TakeRecords().size(), Boxes);
    const QList<QByteArray> Addresses = FDesktop.TakeOpened();
    QCOMPARE(Addresses.size(), Opened);
    if (Opened)
        QCOMPARE(Addresses[0], QByteArray("http://127.0.0.1:1/b"));
}

void TestMainForm::toolBarHasNoContextMenu()
{
    auto Form = MakeForm();
    Form->show();
    QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
    QContextMenuEvent Event(QContextMenuEvent::Mouse, QPoint(5, 5), Form->tlbMain->mapToGlobal(QPoint(5, 5)));
    QCoreApplication::sendEvent(Form->tlbMain, &Event);
    QCoreApplication::processEvents();
    for (QWidget *Window : QApplication::topLevelWidgets())
        QVERIFY2(!(qobject_cast<QMenu *>(Window) && Window->isVisible()), "a menu came up");
}

void TestMainForm::equalTitlesBothListed()
{
    WriteSites(FFolder->path(), {{"Same"}, {"Same"}});
    auto Form = MakeForm();
    QCOMPARE(RowCaptions(*Form), (QStringList{QStringLiteral("Same"), QStringLiteral("Same")}));
    QCOMPARE(TraySites(*Form), (QStringList{QStringLiteral("Same"), QStringLiteral("Same")}));
    QVERIFY(Form->Sites[0]->MenuItem() != Form->Sites[1]->MenuItem());

    // Removing the second removes that one, with its own entry.
    Form->lvSites->topLevelItem(1)->setSelected(true);
    TKestrunSite *First = Form->Sites[0];
    MessageBoxTest::QueueAnswer(TMsgResult::Yes);
    Form->tbRemove->click();
    QCOMPARE(Form->Sites.Count(), 1);
    QCOMPARE(Form->Sites[0], First);
    QCOMPARE(TraySites(*Form), QStringList{QStringLiteral("Same")});
    QCOMPARE(Form->pmTray->actions().at(2), First->MenuItem());
}

void TestMainForm::closeBoxHides_data()
{
    QTest::addColumn<bool>("Tray");
    QTest::addColumn<bool>("IconClick"); // back by a click on the tray icon, else "Show Kestrune"

    QTest::newRow("desktop with a tray: hidden to it") << true << false;
    QTest::newRow("desktop with a tray: a click on its icon brings it back") << true << true;
    QTest::newRow("no tray: minimised, never unreachable") << false << false;
}

void TestMainForm::closeBoxHides()
{
    QFETCH(bool, Tray);
    QFETCH(bool, IconClick);
    WriteSites(FFolder->path(), {{"Mail"}});
    auto Form = MakeForm();
    FDesktop.TrayAvailable = Tray;
    QSignalSpy Closed(Form.get(), &TfMainForm::FormClosed);
    Form->show();
    QVERIFY(QTest::qWaitForWindowExposed(Form.get()));

    QVERIFY(!Form->close());
    QVERIFY(!Form->Closed());
    QCOMPARE(Closed.count(), 0);
    if (Tray) {
        QVERIFY(!Form->isVisible());
        QVERIFY(Form->TrayIcon->isVisible());
    } else {
        QVERIFY(Form->isVisible());
        QVERIFY(Form->isMinimized());
        QVERIFY(!Form->TrayIcon->isVisible());
    }

    // A hand-over while hidden takes the link road without bringing the window back.
    Form->OpenLink(QByteArray("zz"));
    QCOMPARE(MessageBoxTest::TakeRecords().size(), 1);
    QCOMPARE(Form->isVisible(), !Tray);

    if (IconClick)
        emit Form->TrayIcon->activated(QSystemTrayIcon::Trigger);
    else
        Form->miShowMainApp->trigger();
    QVERIFY(Form->isVisible());
    QVERIFY(!Form->isMinimized());
    QVERIFY(!Form->TrayIcon->isVisible());
    QVERIFY(!Form->Closed());
}

void TestMainForm::runMinimizedHidesAfterStart()
{
    QSettings Store(SettingsOrganization, SettingsApplication);
    Store.setValue(RunMinimizedKey, 1);
    Store.sync();
    auto Form = MakeForm();
    Store.remove(RunMinimizedKey);
    QVERIFY(Form->RunMinimized);
    FDesktop.TrayAvailable = true;
    Form->show();
    QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
    QTRY_VERIFY_WITH_TIMEOUT(!Form->isVisible(), 10000);
    QVERIFY(Form->TrayIcon->isVisible());
    QVERIFY(!Form->Closed());
}

void TestMainForm::quitRoad()
{
    WriteSites(FFolder->path(), {{"A"}});
    auto Form = MakeForm();
    QSignalSpy Closed(Form.get(), &TfMainForm::FormClosed);
    TKestrunSite *A = Form->Sites[0];
    const QString Question = QStringLiteral("There are opened browsers. Are You sure to quit?");

    QWidget Window;
    Form->OpenBrowsers.append({A, &Window, nullptr});
    A->SetIsOpen(1);
    MessageBoxTest::QueueAnswer(TMsgResult::No);
    Form->miQuit->trigger();
    QCOMPARE(Texts(MessageBoxTest::TakeRecords()), QStringList{Question});
    QVERIFY(!Form->Closed());
    // A "No" is no reason to turn the next close box into a quit.
    FDesktop.TrayAvailable = true;
    Form->close();
    QVERIFY(!Form->Closed());

    MessageBoxTest::QueueAnswer(TMsgResult::Yes);
    Form->miTrayQuit->trigger();
    QCOMPARE(Texts(MessageBoxTest::TakeRecords()), QStringList{Question});
    QVERIFY(Form->Closed());
    QCOMPARE(Closed.count(), 1);
    Form->OpenBrowsers.clear();

    auto Quiet = MakeForm();
    QWidget Other;
    Quiet->OpenBrowsers.append({Quiet->Sites[0], &Other, nullptr});
    Quiet->Sites[0]->SetIsOpen(1);
    Quiet->QuitWithoutQuestions();
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
    QVERIFY(Quiet->Closed());
    Quiet->OpenBrowsers.clear();

    // A record whose window has closed (its site no longer open) does not count.
    auto NoBrowsers = MakeForm();
    QWidget Closing;
    NoBrowsers->OpenBrowsers.append({NoBrowsers->Sites[0], &Closing, nullptr});
    NoBrowsers->Sites[0]->SetIsOpen(0);
    NoBrowsers->miQuit->trigger();
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
    QVERIFY(NoBrowsers->Closed());
    NoBrowsers->OpenBrowsers.clear();
}

void TestMainForm::sessionSavesThenEnds()
{
    WriteSites(FFolder->path(), {{"A"}});
    auto Form = MakeForm();
    Form->show();
    QSignalSpy Closed(Form.get(), &TfMainForm::FormClosed);
    QWidget Window;
    Form->OpenBrowsers.append({Form->Sites[0], &Window, nullptr});
    Form->Sites[0]->SetIsOpen(1);
    Form->Sites[0]->SetTitle("Changed");

    // Asked to save before a logout the user may still cancel: saved, no question, still running.
    Form->SaveForSession();
    QCOMPARE(SavedTitles(FFolder->path()), QList<QByteArray>{"Changed"});
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
    QVERIFY(!Form->Closed());
    QVERIFY(Form->isVisible());
    QCOMPARE(Closed.count(), 0);

    // The session's end reaches the application as a quit event: saved and ended, even with a site
    // window open and no one to answer the question.
    Form->Sites[0]->SetTitle("Last");
    QEvent Quit(QEvent::Quit);
    QCoreApplication::sendEvent(qApp, &Quit);
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
    QVERIFY(Form->Closed());
    QCOMPARE(Closed.count(), 1);
    QCOMPARE(SavedTitles(FFolder->path()), QList<QByteArray>{"Last"});
    Form->OpenBrowsers.clear();
}

void TestMainForm::restartKeepsSitesInOrder()
{
    {
        auto Form = MakeForm();
        FDialogs.Steps = {{QStringLiteral("One"), QStringLiteral("http://1/"), true},
                          {QStringLiteral("Two"), QStringLiteral("http://2/"), true},
                          {QStringLiteral("Three"), QStringLiteral("http://3/"), true}};
        for (int i = 0; i < 3; ++i)
            Form->tbAdd->click();
        Form->Sites[1]->SetWindowRect({10, 20, 300, 400});
        Form->Sites[1]->SetIsOpen(1);
    }
    auto Form = MakeForm();
    QCOMPARE(RowCaptions(*Form),
             (QStringList{QStringLiteral("One"), QStringLiteral("Two"), QStringLiteral("Three")}));
    QCOMPARE(TraySites(*Form), RowCaptions(*Form));
    QCOMPARE(Form->lvSites->topLevelItem(2)->text(1), QStringLiteral("http://3/"));
    // The end-of-run save wrote what changed after the last command.
    QCOMPARE(Form->Sites[1]->WindowRect(), (TWindowRect{10, 20, 300, 400}));
    QCOMPARE(Form->Sites[1]->IsOpen(), quint8(0));
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
}

void TestMainForm::unusableFileKeptAside_data()
{
    QTest::addColumn<QByteArray>("Content");
    QTest::addColumn<int>("SitesRead");

    QByteArray Whole;
    {
        TKestrunCollection Sites;
        for (const char *Title : {"First", "Second"}) {
            auto Site = std::make_unique<TKestrunSite>();
            Site->SetTitle(Title);
            Sites.Add(std::move(Site));
        }
        QBuffer Buffer(&Whole);
        Buffer.open(QIODevice::WriteOnly);
        QVERIFY(Sites.SaveToStream(Buffer));
    }
    QTest::newRow("another file's header")
        << QByteArray("kestrune. Site collection file.\x01\0\0\0", 35) << 0;
    QTest::newRow("ends inside the second record") << Whole.left(Whole.size() - 5) << 1;
    QTest::newRow("a count of none with sites behind it")
        << Whole.left(31) + QByteArray(4, '\0') + Whole.mid(35) << 0;
}

void TestMainForm::unusableFileKeptAside()
{
    QFETCH(QByteArray, Content);
    QFETCH(int, SitesRead);
    const QString Path = FFolder->filePath(QStringLiteral("sites.dat"));
    {
        QFile File(Path);
        QVERIFY(File.open(QIODevice::WriteOnly));
        File.write(Content);
    }
    QString Kept;
    {
        auto Form = MakeForm();
        QCOMPARE(Form->Sites.Count(), SitesRead);
        const QList<MessageBoxTest::TRecord> Told = MessageBoxTest::TakeRecords();
        QCOMPARE(Told.size(), 1);
        QCOMPARE(Told[0].Kind, TMsgKind::Information);
        const QStringList Names =
            QDir(FFolder->path()).entryList({QStringLiteral("sites.dat.*")}, QDir::Files);
        QCOMPARE(Names.size(), 1);
        Kept = FFolder->filePath(Names[0]);
        QVERIFY2(Told[0].Text.contains(Kept), qPrintable(Told[0].Text));
        QVERIFY(Told[0].Text.contains(Path));
        FDialogs.Steps = {{QStringLiteral("New"), QString(), true}};
        Form->tbAdd->click();
        QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
    }
    QFile KeptFile(Kept);
    QVERIFY(KeptFile.open(QIODevice::ReadOnly));
    QCOMPARE(KeptFile.readAll(), Content);
    QCOMPARE(SavedTitles(FFolder->path()).last(), QByteArray("New"));

    // Told once: the next start finds a good file.
    auto Again = MakeForm();
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
    QCOMPARE(Again->Sites.Count(), SitesRead + 1);
}

void TestMainForm::unopenableFileReportedAndKept()
{
    // Something that cannot be opened as a file stands in the place of sites.dat.
    const QString Path = FFolder->filePath(QStringLiteral("sites.dat"));
    QVERIFY(QDir().mkpath(Path + QStringLiteral("/inside")));
    auto Form = MakeForm();
    const QList<MessageBoxTest::TRecord> Told = MessageBoxTest::TakeRecords();
    QCOMPARE(Told.size(), 2);
    QCOMPARE(Told[0].Kind, TMsgKind::Error);
    QVERIFY2(Told[0].Text.startsWith(QStringLiteral("Cannot open file \"") + Path + QStringLiteral("\". ")),
             qPrintable(Told[0].Text));
    QCOMPARE(Told[1].Kind, TMsgKind::Information);
    QVERIFY(QFileInfo(Path + QStringLiteral(".unreadable/inside")).isDir());

    // The start-up went on: the list works and the next change is saved.
    QCOMPARE(SelectionCommands(*Form), AllOff);
    FDialogs.Steps = {{QStringLiteral("A"), QString(), true}};
    Form->tbAdd->click();
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
    QCOMPARE(SavedTitles(FFolder->path()), QList<QByteArray>{"A"});
}

void TestMainForm::unkeepableFileNeverWrittenOver()
{
    const QString Path = FFolder->filePath(QStringLiteral("sites.dat"));
    const QByteArray Content("Not a site file at all");
    {
        QFile File(Path);
        QVERIFY(File.open(QIODevice::WriteOnly));
        File.write(Content);
    }
    // Every name the file could be kept under is taken.
    QStringList Taken{Path + QStringLiteral(".unreadable")};
    for (int i = 1; i < 1000; ++i)
        Taken.append(Path + QStringLiteral(".unreadable-%1").arg(i));
    for (const QString &Name : Taken) {
        QFile File(Name);
        QVERIFY(File.open(QIODevice::WriteOnly));
    }
    const auto Unchanged = [&Path, &Content] {
        QFile File(Path);
        return File.open(QIODevice::ReadOnly) && File.readAll() == Content;
    };

    auto Form = MakeForm();
    QList<MessageBoxTest::TRecord> Told = MessageBoxTest::TakeRecords();
    QCOMPARE(Told.size(), 1);
    QCOMPARE(Told[0].Kind, TMsgKind::Error);
    QVERIFY(Told[0].Text.contains(Path));
    FDialogs.Steps = {{QStringLiteral("A"), QString(), true}};
    Form->tbAdd->click();
    QCOMPARE(MessageBoxTest::TakeRecords().size(), 1);
    QVERIFY(Unchanged());

    // Once a name is free again, the next save keeps the file aside first and says where.
    QVERIFY(QFile::remove(Taken[7]));
    FDialogs.Steps = {{QStringLiteral("B"), QString(), true}};
    Form->tbAdd->click();
    Told = MessageBoxTest::TakeRecords();
    QCOMPARE(Texts(Told).size(), 1);
    QCOMPARE(Told[0].Kind, TMsgKind::Information);
    QVERIFY(Told[0].Text.contains(Taken[7]));
    QFile Kept(Taken[7]);
    QVERIFY(Kept.open(QIODevice::ReadOnly));
    QCOMPARE(Kept.readAll(), Content);
    QCOMPARE(SavedTitles(FFolder->path()), (QList<QByteArray>{"A", "B"}));
}

void TestMainForm::saveFailureIsShown()
{
    // A data folder that cannot exist (its parent is a file) cannot take the file; the same error
    // comes from a full disk or a folder taken away.
    const QString Blocker = FFolder->filePath(QStringLiteral("file"));
    {
        QFile File(Blocker);
        QVERIFY(File.open(QIODevice::WriteOnly));
    }
    const QString Missing = Blocker + QStringLiteral("/data");
    auto Form = std::make_unique<TfMainForm>(FDesktop, FProfile, Missing, QList<QByteArray>());
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
    FDialogs.Steps = {{QStringLiteral("A"), QString(), true}};
    Form->tbAdd->click();
    const QList<MessageBoxTest::TRecord> Shown = MessageBoxTest::TakeRecords();
    QCOMPARE(Shown.size(), 1);
    QCOMPARE(Shown[0].Kind, TMsgKind::Error);
    QVERIFY2(Shown[0].Text.startsWith(QStringLiteral("Cannot create file \"") + Missing +
                                      QStringLiteral("/sites.dat\". ")),
             qPrintable(Shown[0].Text));
    // The site stays in the list; the end of the run tries again and says so again.
    QCOMPARE(Form->Sites.Count(), 1);
    Form.reset();
    QCOMPARE(MessageBoxTest::TakeRecords().size(), 1);
}

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
