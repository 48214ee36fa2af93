#pragma once

#include "KestruneClasses.h"

#include <QPoint>
#include <QSize>

// What a site record keeps of its window's placement: the state (0 normal, 2 maximised) and the
// bounds of the normal window.
struct TPlacement
{
    quint8 State = 2;
    TWindowRect Rect;

    friend bool operator==(const TPlacement &, const TPlacement &) = default;
};

// The window as the desktop shows it now.
struct TWindowNow
{
    QPoint Position;
    QSize Size;
    bool Maximized = false;
    bool Minimized = false;
    bool FullScreen = false;
};

// The placement to keep for a window now, given what the record holds.
// PositionKnown: false where a program can neither know nor choose its windows' positions (Wayland):
// the stored position stays and only the size is taken.
// MaximizeHonoured: whether the desktop has shown the window maximised since it opened. A window
// opened maximised that the desktop shows otherwise (a tile of a tiling layout) keeps what the
// record holds rather than becoming a normal window of the tile's size.
TPlacement PlacementToStore(const TPlacement &Stored, const TWindowNow &Now, bool PositionKnown,
                            bool MaximizeHonoured);
