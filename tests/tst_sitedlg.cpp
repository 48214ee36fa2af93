#include "SiteDlg.h"
#include "platform/MessageBoxes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

class TestSiteDlg : public QObject
{
    Q_OBJECT

private slots:
    void init() { MessageBoxTest::Enable(); }
    void cleanup() { MessageBoxTest::Enable(false); }

    void validation_data();
    void validation();
    void newSiteStartsWithDefaults();
    void hiddenFieldsAndUntouchedBytesCarriedThrough();
    void monitorTurnedOn();
    void editedFieldsStoredAsTyped();
    void iconSelection_data();
    void iconSelection();
    void longTextsNeverCut();
    void twoModes();
    void clickOnSurfaceActsAsOk();
    void downloadedIconIsSelectedAndReported();
};

void TestSiteDlg::validation_data()
{
    QTest::addColumn<QString>("Title");
    QTest::addColumn<QString>("URL");
    QTest::addColumn<QString>("Message"); // empty: accepted

    QTest::newRow("both empty: one box, two lines, title first")
        << QString() << QString()
        << QStringLiteral("Title can not be empty.\r\nSite URL must be present.\r\n");
    QTest::newRow("empty title") << QString() << QStringLiteral("http://a")
                                 << QStringLiteral("Title can not be empty.\r\n");
    QTest::newRow("empty URL") << QStringLiteral("A") << QString()
                               << QStringLiteral("Site URL must be present.\r\n");
    QTest::newRow("blanks-only title accepted")
        << QStringLiteral("   ") << QStringLiteral("http://") << QString();
    QTest::newRow("untrimmed text accepted")
        << QStringLiteral(" Mail ") << QStringLiteral(" HTTP://X/ ") << QString();
}

void TestSiteDlg::validation()
{
    QFETCH(QString, Title);
    QFETCH(QString, URL);
    QFETCH(QString, Message);

    TfSiteDlg Dialog(nullptr);
    Dialog.PrepareNew(QByteArray(), QByteArray());
    Dialog.edTitle->setText(Title);
    Dialog.edURL->setText(URL);
    Dialog.btnOk->click();

    const QList<MessageBoxTest::TRecord> Boxes = MessageBoxTest::TakeRecords();
    if (Message.isEmpty()) {
        QVERIFY(Boxes.isEmpty());
        QCOMPARE(Dialog.result(), int(QDialog::Accepted));
        QCOMPARE(Dialog.EditedSite().Title(), Title.toUtf8());
        QCOMPARE(Dialog.EditedSite().URL(), URL.toUtf8());
    } else {
        QCOMPARE(Boxes.size(), 1);
        QCOMPARE(Boxes[0].Kind, TMsgKind::Error);
        QCOMPARE(Boxes[0].Buttons, TMsgButtons::Ok);
        QCOMPARE(Boxes[0].Text, Message);
        QCOMPARE(Dialog.result(), 0);
        // The entries stay as they were, and nothing was stored.
        QCOMPARE(Dialog.edTitle->text(), Title);
        QCOMPARE(Dialog.edURL->text(), URL);
        QCOMPARE(Dialog.EditedSite().Title(), QByteArray());
    }
}

void TestSiteDlg::newSiteStartsWithDefaults()
{
    TfSiteDlg Dialog(nullptr);
    Dialog.PrepareNew(QByteArray(), QByteArray());
    QCOMPARE(Dialog.windowTitle(), QStringLiteral("Kestrune"));
    QCOMPARE(Dialog.edTitle->text(), QString());
    QCOMPARE(Dialog.edURL->text(), QStringLiteral("http://"));
    QVERIFY(Dialog.rbKestruneBrowser->isChecked());
    QVERIFY(!Dialog.cbRunAsTrayIcon->isChecked());
    for (QCheckBox *Box :
         {Dialog.cbStartMenu, Dialog.cbDesktopIcon, Dialog.cbQuickLaunch, Dialog.cbWindowsStartup})
        QVERIFY(!Box->isChecked());

    // A link's title and URL fill the fields; "http://" passes the check and is kept as typed.
    TfSiteDlg FromLink(nullptr);
    FromLink.PrepareNew(QByteArrayLiteral("Caf\xc3\xa9"), QByteArray());
    QCOMPARE(FromLink.edTitle->text(), QStringLiteral("Caf\u00e9"));
    FromLink.btnOk->click();
    QCOMPARE(FromLink.EditedSite().Title(), QByteArrayLiteral("Caf\xc3\xa9"));
    QCOMPARE(FromLink.EditedSite().URL(), QByteArrayLiteral("http://"));
    QCOMPARE(FromLink.EditedSite().MinimizeToTaskbar(), quint8(1));
    QCOMPARE(FromLink.EditedSite().BrowserChoice(), quint8(1));
}

