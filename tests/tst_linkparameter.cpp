#include "KestruneClasses.h"

#include <QtTest>

namespace {

QByteArray Encode(const QByteArray &Title, const QByteArray &URL, bool Minimized)
{
    TKestrunSite Site;
    Site.SetTitle(Title);
    Site.SetURL(URL);
    return EncodeLinkParameter(Site, Minimized);
}

} // namespace

class TestLinkParameter : public QObject
{
    Q_OBJECT

private slots:
    void hexDigits();
    void exampleSite();
    void decode_data();
    void decode();
    void carriedURL_data();
    void carriedURL();
    void roundTrip_data();
    void roundTrip();
};

void TestLinkParameter::hexDigits()
{
    QCOMPARE(ByteToHex(0x00), QByteArray("00"));
    QCOMPARE(ByteToHex(0x4B), QByteArray("4b"));
    QCOMPARE(ByteToHex(0xFF), QByteArray("ff"));
    QCOMPARE(BytesToHex("\x01\xab\x7f", 3), QByteArray("01ab7f"));
    QCOMPARE(BytesToHex("", 0), QByteArray());
}

void TestLinkParameter::exampleSite()
{
    const QByteArray Text = Encode("A", "http://", false);
    QCOMPARE(Text, QByteArray("4b524c5000014107687474703a2f2f00"));
    QCOMPARE(Text.size(), 32);
    QCOMPARE(Encode("A", "http://", true), QByteArray("4b524c5001014107687474703a2f2f00"));
}

void TestLinkParameter::decode_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("minimized");
    QTest::addColumn<QByteArray>("title");
    QTest::addColumn<QByteArray>("url");

    const QByteArray Example = "4b524c5000014107687474703a2f2f00";
    QTest::newRow("example") << Example << true << false << QByteArray("A") << QByteArray("http://");
    QTest::newRow("upper-case digits")
        << Example.toUpper() << true << false << QByteArray("A") << QByteArray("http://");
    QTest::newRow("odd last character ignored")
        << Example + "f" << true << false << QByteArray("A") << QByteArray("http://");
    QTest::newRow("bytes after the URL ignored")
        << Example + "deadbeef" << true << false << QByteArray("A") << QByteArray("http://");
    QTest::newRow("final byte not examined") << QByteArray("4b524c5000014107687474703a2f2f") << true << false
                                             << QByteArray("A") << QByteArray("http://");
    QTest::newRow("any non-zero flag is set")
        << QByteArray("4b524c50070141002f") << true << true << QByteArray("A") << QByteArray();
    QTest::newRow("non-hex pair reads as 0")
        << QByteArray("4b524c50zz0141000") << true << false << QByteArray("A") << QByteArray();
    QTest::newRow("seven characters")
        << QByteArray("4b524c5") << false << false << QByteArray() << QByteArray();
    QTest::newRow("empty text") << QByteArray() << false << false << QByteArray() << QByteArray();
    QTest::newRow("magic in lower case")
        << QByteArray("6b726c7000014107687474703a2f2f00") << false << false << QByteArray() << QByteArray();
    QTest::newRow("a file name") << QByteArray("/home/me/notes.txt") << false << false << QByteArray()
                                 << QByteArray();
    QTest::newRow("magic only") << QByteArray("4b524c50") << false << false << QByteArray() << QByteArray();
    QTest::newRow("ends inside the title")
        << QByteArray("4b524c50000541") << false << false << QByteArray() << QByteArray();
    QTest::newRow("ends inside the URL")
        << QByteArray("4b524c500001410768747470") << false << false << QByteArray() << QByteArray();
    QTest::newRow("no URL length") << QByteArray("4b524c5000014l") << false << false << QByteArray()
                                   << QByteArray();
}

void TestLinkParameter::decode()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, ok);
    QFETCH(bool, minimized);
    QFETCH(QByteArray, title);
    QFETCH(QByteArray, url);
    TLinkParameter Link;
    Link.Title = "stale";
    QCOMPARE(DecodeLinkParameter(text, Link), ok);
    QCOMPARE(Link.OpenMinimized, minimized);
    QCOMPARE(Link.Title, title);
    QCOMPARE(Link.URL, url);
}

