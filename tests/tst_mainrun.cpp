#include "BrowserWin.h"
#include "Main.h"
#include "Settings.h"
#include "TestDesktopServices.h"
#include "platform/MessageBoxes.h"
#include "platform/WebProfile.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

namespace {

constexpr int LoadTimeout = 30000;

// 44 characters; the last blank among the first 30 is at 28.
const QByteArray LongTitle = "Kestrune inbox and drafts o bservations today";

struct TSiteSpec
{
    QByteArray Title;
    QByteArray URL;
    quint8 BrowserChoice = 1;
};

void WriteSites(const QString &Folder, const QList<TSiteSpec> &Specs)
{
    TKestrunCollection Sites;
    for (const TSiteSpec &Spec : Specs) {
        auto Site = std::make_unique<TKestrunSite>();
        Site->SetTitle(Spec.Title);
        Site->SetURL(Spec.URL);
        Site->SetBrowserChoice(Spec.BrowserChoice);
        Site->SetWindowState(0);
        Site->SetWindowRect({10, 10, 410, 310});
        Sites.Add(std::move(Site));
    }
    QVERIFY(SaveSites(Folder, Sites));
}

QByteArray PageWithTitle(const QByteArray &Title)
{
    return "data:text/html," +
           QByteArray("<html><head><title>" + Title + "</title></head><body>x</body></html>")
               .toPercentEncoding("<>/=:,");
}

// The open-window section of the tray menu, top to bottom.
QList<QAction *> OpenWindowEntries(const TfMainForm &Form)
{
    const QList<QAction *> Entries = Form.pmTray->actions();
    return Entries.mid(Entries.indexOf(Form.miTrayOpenedSitesDelimiter) + 1,
                       Entries.indexOf(Form.N4) - Entries.indexOf(Form.miTrayOpenedSitesDelimiter) - 1);
}

QStringList Captions(const QList<QAction *> &Entries)
{
    QStringList Result;
    for (const QAction *Entry : Entries)
        Result << Entry->text();
    return Result;
}

TfBrowserWin *WindowOf(const TOpenBrowser &Record)
{
    return qobject_cast<TfBrowserWin *>(Record.Window.data());
}

} // namespace

class TestMainRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void runTwiceThenCloseWindow();
    void systemBrowserRoads();
    void siteAddress_data();
    void siteAddress();
    void trayEntriesOpenTheirOwnSiteAndWindow();
    void asRootWithoutSandboxSiteWindowsAreRefused();

private:
    void Select(int Row)
    {
        FForm->lvSites->setCurrentItem(FForm->lvSites->topLevelItem(Row));
        QVERIFY(FForm->SelectedSite() == FForm->Sites[Row]);
    }

    TTestDesktopServices FDesktop;
    TWebProfile FProfile;
    std::unique_ptr<QTemporaryDir> FFolder;
    std::unique_ptr<TfMainForm> FForm;
};

void TestMainRun::initTestCase()
{
    // The window's start-up would otherwise ask the product's server for a newer version.
    QSettings Store(SettingsOrganization, SettingsApplication);
    Store.setValue(LastUpdateCheckKey, EncodeLastUpdateCheck(QDateTime::currentDateTime()));
    MessageBoxTest::Enable();
}

void TestMainRun::init()
{
    FFolder = std::make_unique<QTemporaryDir>();
    QVERIFY(FFolder->isValid());
    WriteSites(FFolder->path(), {{"Alpha", PageWithTitle(LongTitle)},
                                 {"Beta", "http://127.0.0.1:1/beta", 0},
                                 {"ALPHA", PageWithTitle("Second alpha")}});
    FForm = std::make_unique<TfMainForm>(FDesktop, FProfile, FFolder->path(), QList<QByteArray>());
    FDesktop.TrayAvailable = false;
    QCOMPARE(FForm->Sites.Count(), 3);
    FDesktop.TakeOpened();
}

void TestMainRun::cleanup()
{
    FForm.reset();
    FFolder.reset();
}