void TestSiteDlg::hiddenFieldsAndUntouchedBytesCarriedThrough()
{
    // Bytes that are not UTF-8 (a file written elsewhere) and values the dialog never offers.
    TKestrunSite Site;
    Site.SetTitle(QByteArrayLiteral("Old\xff title"));
    Site.SetURL(QByteArrayLiteral("http://x/\xfe"));
    Site.SetUserName(QByteArrayLiteral("bob"));
    Site.SetPassword(QByteArray("p\xff\x00w", 4));
    Site.SetMonitorChanges(1);
    Site.SetMonitorInterval(7);
    Site.SetMinimizeToTaskbar(0);

    TfSiteDlg Dialog(nullptr);
    Dialog.PrepareEdit(Site);
    QVERIFY(Dialog.cbRunAsTrayIcon->isChecked());
    Dialog.btnOk->click();
    QCOMPARE(Dialog.result(), int(QDialog::Accepted));
    const TKestrunSite &Edited = Dialog.EditedSite();
    QCOMPARE(Edited.Title(), Site.Title());
    QCOMPARE(Edited.URL(), Site.URL());
    QCOMPARE(Edited.UserName(), Site.UserName());
    QCOMPARE(Edited.Password(), Site.Password());
    QCOMPARE(Edited.MonitorChanges(), quint8(1));
    QCOMPARE(Edited.MonitorInterval(), quint8(7));
    QCOMPARE(Edited.MinimizeToTaskbar(), quint8(0));

    Site.SetMonitorInterval(2);
    Site.SetBrowserChoice(2); // only a file gives it: it opens the system browser, and is shown so
    TfSiteDlg Second(nullptr);
    Second.PrepareEdit(Site);
    QVERIFY(Second.rbSystemBrowser->isChecked());
    Second.btnOk->click();
    QCOMPARE(Second.EditedSite().MonitorInterval(), quint8(2));
    QCOMPARE(Second.EditedSite().BrowserChoice(), quint8(0));
}

// The monitor's controls: the box turns the interval list on and off, and both are stored.
void TestSiteDlg::monitorTurnedOn()
{
    TKestrunSite Site;
    Site.SetTitle("News");
    Site.SetMonitorInterval(2);
    TfSiteDlg Dialog(nullptr);
    Dialog.PrepareEdit(Site);
    QVERIFY(Dialog.cbMonitorChanges->isEnabled());
    QVERIFY(!Dialog.cbMonitorChanges->isChecked());
    QVERIFY(!Dialog.cmbMonitorTime->isEnabled());
    QCOMPARE(Dialog.cmbMonitorTime->currentText(), QStringLiteral("each 5 minutes"));
    Dialog.cbMonitorChanges->click();
    QVERIFY(Dialog.cmbMonitorTime->isEnabled());
    Dialog.cmbMonitorTime->setCurrentIndex(0);
    QCOMPARE(Dialog.cmbMonitorTime->currentText(), QStringLiteral("once per minute"));
    Dialog.btnOk->click();
    QCOMPARE(Dialog.result(), int(QDialog::Accepted));
    QCOMPARE(Dialog.EditedSite().MonitorChanges(), quint8(1));
    QCOMPARE(Dialog.EditedSite().MonitorInterval(), quint8(0));

    TfSiteDlg Off(nullptr);
    Off.PrepareEdit(Dialog.EditedSite());
    QVERIFY(Off.cbMonitorChanges->isChecked());
    Off.cbMonitorChanges->click();
    QVERIFY(!Off.cmbMonitorTime->isEnabled());
    Off.btnOk->click();
    QCOMPARE(Off.EditedSite().MonitorChanges(), quint8(0));
    QCOMPARE(Off.EditedSite().MonitorInterval(), quint8(0));
}