void TestLinkParameter::roundTrip_data()
{
    QTest::addColumn<QByteArray>("title");
    QTest::addColumn<QByteArray>("url");
    QTest::addColumn<bool>("minimized");
    QTest::addColumn<int>("textLength");
    QTest::addColumn<QByteArray>("decodedTitle");
    QTest::addColumn<QByteArray>("decodedUrl");

    const QByteArray T200(200, 't'), U200(200, 'u');
    QTest::newRow("200 + 200 characters") << T200 << U200 << false << 816 << T200 << U200;
    QByteArray U300;
    for (int i = 0; i < 300; ++i)
        U300.append(char('a' + i % 26));
    QTest::newRow("300-character URL cut to 44")
        << QByteArray("Long") << U300 << false << 2 * (8 + 4 + 44) << QByteArray("Long") << U300.left(44);
    QTest::newRow("256-character title carried empty") << QByteArray(256, 'x') << QByteArray("u") << true
                                                       << 2 * (8 + 0 + 1) << QByteArray() << QByteArray("u");
    QTest::newRow("empty title and URL")
        << QByteArray() << QByteArray() << false << 16 << QByteArray() << QByteArray();
    QTest::newRow("UTF-8 and control bytes")
        << QByteArray("Grüße\r\n\0x", 10) << QByteArray("http://ä/") << true << 2 * (8 + 10 + 10)
        << QByteArray("Grüße\r\n\0x", 10) << QByteArray("http://ä/");
}

void TestLinkParameter::roundTrip()
{
    QFETCH(QByteArray, title);
    QFETCH(QByteArray, url);
    QFETCH(bool, minimized);
    QFETCH(int, textLength);
    QFETCH(QByteArray, decodedTitle);
    QFETCH(QByteArray, decodedUrl);

    const QByteArray Text = Encode(title, url, minimized);
    QCOMPARE(Text.size(), textLength);
    for (const char C : Text)
        QVERIFY(QByteArray("0123456789abcdef").contains(C));
    TLinkParameter Link;
    QVERIFY(DecodeLinkParameter(Text, Link));
    QCOMPARE(Link.OpenMinimized, minimized);
    QCOMPARE(Link.Title, decodedTitle);
    QCOMPARE(Link.URL, decodedUrl);
}

QTEST_APPLESS_MAIN(TestLinkParameter)
void TestLinkParameter::carriedURL_data()
{
    QTest::addColumn<QByteArray>("SiteURL");
    QTest::addColumn<QByteArray>("Carried");
    QTest::addColumn<bool>("Same");
    const QByteArray Long300 = "http://example.org/" + QByteArray(281, 'a');
    const QByteArray Long256 = "http://example.org/" + QByteArray(237, 'b');
    QTest::newRow("short URL, as carried") << QByteArray("http://a/") << QByteArray("http://a/") << true;
    QTest::newRow("short URL changed") << QByteArray("http://a/") << QByteArray("http://b/") << false;
    QTest::newRow("case counts") << QByteArray("http://a/") << QByteArray("HTTP://a/") << false;
    QTest::newRow("300 bytes, carried as its first 44") << Long300 << Long300.left(44) << true;
    QTest::newRow("300 bytes, an older URL's first 44")
        << Long300 << QByteArray("http://example.org/x").leftJustified(44, 'a') << false;
    QTest::newRow("300 bytes against the whole URL") << Long300 << Long300 << false;
    QTest::newRow("256 bytes, carried as nothing") << Long256 << QByteArray() << true;
    QTest::newRow("255 bytes must match whole") << Long256.left(255) << Long256.left(255 % 256 - 1) << false;
}

void TestLinkParameter::carriedURL()
{
    QFETCH(QByteArray, SiteURL);
    QFETCH(QByteArray, Carried);
    QFETCH(bool, Same);
    QCOMPARE(LinkCarriesURL(Carried, SiteURL), Same);
    // What a link made now carries always matches.
    TKestrunSite Site;
    Site.SetTitle("T");
    Site.SetURL(SiteURL);
    TLinkParameter Link;
    QVERIFY(DecodeLinkParameter(EncodeLinkParameter(Site, false), Link));
    QVERIFY(LinkCarriesURL(Link.URL, SiteURL));
}

#include "tst_linkparameter.moc"
