#include "UpdateCheck.h"

#include <QtTest>

class TestUpdateCheck : public QObject
{
    Q_OBJECT

private slots:
    void ownVersion();
    void parseVersion_data();
    void parseVersion();
    void reply_data();
    void reply();
};

void TestUpdateCheck::ownVersion()
{
    QCOMPARE(OwnVersionNumber(), quint32(0x01000100));
    QCOMPARE(VersionText(true), QByteArray("1.0"));
    QCOMPARE(VersionText(false), QByteArray("1.0.1.0"));
    QCOMPARE(UpdateRequestUrl("http://127.0.0.1:8080"),
             QByteArray("http://127.0.0.1:8080/update.php?myversion=1.0.1.0"));
    QVERIFY(KestruneHomePage().startsWith("https://"));
    QVERIFY(UpdateRequestUrl(KestruneServer).startsWith(KestruneHomePage() + "update.php?"));
}

void TestUpdateCheck::parseVersion_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<quint32>("number");

    QTest::newRow("own version") << QByteArray("1.0.1.0") << quint32(0x01000100);
    QTest::newRow("largest") << QByteArray("255.255.255.255") << quint32(0xFFFFFFFF);
    QTest::newRow("three parts") << QByteArray("1.0.2") << quint32(0);
    QTest::newRow("empty build") << QByteArray("1.0.2.") << quint32(0);
    QTest::newRow("empty text") << QByteArray() << quint32(0);
    QTest::newRow("part above 255 keeps its low byte") << QByteArray("1.0.257.0") << quint32(0x01000100);
    QTest::newRow("negative part") << QByteArray("-1.0.0.0") << quint32(0xFF000000);
    QTest::newRow("letters count as 0") << QByteArray("1.x.2.0") << quint32(0x01000200);
    QTest::newRow("five parts: the rest is no number") << QByteArray("1.2.3.4.5") << quint32(0x01020300);
    QTest::newRow("part beyond 32 bits counts as 0")
        << QByteArray("1.0.99999999999.7") << quint32(0x01000007);
    QTest::newRow("blank before a part") << QByteArray("1. 2.3.4") << quint32(0x01000304);
    QTest::newRow("trailing CR") << QByteArray("1.0.2.0\r") << quint32(0x01000200);
}

void TestUpdateCheck::parseVersion()
{
    QFETCH(QByteArray, text);
    QFETCH(quint32, number);
    QCOMPARE(ParseVersionNumber(text), number);
}

void TestUpdateCheck::reply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("page"); // empty: nothing announced

    const QByteArray Page = "http://127.0.0.1/download";
    QTest::newRow("newer build of a later release")
        << QByteArray("VERSION=1.0.2.0\r\nURL=" + Page + "\r\n") << Page;
    QTest::newRow("same version") << QByteArray("VERSION=1.0.1.0\r\nURL=" + Page) << QByteArray();
    QTest::newRow("older version") << QByteArray("VERSION=1.0.0.9\r\nURL=" + Page) << QByteArray();
    QTest::newRow("three parts") << QByteArray("VERSION=1.0.2\r\nURL=" + Page) << QByteArray();
    QTest::newRow("empty build") << QByteArray("VERSION=1.0.2.\r\nURL=" + Page) << QByteArray();
    QTest::newRow("part above 255") << QByteArray("VERSION=1.0.257.0\r\nURL=" + Page) << QByteArray();
    QTest::newRow("lower-case names") << QByteArray("version=2.0.0.0\nurl=" + Page) << Page;
    QTest::newRow("blank before the equals sign")
        << QByteArray("VERSION =2.0.0.0\nURL=" + Page) << QByteArray();
    QTest::newRow("CR line ends") << QByteArray("VERSION=2.0.0.0\rURL=" + Page + "\r") << Page;
    QTest::newRow("LF line ends") << QByteArray("x\nVERSION=2.0.0.0\nURL=" + Page + "\n") << Page;
    QTest::newRow("URL before VERSION, other lines between")
        << QByteArray("URL=" + Page + "\r\n<html>\r\n\r\nVERSION=2.0.0.0") << Page;
    QTest::newRow("first VERSION counts")
        << QByteArray("VERSION=1.0.0.0\nVERSION=2.0.0.0\nURL=" + Page) << QByteArray();
    QTest::newRow("first URL counts")
        << QByteArray("VERSION=2.0.0.0\nURL=" + Page + "\nURL=http://other/") << Page;
    QTest::newRow("value keeps later equals signs and blanks")
        << QByteArray("VERSION=2.0.0.0\nURL= http://127.0.0.1/?a=b ")
        << QByteArray(" http://127.0.0.1/?a=b ");
    QTest::newRow("no URL") << QByteArray("VERSION=2.0.0.0\r\n") << QByteArray();
    QTest::newRow("empty URL") << QByteArray("VERSION=2.0.0.0\r\nURL=\r\n") << QByteArray();
    QTest::newRow("empty VERSION") << QByteArray("VERSION=\r\nURL=" + Page) << QByteArray();
    QTest::newRow("empty reply") << QByteArray() << QByteArray();
    QTest::newRow("error page") << QByteArray("<html><body>404 Not Found</body></html>") << QByteArray();
}

void TestUpdateCheck::reply()
{
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, page);

    const std::optional<QByteArray> Offered = NewVersionPage(reply, OwnVersionNumber());
    QCOMPARE(Offered.value_or(QByteArray()), page);
    QCOMPARE(Offered.has_value(), !page.isEmpty());
}

QTEST_GUILESS_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
