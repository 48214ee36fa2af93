#pragma once

#include <QIcon>
#include <QString>

#include <array>

// A count drawn over a site's icon, as mail and chat programs show their unread messages in the
// tray: a red rounded badge with white digits in the lower-right corner.

// The sizes drawn one by one, so that the digits stay sharp where trays, panels and docks show
// icons; other sizes are scaled from the nearest.
inline constexpr std::array<int, 6> CountBadgeSizes{16, 22, 24, 32, 48, 64};

// The badge's text: the count, or "99+" past 99. Empty for no count (0 or less).
QString CountBadgeText(int Count);

// Base with Count over it, at each of CountBadgeSizes; Base itself for no count (0 or less). A
// null Base gives the badge alone.
QIcon IconWithCount(const QIcon &Base, int Count);