void TestMainRun::runTwiceThenCloseWindow()
{
    Select(0);
    TKestrunSite *Alpha = FForm->Sites[0];
    FForm->tbRunClick();
    FForm->Run1->trigger();
    QCOMPARE(FForm->OpenBrowsers.size(), 2);
    QCOMPARE(FForm->sbStatusPanel0->text(), QStringLiteral("Open browsers: 2"));
    QPointer<TfBrowserWin> Older = WindowOf(FForm->OpenBrowsers[0]);
    QPointer<TfBrowserWin> Newer = WindowOf(FForm->OpenBrowsers[1]);
    QVERIFY(Older && Newer && Older != Newer);
    QVERIFY(Older->isVisible() && Newer->isVisible());
    QCOMPARE(OpenWindowEntries(*FForm),
             (QList<QAction *>{FForm->OpenBrowsers[1].MenuItem, FForm->OpenBrowsers[0].MenuItem}));
    QCOMPARE(Captions(OpenWindowEntries(*FForm)),
             (QStringList{QStringLiteral("Alpha"), QStringLiteral("Alpha")}));

    // The page title reaches the entries, shortened at its last break among 30 characters.
    const QString Captioned = QStringLiteral("Alpha (Kestrune inbox and drafts o ...)");
    QTRY_COMPARE_WITH_TIMEOUT(Captions(OpenWindowEntries(*FForm)), (QStringList{Captioned, Captioned}),
                              LoadTimeout);
    QCOMPARE(Newer->windowTitle(), QStringLiteral("Kestrune: ") + QString::fromUtf8(LongTitle));

    FForm->pmSitePopup();
    QVERIFY(FForm->miSitePopupRun->isEnabled());
    QVERIFY(FForm->miClosewindow->isEnabled());

    // "Close window" destroys the newer window directly: its close road does not run.
    FForm->miClosewindow->trigger();
    QVERIFY(!Newer);
    QVERIFY(Older);
    QCOMPARE(FForm->OpenBrowsers.size(), 1);
    QCOMPARE(WindowOf(FForm->OpenBrowsers[0]), Older.data());
    QCOMPARE(FForm->sbStatusPanel0->text(), QStringLiteral("Open browsers: 1"));
    QCOMPARE(OpenWindowEntries(*FForm).size(), 1);
    QCOMPARE(Alpha->IsOpen(), quint8(1));

    // The window's own close removes its record through BrowserClosed.
    Older->move(30, 40);
    Older->Closewindow1()->trigger();
    QCOMPARE(FForm->OpenBrowsers.size(), 0);
    QCOMPARE(FForm->sbStatusPanel0->text(), QStringLiteral("No open browsers"));
    QVERIFY(OpenWindowEntries(*FForm).isEmpty());
    QCOMPARE(Alpha->IsOpen(), quint8(0));
    QCOMPARE(Alpha->WindowRect().Left, 30);
    QTRY_VERIFY(!Older);

    FForm->pmSitePopup();
    QVERIFY(!FForm->miClosewindow->isEnabled());
}

void TestMainRun::systemBrowserRoads()
{
    Select(1); // Beta runs in the system browser
    FForm->tbRunClick();
    QCOMPARE(FDesktop.TakeOpened(), QList<QByteArray>{"http://127.0.0.1:1/beta"});
    QVERIFY(FForm->OpenBrowsers.isEmpty());
    QVERIFY(FForm->sbStatusPanel0->text().isEmpty());

    Select(0); // Alpha has its own window, but "Open in default web browser" forces the system one
    FForm->miOpenDefault->trigger();
    FForm->miRunDefaultBrowser->trigger();
    const QByteArray Alpha = SiteAddress(PageWithTitle(LongTitle)).toEncoded();
    QCOMPARE(FDesktop.TakeOpened(), (QList<QByteArray>{Alpha, Alpha}));
    QVERIFY(FForm->OpenBrowsers.isEmpty());

    // Nothing selected: the commands do nothing.
    FForm->lvSites->setCurrentItem(nullptr);
    FForm->lvSites->clearSelection();
    FForm->tbRunClick();
    FForm->miRunDefaultBrowserClick();
    FForm->miClosewindowClick();
    QVERIFY(FDesktop.TakeOpened().isEmpty());
    QVERIFY(FForm->OpenBrowsers.isEmpty());

    // The user's own addresses go to the desktop whatever their scheme, and a bare host name is
    // taken as http; a page's links to other sites keep to http and https (the browser window's).
    FForm->Sites[1]->SetURL("www.example.org/start");
    Select(1);
    FForm->tbRunClick();
    FForm->Sites[1]->SetURL("mailto:someone@example.org");
    FForm->tbRunClick();
    QCOMPARE(FDesktop.TakeOpened(),
             (QList<QByteArray>{"http://www.example.org/start", "mailto:someone@example.org"}));
}

