#include "CountBadge.h"
#include "RunTexts.h"

#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QtTest>

// Unread counts: the count a page's title announces, and the badge that shows it over the site's
// icon in the tray.

namespace {

// A picture with no red in it and detail in every pixel: blue and green squares of 3 px.
QIcon CheckeredIcon(int Size)
{
    QImage Picture(Size, Size, QImage::Format_ARGB32_Premultiplied);
    for (int Y = 0; Y < Size; ++Y) {
        for (int X = 0; X < Size; ++X)
            Picture.setPixel(X, Y, (X / 3 + Y / 3) % 2 ? qRgb(20, 60, 200) : qRgb(30, 170, 60));
    }
    return QIcon(QPixmap::fromImage(Picture));
}

QImage PictureOf(const QIcon &Icon, int Size)
{
    return Icon.pixmap(QSize(Size, Size), 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
}

bool IsReddish(QRgb Pixel)
{
    return qAlpha(Pixel) > 200 && qRed(Pixel) > 180 && qGreen(Pixel) < 120 && qBlue(Pixel) < 120;
}

bool IsWhitish(QRgb Pixel)
{
    return qAlpha(Pixel) > 200 && qRed(Pixel) > 200 && qGreen(Pixel) > 200 && qBlue(Pixel) > 200;
}

} // namespace

class TestCountBadge : public QObject
{
    Q_OBJECT

private slots:
    void unreadCountOfTitle_data();
    void unreadCountOfTitle();
    void badgeText_data();
    void badgeText();
    void noCountKeepsTheIcon();
    void badgeOverIcon_data();
    void badgeOverIcon();
    void digitsShowTheCount_data();
    void digitsShowTheCount();
    void nullIconGetsTheBadgeAlone();
    void smallIconFillsTheSize();
};

void TestCountBadge::unreadCountOfTitle_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("count");

    const QString Nines = QString(400, QLatin1Char('9'));
    const struct
    {
        const char *Name;
        QString Title;
        int Count;
    } Rows[] = {
        {"count before the title", QStringLiteral("(3) Inbox"), 3},
        {"count alone", QStringLiteral("(3)"), 3},
        {"white space before", QStringLiteral(" \t(12) Chat"), 12},
        {"no-break space after", QStringLiteral("(4)\u00a0Inbox"), 4},
        {"more than the count", QStringLiteral("(99+) Inbox"), 99},
        {"leading zeros", QStringLiteral("(007) Agents"), 7},
        {"zero", QStringLiteral("(0) Inbox"), 0},
        {"at the cap", QStringLiteral("(%1) Inbox").arg(MaxUnreadCount), MaxUnreadCount},
        {"past the cap", QStringLiteral("(%1) Inbox").arg(MaxUnreadCount + 1), MaxUnreadCount},
        {"wraps in 32 bits", QStringLiteral("(4294967299) Inbox"), MaxUnreadCount},
        {"hundreds of digits", QLatin1Char('(') + Nines + QStringLiteral(") Inbox"), MaxUnreadCount},
        {"hundreds of digits and plus", QLatin1Char('(') + Nines + QStringLiteral("+)"), MaxUnreadCount},
        {"empty title", QString(), 0},
        {"no count", QStringLiteral("Inbox"), 0},
        {"count later in the title", QStringLiteral("Inbox (3)"), 0},
        {"letters", QStringLiteral("(abc) Inbox"), 0},
        {"negative", QStringLiteral("(-3) Inbox"), 0},
        {"digits and a letter", QStringLiteral("(3x) Inbox"), 0},
        {"double parentheses", QStringLiteral("((3)) Inbox"), 0},
        {"glued to the title", QStringLiteral("(3)Inbox"), 0},
        {"empty parentheses", QStringLiteral("() Inbox"), 0},
        {"not closed", QStringLiteral("(3 Inbox"), 0},
        {"only an opening", QStringLiteral("("), 0},
        {"space inside", QStringLiteral("( 3) Inbox"), 0},
        {"plus alone", QStringLiteral("(+) Inbox"), 0},
        {"plus before", QStringLiteral("(+3) Inbox"), 0},
        {"two plus signs", QStringLiteral("(3++) Inbox"), 0},
        {"Arabic-Indic digit", QStringLiteral("(\u0663) Inbox"), 0},
        {"full-width digit", QStringLiteral("(\uff13) Inbox"), 0},
        {"full-width parentheses", QStringLiteral("\uff083\uff09 Inbox"), 0},
    };
    for (const auto &Row : Rows)
        QTest::newRow(Row.Name) << Row.Title << Row.Count;
}

void TestCountBadge::unreadCountOfTitle()
{
    QFETCH(QString, title);
    QFETCH(int, count);
    QCOMPARE(UnreadCountOf(title), count);
}

void TestCountBadge::badgeText_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("text");
    QTest::newRow("one") << 1 << QStringLiteral("1");
    QTest::newRow("two digits") << 99 << QStringLiteral("99");
    QTest::newRow("past two digits") << 100 << QStringLiteral("99+");
    QTest::newRow("the cap") << MaxUnreadCount << QStringLiteral("99+");
    QTest::newRow("none") << 0 << QString();
    QTest::newRow("negative") << -5 << QString();
}

