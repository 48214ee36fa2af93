#include "PageIcon.h"
#include "SampleIcons.h"
#include "images/ImageDecoding.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QtTest>

// A page's declared icon as a site's icon file: the name it takes and the bytes that are kept.

namespace {

QByteArray Png(int Width, int Height)
{
    QImage Picture(Width, Height, QImage::Format_ARGB32);
    Picture.fill(QColor(10, 120, 200));
    QByteArray Data;
    QBuffer Buffer(&Data);
    Buffer.open(QIODevice::WriteOnly);
    Picture.save(&Buffer, "PNG");
    return Data;
}

} // namespace

class TestPageIcon : public QObject
{
    Q_OBJECT

private slots:
    void names_data();
    void names();
    void fileData();
};

void TestPageIcon::names_data()
{
    QTest::addColumn<QByteArray>("Title");
    QTest::addColumn<QString>("Name");
    QTest::newRow("plain") << QByteArray("Mail") << QStringLiteral("Mail");
    QTest::newRow("blanks around") << QByteArray("  Mail \t") << QStringLiteral("Mail");
    QTest::newRow("a way into another folder") << QByteArray("../../etc/x") << QStringLiteral("_.._etc_x");
    QTest::newRow("hidden file") << QByteArray(".profile") << QStringLiteral("profile");
    QTest::newRow("control characters") << QByteArray("a\nb\x01") << QStringLiteral("a_b_");
    QTest::newRow("nothing left") << QByteArray("...") << QStringLiteral("site");
    QTest::newRow("empty") << QByteArray() << QStringLiteral("site");
    QTest::newRow("UTF-8") << QByteArray("Caf\xc3\xa9") << QString(QStringLiteral("Caf") + QChar(0xe9));
    // Cut to whole characters within the limit: 99 two-byte letters, then a four-byte one.
    QTest::newRow("too long") << (QByteArray("\xc3\xa9").repeated(99) + "\xf0\x9f\x98\x80")
                              << QString(99, QChar(0xe9));
}

void TestPageIcon::names()
{
    QFETCH(QByteArray, Title);
    QFETCH(QString, Name);
    QCOMPARE(PageIconName(Title), Name);
    QVERIFY(PageIconName(Title).toUtf8().size() <= MaxPageIconName);
}

void TestPageIcon::fileData()
{
    // An icon file is kept as it came.
    QCOMPARE(PageIconFileData(SampleIcon(0)), SampleIcon(0));

    // A PNG picture becomes an icon file the icon folder reads; a big one is made smaller.
    for (const QSize Size : {QSize(32, 32), QSize(1000, 500)}) {
        const QByteArray Data = PageIconFileData(Png(Size.width(), Size.height()));
        const QIcon Icon = DecodeIconFile(Data);
        QVERIFY(!Icon.isNull());
        const QSize Largest = Icon.availableSizes().value(0);
        QVERIFY(Largest.width() <= MaxPageIconSide && Largest.height() <= MaxPageIconSide);
        QCOMPARE(Icon.pixmap(16, 16).toImage().pixelColor(4, 4), QColor(10, 120, 200));
    }

    // Anything else is no icon.
    const QByteArray Cut = Png(32, 32).left(40);
    for (const QByteArray &Bad :
         {QByteArray(), QByteArray("<svg xmlns='http://www.w3.org/2000/svg'/>"),
          QByteArray("<html>404</html>"), Cut, SampleIcon(0).left(30), Png(MaxPngSide + 1, 4)})
        QCOMPARE(PageIconFileData(Bad), QByteArray());
}

QTEST_MAIN(TestPageIcon)
#include "tst_pageicon.moc"
