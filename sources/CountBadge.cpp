#include "CountBadge.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <QPixmap>

namespace {

const QColor BadgeColor(0xe5, 0x39, 0x35);

// Base at Size x Size pixels exactly, centred on a transparent square when its picture is not
// square.
QImage BasePicture(const QIcon &Base, int Size)
{
    QImage Canvas(Size, Size, QImage::Format_ARGB32_Premultiplied);
    Canvas.fill(Qt::transparent);
    if (Base.isNull())
        return Canvas;
    // At the ratio 1: each size is one pixmap of its own, never a scaled copy of a high-DPI one.
    QImage Picture = Base.pixmap(QSize(Size, Size), 1.0).toImage();
    if (Picture.isNull())
        return Canvas;
    Picture.setDevicePixelRatio(1.0);
    // An icon without this size gives a smaller picture, which the tray would have stretched too.
    if (Picture.width() != Size && Picture.height() != Size)
        Picture = Picture.scaled(Size, Size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPainter Painter(&Canvas);
    Painter.drawImage(QPoint((Size - Picture.width()) / 2, (Size - Picture.height()) / 2), Picture);
    return Canvas;
}

void DrawBadge(QImage &Canvas, const QString &Text)
{
    const int Size = Canvas.width();
    // About half the icon's height: at 16 px the smallest on which digits still read.
    const int Height = qMax(9, qRound(Size * 0.55));
    // A white ring keeps the badge apart from a red icon, where there is room for one.
    const bool Ring = Size >= 24;
    const int PadY = Ring ? 3 : 1;
    // Small icons give the digits all the room there is.
    const int PadX = Size < 22 ? 1 : qMax(2, Height / 4);

    QFont Font;
    Font.setStyleHint(QFont::SansSerif);
    Font.setBold(true);
    Font.setHintingPreference(QFont::PreferFullHinting);
    // "99+" on the smallest icons in a narrower face where fonts have one; else it shrinks past
    // reading.
    if (Size < 22 && Text.size() > 2)
        Font.setStretch(QFont::Condensed);
    // The largest font whose digits fit the badge, measured by their ink rather than the font's
    // line height, so that they fill it.
    QRect Ink;
    for (int Pixels = Height; Pixels >= 5; --Pixels) {
        Font.setPixelSize(Pixels);
        Ink = QFontMetrics(Font).tightBoundingRect(Text);
        if (Ink.height() <= Height - 2 * PadY && Ink.width() <= Size - 2 * PadX)
            break;
    }
    const int Width = qMin(Size, qMax(Height, Ink.width() + 2 * PadX));
    const QRectF Badge(Size - Width, Size - Height, Width, Height);

    QPainter Painter(&Canvas);
    Painter.setRenderHint(QPainter::Antialiasing);
    Painter.setRenderHint(QPainter::TextAntialiasing);
    if (Ring)
        Painter.setPen(QPen(Qt::white, 1.0));
    else
        Painter.setPen(Qt::NoPen);
    Painter.setBrush(BadgeColor);
    const QRectF Shape = Ring ? Badge.adjusted(0.5, 0.5, -0.5, -0.5) : Badge;
    Painter.drawRoundedRect(Shape, Shape.height() / 2, Shape.height() / 2);

    Painter.setFont(Font);
    Painter.setPen(Qt::white);
    // On whole pixels, where hinted digits are sharpest.
    const QPoint Origin(qRound(Badge.center().x() - (Ink.left() + Ink.width() / 2.0)),
                        qRound(Badge.center().y() - (Ink.top() + Ink.height() / 2.0)));
    Painter.drawText(Origin, Text);
}

} // namespace

QString CountBadgeText(int Count)
{
    if (Count <= 0)
        return QString();
    return Count > 99 ? QStringLiteral("99+") : QString::number(Count);
}

QIcon IconWithCount(const QIcon &Base, int Count)
{
    const QString Text = CountBadgeText(Count);
    if (Text.isEmpty())
        return Base;
    QIcon Icon;
    for (const int Size : CountBadgeSizes) {
        QImage Canvas = BasePicture(Base, Size);
        DrawBadge(Canvas, Text);
        Icon.addPixmap(QPixmap::fromImage(std::move(Canvas)));
    }
    return Icon;
}