void TestSiteDlg::editedFieldsStoredAsTyped()
{
    TKestrunSite Site;
    Site.SetTitle(QByteArrayLiteral("Old\xff"));
    TfSiteDlg Dialog(nullptr);
    Dialog.PrepareEdit(Site);
    Dialog.edTitle->setText(QStringLiteral("  New \u00e9 "));
    Dialog.edURL->setText(QStringLiteral("HTTPS://Example.org/A"));
    Dialog.rbSystemBrowser->setChecked(true);
    Dialog.cbRunAsTrayIcon->setChecked(true);
    Dialog.btnOk->click();
    QCOMPARE(Dialog.EditedSite().Title(), QByteArrayLiteral("  New \xc3\xa9 "));
    QCOMPARE(Dialog.EditedSite().URL(), QByteArrayLiteral("HTTPS://Example.org/A"));
    QCOMPARE(Dialog.EditedSite().BrowserChoice(), quint8(0));
    QCOMPARE(Dialog.EditedSite().MinimizeToTaskbar(), quint8(0));
}

void TestSiteDlg::longTextsNeverCut()
{
    // Longer than the 32,767 characters a line edit takes by default.
    const QByteArray LongURL = "http://127.0.0.1/" + QByteArray(40000, 'u');
    TKestrunSite Site;
    Site.SetTitle("Long");
    Site.SetURL(LongURL);
    TfSiteDlg Dialog(nullptr);
    Dialog.PrepareEdit(Site);
    Dialog.edTitle->setText(QString(40000, QLatin1Char('t')));
    Dialog.btnOk->click();
    QCOMPARE(Dialog.EditedSite().URL(), LongURL);
    QCOMPARE(Dialog.EditedSite().Title(), QByteArray(40000, 't'));
}

void TestSiteDlg::iconSelection_data()
{
    QTest::addColumn<QStringList>("Names");
    QTest::addColumn<bool>("Edit");
    QTest::addColumn<QByteArray>("SiteIcon");
    QTest::addColumn<int>("Selected");
    QTest::addColumn<QByteArray>("Stored");

    const QStringList Names = {QStringLiteral("mail"), QStringLiteral("WEB"), QStringLiteral("web")};
    QTest::newRow("new site preselects web in any case")
        << Names << false << QByteArray() << 1 << QByteArray("WEB");
    QTest::newRow("new site without a web icon selects none")
        << QStringList{QStringLiteral("mail")} << false << QByteArray() << -1 << QByteArray();
    QTest::newRow("new site, no icons at all")
        << QStringList() << false << QByteArray() << -1 << QByteArray();
    QTest::newRow("edit finds its icon ignoring case")
        << Names << true << QByteArray("MAIL") << 0 << QByteArray("mail");
    QTest::newRow("edit of a site whose icon is gone stores none")
        << Names << true << QByteArray("deleted") << -1 << QByteArray();
}

void TestSiteDlg::iconSelection()
{
    QFETCH(QStringList, Names);
    QFETCH(bool, Edit);
    QFETCH(QByteArray, SiteIcon);
    QFETCH(int, Selected);
    QFETCH(QByteArray, Stored);

    TfSiteDlg Dialog(nullptr);
    for (const QString &Name : Names)
        Dialog.AddIconItem(Name);
    TKestrunSite Site;
    Site.SetTitle("T");
    Site.SetIconName(SiteIcon);
    if (Edit)
        Dialog.PrepareEdit(Site);
    else
        Dialog.PrepareNew(QByteArray(), QByteArray());
    QCOMPARE(Dialog.cmbIcon->count(), Names.size());
    QCOMPARE(Dialog.cmbIcon->currentIndex(), Selected);
    Dialog.edTitle->setText(QStringLiteral("T"));
    Dialog.btnOk->click();
    QCOMPARE(Dialog.EditedSite().IconName(), Stored);
}

