#include "WindowPlacement.h"

#include <QtTest>

// What a site record keeps of its window: on X11 where the window is, on Wayland (where a program
// cannot know that) the stored position with the window's size, and a tiling layout's tile never
// taken for a normal window.

Q_DECLARE_METATYPE(TPlacement)
Q_DECLARE_METATYPE(TWindowNow)

namespace {

TWindowNow Normal(int X, int Y, int Width, int Height)
{
    return {QPoint(X, Y), QSize(Width, Height), false, false, false};
}

TWindowNow With(TWindowNow Now, bool Maximized, bool Minimized, bool FullScreen)
{
    Now.Maximized = Maximized;
    Now.Minimized = Minimized;
    Now.FullScreen = FullScreen;
    return Now;
}

} // namespace

class TestWindowPlacement : public QObject
{
    Q_OBJECT

private slots:
    void placement_data();
    void placement();
};

void TestWindowPlacement::placement_data()
{
    QTest::addColumn<TPlacement>("Stored");
    QTest::addColumn<TWindowNow>("Now");
    QTest::addColumn<bool>("PositionKnown");
    QTest::addColumn<bool>("MaximizeHonoured");
    QTest::addColumn<TPlacement>("Kept");
    const TPlacement Small{0, {100, 50, 600, 450}};
    const TPlacement Big{2, {100, 50, 600, 450}};
    const TWindowNow Moved = Normal(200, 120, 700, 500);
    // On X11 the window is where it says.
    QTest::newRow("X11: normal") << Small << Moved << true << false << TPlacement{0, {200, 120, 900, 620}};
    QTest::newRow("X11: un-maximised")
        << Big << Moved << true << false << TPlacement{0, {200, 120, 900, 620}};
    QTest::newRow("X11: maximised keeps the bounds behind it")
        << Small << With(Moved, true, false, false) << true << false << Big;
    QTest::newRow("X11: minimised") << Small << With(Moved, false, true, false) << true << false << Big;
    QTest::newRow("X11: full screen") << Small << With(Moved, false, false, true) << true << false << Big;
    // On Wayland every window says 0,0: the stored position stays, the size is the window's.
    QTest::newRow("Wayland: normal") << Small << Normal(0, 0, 700, 500) << false << false
                                     << TPlacement{0, {100, 50, 800, 550}};
    QTest::newRow("Wayland: un-maximised where maximising works")
        << Big << Normal(0, 0, 700, 500) << false << true << TPlacement{0, {100, 50, 800, 550}};
    QTest::newRow("Wayland: a maximised site in a tile stays maximised")
        << Big << Normal(0, 0, 640, 780) << false << false << Big;
    QTest::newRow("Wayland: maximised")
        << Small << With(Normal(0, 0, 1280, 800), true, false, false) << false << true << Big;
    QTest::newRow("Wayland: never placed before") << TPlacement{0, {0, 0, 0, 0}} << Normal(0, 0, 853, 600)
                                                  << false << false << TPlacement{0, {0, 0, 853, 600}};
    // Bounds that would not fit the record's numbers are cut, never wrapped.
    QTest::newRow("far out") << TPlacement{0, {2147483000, 0, 2147483100, 100}} << Normal(0, 0, 5000, 100)
                             << false << false << TPlacement{0, {2147483000, 0, 2147483647, 100}};
}

void TestWindowPlacement::placement()
{
    QFETCH(TPlacement, Stored);
    QFETCH(TWindowNow, Now);
    QFETCH(bool, PositionKnown);
    QFETCH(bool, MaximizeHonoured);
    QFETCH(TPlacement, Kept);
    const TPlacement Result = PlacementToStore(Stored, Now, PositionKnown, MaximizeHonoured);
    QCOMPARE(Result.State, Kept.State);
    QCOMPARE(Result.Rect.Left, Kept.Rect.Left);
    QCOMPARE(Result.Rect.Top, Kept.Rect.Top);
    QCOMPARE(Result.Rect.Right, Kept.Rect.Right);
    QCOMPARE(Result.Rect.Bottom, Kept.Rect.Bottom);
}

QTEST_GUILESS_MAIN(TestWindowPlacement)
#include "tst_windowplacement.moc"
