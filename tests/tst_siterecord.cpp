#include "CRC32unit.h"
#include "KestruneClasses.h"

#include <QtTest>

class TestSiteRecord : public QObject
{
    Q_OBJECT

private slots:
    void freshRecordHasDefaults();
    void setWindowStateMapsMinimisedToMaximised_data();
    void setWindowStateMapsMinimisedToMaximised();
    void assignCopiesEditedFieldsOnly();
    void textsStayExactlyAsEntered();
    void checksum_data();
    void checksum();
};

void TestSiteRecord::freshRecordHasDefaults()
{
    const TKestrunSite Site;
    QCOMPARE(Site.Title(), QByteArray());
    QCOMPARE(Site.URL(), QByteArray("http://"));
    QCOMPARE(Site.IconName(), QByteArray("web"));
    QCOMPARE(Site.UserName(), QByteArray());
    QCOMPARE(Site.Password(), QByteArray());
    QCOMPARE(Site.BrowserChoice(), quint8(1));
    QCOMPARE(Site.MinimizeToTaskbar(), quint8(1));
    QCOMPARE(Site.MonitorChanges(), quint8(0));
    QCOMPARE(Site.MonitorInterval(), quint8(0));
    QCOMPARE(Site.WindowState(), quint8(2));
    QCOMPARE(Site.WindowRect(), TWindowRect());
    QCOMPARE(Site.IsOpen(), quint8(0));
    QVERIFY(!Site.MenuItem());
}

void TestSiteRecord::setWindowStateMapsMinimisedToMaximised_data()
{
    QTest::addColumn<int>("given");
    QTest::addColumn<int>("stored");
    QTest::newRow("normal stays normal") << 0 << 0;
    QTest::newRow("minimised reopens maximised") << 1 << 2;
    QTest::newRow("maximised stays maximised") << 2 << 2;
    QTest::newRow("unknown value kept") << 3 << 3;
    QTest::newRow("top byte kept") << 255 << 255;
}

void TestSiteRecord::setWindowStateMapsMinimisedToMaximised()
{
    QFETCH(int, given);
    QFETCH(int, stored);
    TKestrunSite Site;
    Site.SetWindowState(quint8(given));
    QCOMPARE(int(Site.WindowState()), stored);
}

void TestSiteRecord::assignCopiesEditedFieldsOnly()
{
    QObject TrayEntry;
    TKestrunSite Target;
    Target.SetWindowRect({10, 20, 410, 320});
    Target.SetWindowState(0);
    Target.SetIsOpen(1);
    Target.SetMenuItem(&TrayEntry);

    TKestrunSite Source;
    Source.SetTitle("Mail");
    Source.SetURL("https://mail.example.org/");
    Source.SetUserName("me");
    Source.SetPassword("secret");
    Source.SetBrowserChoice(0);
    Source.SetMonitorChanges(1);
    Source.SetMinimizeToTaskbar(0);
    Source.SetIconName("mail");
    Source.SetMonitorInterval(2);
    Source.SetWindowRect({1, 2, 3, 4});
    Source.SetWindowState(2);

    Target.Assign(Source);
    QCOMPARE(Target.Title(), QByteArray("Mail"));
    QCOMPARE(Target.URL(), QByteArray("https://mail.example.org/"));
    QCOMPARE(Target.UserName(), QByteArray("me"));
    QCOMPARE(Target.Password(), QByteArray("secret"));
    QCOMPARE(Target.BrowserChoice(), quint8(0));
    QCOMPARE(Target.MonitorChanges(), quint8(1));
    QCOMPARE(Target.MinimizeToTaskbar(), quint8(0));
    QCOMPARE(Target.IconName(), QByteArray("mail"));
    QCOMPARE(Target.MonitorInterval(), quint8(2));
    // What the browser window and the tray own stays.
    QCOMPARE(Target.WindowRect(), (TWindowRect{10, 20, 410, 320}));
    QCOMPARE(Target.WindowState(), quint8(0));
    QCOMPARE(Target.IsOpen(), quint8(1));
    QCOMPARE(Target.MenuItem(), &TrayEntry);
}

void TestSiteRecord::textsStayExactlyAsEntered()
{
    TKestrunSite Site;
    const QByteArray Title = "  Grüße  HTTP ";
    Site.SetTitle(Title);
    Site.SetURL(" HTTP://Example.ORG/ ");
    QCOMPARE(Site.Title(), Title);
    QCOMPARE(Site.URL(), QByteArray(" HTTP://Example.ORG/ "));
}

void TestSiteRecord::checksum_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<quint32>("sum");
    QTest::newRow("empty text") << QByteArray() << 0u;
    QTest::newRow("abc (not the standard CRC-32)") << QByteArray("abc") << 3395655888u;
    QTest::newRow("one byte") << QByteArray("a") << 984961486u;
    QTest::newRow("zero bytes keep the register at 0") << QByteArray(4, '\0') << 0u;
    QTest::newRow("a page") << QByteArray("<html><body>Hello</body></html>") << 627787116u;
}

void TestSiteRecord::checksum()
{
    QFETCH(QByteArray, text);
    QFETCH(quint32, sum);
    QCOMPARE(CRC32(text), sum);
}

QTEST_APPLESS_MAIN(TestSiteRecord)
#include "tst_siterecord.moc"
