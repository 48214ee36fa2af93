#include "Favicon.h"

#include <QtTest>

class TestFavicon : public QObject
{
    Q_OBJECT

private slots:
    void address_data();
    void address();
};

void TestFavicon::address_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("host and path") << QByteArray("http://www.example.com/news/today.html")
                                   << QByteArray("http://www.example.com/favicon.ico");
    QTest::newRow("no scheme") << QByteArray("www.example.com/a/b")
                               << QByteArray("http://www.example.com/favicon.ico");
    QTest::newRow("scheme in capitals")
        << QByteArray("HTTP://WWW.Example.COM/Path") << QByteArray("http://www.example.com/favicon.ico");
    QTest::newRow("no slash after the host")
        << QByteArray("http://example.com") << QByteArray("http://example.com/favicon.ico");
    QTest::newRow("query without a slash")
        << QByteArray("example.com?x=1") << QByteArray("http://example.com?x=1/favicon.ico");
    QTest::newRow("host root") << QByteArray("http://example.com/")
                               << QByteArray("http://example.com/favicon.ico");
    QTest::newRow("blanks and control characters around")
        << QByteArray(" \t\r\nhttp://example.com/x \n") << QByteArray("http://example.com/favicon.ico");
    QTest::newRow("secure scheme kept") << QByteArray("https://secure.example.com/login")
                                        << QByteArray("https://secure.example.com/favicon.ico");
    QTest::newRow("secure scheme in capitals")
        << QByteArray("HTTPS://Example.com") << QByteArray("https://example.com/favicon.ico");
    QTest::newRow("other scheme is taken for a host")
        << QByteArray("ftp://files.example.com/x") << QByteArray("http://ftp:/favicon.ico");
    QTest::newRow("slash right after the scheme belongs to the host")
        << QByteArray("http:///x/y") << QByteArray("http:///x/favicon.ico");
    QTest::newRow("empty text") << QByteArray() << QByteArray("http:///favicon.ico");
    QTest::newRow("port kept") << QByteArray("127.0.0.1:8080/app/")
                               << QByteArray("http://127.0.0.1:8080/favicon.ico");
    QTest::newRow("only A-Z lowered")
        << QByteArray("http://Ex\xc3\x84mple.com/") << QByteArray("http://ex\xc3\x84mple.com/favicon.ico");
}

void TestFavicon::address()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expected);
    QCOMPARE(FaviconAddress(text), expected);
}

QTEST_GUILESS_MAIN(TestFavicon)
#include "tst_favicon.moc"