void TestMainRun::siteAddress_data()
{
    QTest::addColumn<QByteArray>("Given");
    QTest::addColumn<QByteArray>("Opened"); // empty: nothing is opened
    QTest::newRow("https as it is") << QByteArray(" https://example.org/a?b=1 ")
                                    << QByteArray("https://example.org/a?b=1");
    QTest::newRow("no scheme") << QByteArray("www.example.org") << QByteArray("http://www.example.org");
    QTest::newRow("host and port") << QByteArray("localhost:8080/app")
                                   << QByteArray("http://localhost:8080/app");
    QTest::newRow("mail") << QByteArray("mailto:a@example.org") << QByteArray("mailto:a@example.org");
    QTest::newRow("ftp") << QByteArray("ftp://files.example.org/") << QByteArray("ftp://files.example.org/");
    QTest::newRow("empty") << QByteArray("  ") << QByteArray();
}

void TestMainRun::siteAddress()
{
    QFETCH(QByteArray, Given);
    QFETCH(QByteArray, Opened);
    const QUrl Url = SiteAddress(Given);
    QCOMPARE(Url.isValid(), !Opened.isEmpty());
    if (Url.isValid())
        QCOMPARE(Url.toEncoded(), Opened);
}

void TestMainRun::trayEntriesOpenTheirOwnSiteAndWindow()
{
    // "Alpha" and "ALPHA" differ in letter case only: each entry runs its own site.
    TKestrunSite *Second = FForm->Sites[2];
    FForm->TraySiteClick(qobject_cast<QAction *>(Second->MenuItem()));
    QCOMPARE(FForm->OpenBrowsers.size(), 1);
    QCOMPARE(FForm->OpenBrowsers[0].Site, Second);
    FForm->TraySiteClick(qobject_cast<QAction *>(FForm->Sites[0]->MenuItem()));
    QCOMPARE(FForm->OpenBrowsers.size(), 2);
    QCOMPARE(FForm->OpenBrowsers[1].Site, FForm->Sites[0]);

    // Each open-window entry shows its own window.
    TfBrowserWin *First = WindowOf(FForm->OpenBrowsers[0]);
    TfBrowserWin *Later = WindowOf(FForm->OpenBrowsers[1]);
    QTRY_VERIFY_WITH_TIMEOUT(FForm->OpenBrowsers[0].MenuItem->text().startsWith(QStringLiteral("ALPHA (")),
                             LoadTimeout);
    First->hide();
    Later->hide();
    FForm->OpenBrowsers[1].MenuItem->trigger();
    QVERIFY(Later->isVisible());
    QVERIFY(!First->isVisible());
    FForm->OpenBrowsers[0].MenuItem->trigger();
    QVERIFY(First->isVisible());

    // A minimised start of a taskbar site.
    FForm->RunSite(FForm->Sites[0], true);
    QCOMPARE(FForm->OpenBrowsers.size(), 3);
    QVERIFY(WindowOf(FForm->OpenBrowsers[2])->isMinimized());
}

QTEST_MAIN(TestMainRun)
void TestMainRun::asRootWithoutSandboxSiteWindowsAreRefused()
{
    // The engine ends the whole process when asked for a page as root with its sandbox on.
    const QByteArray Sandbox = qgetenv("QTWEBENGINE_DISABLE_SANDBOX");
    qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");
    auto Restore = qScopeGuard([&Sandbox] {
        if (!Sandbox.isNull())
            qputenv("QTWEBENGINE_DISABLE_SANDBOX", Sandbox);
    });
    FDesktop.AsRoot = true;
    auto NotRoot = qScopeGuard([this] { FDesktop.AsRoot = false; });

    FForm->RunSite(FForm->Sites[0], false);
    const QList<MessageBoxTest::TRecord> Boxes = MessageBoxTest::TakeRecords();
    QCOMPARE(Boxes.size(), 1);
    QCOMPARE(Boxes[0].Kind, TMsgKind::Error);
    QVERIFY2(Boxes[0].Text.contains(QStringLiteral("\"Alpha\"")) &&
                 Boxes[0].Text.contains(QStringLiteral("root")) &&
                 Boxes[0].Text.contains(QStringLiteral("as your own user")),
             qPrintable(Boxes[0].Text));
    QVERIFY(FForm->OpenBrowsers.isEmpty());
    QCOMPARE(FForm->Sites[0]->IsOpen(), quint8(0));

    // Once is enough: later tries stay quiet, the program goes on, and sites for the default
    // browser still open.
    FForm->RunSite(FForm->Sites[2], false);
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
    QVERIFY(FForm->OpenBrowsers.isEmpty());
    FForm->RunSite(FForm->Sites[1], false);
    QCOMPARE(FDesktop.TakeOpened(), QList<QByteArray>{"http://127.0.0.1:1/beta"});
    QVERIFY(!FForm->Closed());

    // With the sandbox turned off, as root is fine.
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    FForm->RunSite(FForm->Sites[0], false);
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
    QCOMPARE(FForm->OpenBrowsers.size(), 1);
}

#include "tst_mainrun.moc"