void TestCountBadge::badgeText()
{
    QFETCH(int, count);
    QFETCH(QString, text);
    QCOMPARE(CountBadgeText(count), text);
}

void TestCountBadge::noCountKeepsTheIcon()
{
    const QIcon Base = CheckeredIcon(64);
    QCOMPARE(IconWithCount(Base, 0).cacheKey(), Base.cacheKey());
    QCOMPARE(IconWithCount(Base, -1).cacheKey(), Base.cacheKey());
}

void TestCountBadge::badgeOverIcon_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("count");
    for (const int Size : CountBadgeSizes) {
        const QByteArray Name = QByteArray::number(Size) + " px";
        QTest::newRow(Name + ", one digit") << Size << 7;
        QTest::newRow(Name + ", 99+") << Size << 250;
    }
}

// At each size drawn: a red badge in the lower-right corner, and every pixel elsewhere the icon's.
void TestCountBadge::badgeOverIcon()
{
    QFETCH(int, size);
    QFETCH(int, count);
    const QIcon Base = CheckeredIcon(64);
    const QIcon Counted = IconWithCount(Base, count);
    QVERIFY(Counted.availableSizes().contains(QSize(size, size)));

    const QImage Before = PictureOf(Base, size);
    const QImage After = PictureOf(Counted, size);
    QCOMPARE(After.size(), QSize(size, size));
    QCOMPARE(Before.size(), After.size());

    int Changed = 0, Reddish = 0;
    QRect Area;
    for (int Y = 0; Y < size; ++Y) {
        for (int X = 0; X < size; ++X) {
            const QRgb Pixel = After.pixel(X, Y);
            if (Pixel == Before.pixel(X, Y))
                continue;
            ++Changed;
            Reddish += IsReddish(Pixel) ? 1 : 0;
            Area |= QRect(X, Y, 1, 1);
        }
    }
    QVERIFY(Changed > 0);
    // Red is what the badge is seen as, with the digits inside.
    QVERIFY2(Reddish * 3 >= Changed,
             qPrintable(QStringLiteral("%1 of %2 reddish").arg(Reddish).arg(Changed)));
    // In the corner: as far right and down as the icon goes, the upper part of the icon untouched,
    // the left part too while one digit leaves it room.
    QCOMPARE(Area.right(), size - 1);
    QCOMPARE(Area.bottom(), size - 1);
    QVERIFY2(Area.top() >= size * 2 / 5, qPrintable(QStringLiteral("badge from row %1").arg(Area.top())));
    if (count < 10)
        QVERIFY2(Area.left() >= size * 2 / 5,
                 qPrintable(QStringLiteral("badge from column %1").arg(Area.left())));
}

void TestCountBadge::digitsShowTheCount_data()
{
    QTest::addColumn<int>("size");
    for (const int Size : CountBadgeSizes)
        QTest::newRow(QByteArray::number(Size) + " px") << Size;
}

// The digits are drawn, in white, and differ from one count to the next at every size.
void TestCountBadge::digitsShowTheCount()
{
    QFETCH(int, size);
    const QIcon Base = CheckeredIcon(64);
    QList<QImage> Pictures;
    for (const int Count : {1, 4, 8, 42, 100}) {
        const QImage Picture = PictureOf(IconWithCount(Base, Count), size);
        int White = 0;
        for (int Y = 0; Y < size; ++Y) {
            for (int X = 0; X < size; ++X)
                White += IsWhitish(Picture.pixel(X, Y)) ? 1 : 0;
        }
        QVERIFY2(White > 0, qPrintable(QStringLiteral("no white digits for %1").arg(Count)));
        for (const QImage &Other : std::as_const(Pictures))
            QVERIFY2(Picture != Other,
                     qPrintable(QStringLiteral("%1 looks like a smaller count").arg(Count)));
        Pictures.append(Picture);
    }
}

// An icon drawn smaller than a size fills it, as the tray would have stretched it without a count.
void TestCountBadge::smallIconFillsTheSize()
{
    const QImage Picture = PictureOf(IconWithCount(CheckeredIcon(16), 3), 48);
    QCOMPARE(Picture.size(), QSize(48, 48));
    for (const QPoint Corner : {QPoint(0, 0), QPoint(47, 0), QPoint(0, 47)})
        QCOMPARE(qAlpha(Picture.pixel(Corner)), 255);
}

void TestCountBadge::nullIconGetsTheBadgeAlone()
{
    const QIcon Counted = IconWithCount(QIcon(), 3);
    QVERIFY(!Counted.isNull());
    const QImage Picture = PictureOf(Counted, 16);
    QCOMPARE(Picture.size(), QSize(16, 16));
    QCOMPARE(qAlpha(Picture.pixel(0, 0)), 0);
    int Reddish = 0;
    for (int Y = 8; Y < 16; ++Y) {
        for (int X = 8; X < 16; ++X)
            Reddish += IsReddish(Picture.pixel(X, Y)) ? 1 : 0;
    }
    QVERIFY(Reddish > 0);
}

QTEST_MAIN(TestCountBadge)
#include "tst_countbadge.moc"