void TestSiteDlg::twoModes()
{
    TfSiteDlg New(nullptr);
    New.PrepareNew(QByteArray(), QByteArray());
    QCOMPARE(New.height(), 366);
    QVERIFY(!New.gbDefaultShortcuts->isHidden());
    QVERIFY(New.gbDefaultShortcuts->isEnabled());

    TKestrunSite Site;
    TfSiteDlg Edit(nullptr);
    Edit.PrepareEdit(Site);
    QCOMPARE(Edit.width(), New.width());
    QCOMPARE(Edit.height(), 262);
    QVERIFY(Edit.gbDefaultShortcuts->isHidden());
    QVERIFY(!Edit.gbDefaultShortcuts->isEnabled());
    // The buttons keep their distance to the bottom edge, and stay clear of the fields above.
    QCOMPARE(Edit.height() - Edit.btnOk->y(), New.height() - New.btnOk->y());
    QCOMPARE(Edit.btnCancel->y(), Edit.btnOk->y());
    QVERIFY(Edit.btnOk->geometry().bottom() < Edit.height());
    QVERIFY(Edit.cbRunAsTrayIcon->geometry().bottom() < Edit.btnOk->y());
    // The monitor's row, offered in both modes, stays clear of the separator and the shortcuts.
    for (TfSiteDlg *Dialog : {&New, &Edit}) {
        QVERIFY(!Dialog->cbMonitorChanges->isHidden());
        QVERIFY(!Dialog->cmbMonitorTime->isHidden());
        QVERIFY(Dialog->edSelector->geometry().bottom() < Dialog->Bevel1->y());
        QVERIFY(Dialog->gbSecurity->isHidden());
    }
    QVERIFY(New.edSelector->geometry().bottom() < New.gbDefaultShortcuts->y());
    QVERIFY(New.gbDefaultShortcuts->geometry().bottom() < New.btnOk->y());
}

void TestSiteDlg::clickOnSurfaceActsAsOk()
{
    TfSiteDlg Dialog(nullptr);
    Dialog.PrepareNew(QByteArray(), QByteArray());
    Dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Dialog));
    const QPoint Empty(Dialog.width() - 4, 4);
    QVERIFY(!Dialog.childAt(Empty));

    // Empty title: the click validates like "Ok" and the dialog stays open.
    QTest::mouseClick(&Dialog, Qt::LeftButton, {}, Empty);
    QCOMPARE(MessageBoxTest::TakeRecords().size(), 1);
    QVERIFY(Dialog.isVisible());

    Dialog.edTitle->setText(QStringLiteral("A"));
    QTest::mouseClick(&Dialog, Qt::LeftButton, {}, Empty);
    QCOMPARE(Dialog.result(), int(QDialog::Accepted));
    QVERIFY(!Dialog.isVisible());

    // Cancel closes with Cancel and stores nothing.
    TfSiteDlg Other(nullptr);
    Other.PrepareNew(QByteArrayLiteral("X"), QByteArray());
    Other.show();
    Other.btnCancel->click();
    QCOMPARE(Other.result(), int(QDialog::Rejected));
    QCOMPARE(Other.EditedSite().Title(), QByteArray());
}

void TestSiteDlg::downloadedIconIsSelectedAndReported()
{
    TfSiteDlg Dialog(nullptr);
    Dialog.AddIconItem(QStringLiteral("mail"));
    Dialog.PrepareNew(QByteArray(), QByteArray());
    QStringList Reported;
    Dialog.SetOnIconAdded([&Reported](TfSiteDlg *, const QString &Name) { Reported.append(Name); });
    Dialog.SetOnGetIconFolder([](TfSiteDlg *, QString &Folder) { Folder = QStringLiteral("/data/Icons/"); });
    QCOMPARE(Dialog.IconFolder(), QStringLiteral("/data/Icons/"));

    Dialog.IconDownloaded(QStringLiteral("example"), QIcon());
    QCOMPARE(Reported, QStringList{QStringLiteral("example")});
    QCOMPARE(Dialog.cmbIcon->currentText(), QStringLiteral("example"));
}

QTEST_MAIN(TestSiteDlg)
#include "tst_sitedlg.moc"
