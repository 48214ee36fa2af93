#include "WindowPlacement.h"

#include <limits>

namespace {

qint32 Sum(qint32 Start, int Length)
{
    const qint64 End = qint64(Start) + Length;
    return End > std::numeric_limits<qint32>::max() ? std::numeric_limits<qint32>::max() : qint32(End);
}

} // namespace

TPlacement PlacementToStore(const TPlacement &Stored, const TWindowNow &Now, bool PositionKnown,
                            bool MaximizeHonoured)
{
    TPlacement Result = Stored;
    if (Now.Maximized || Now.Minimized || Now.FullScreen) {
        Result.State = 2;
        return Result;
    }
    if (!PositionKnown && Stored.State == 2 && !MaximizeHonoured)
        return Result;
    Result.State = 0;
    const QPoint Origin = PositionKnown ? Now.Position : QPoint(Stored.Rect.Left, Stored.Rect.Top);
    Result.Rect = {Origin.x(), Origin.y(), Sum(Origin.x(), Now.Size.width()),
                   Sum(Origin.y(), Now.Size.height())};
    return Result;
}
