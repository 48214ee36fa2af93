#pragma once

#include <QByteArray>

#include <memory>
#include <vector>

// One picture of the image repository: its name, kind, colour depth and the picture itself in its
// own file format (BMP, ICO or PNG bytes), decoded only when a list is built.

enum class TImageKind : quint8
{
    Bitmap = 0,
    Icon = 1,
    Png = 2
};

// Colour-depth codes of the variants and of the screen.
enum TPixelFormatCode : quint8
{
    pf8bit = 3,
    pf16bit = 5,
    pf24bit = 6,
    pf32bit = 7,
};

class TImageData
{
public:
    QByteArray Name;
    TImageKind Kind = TImageKind::Bitmap;
    QByteArray Graphic;
    quint8 PixelFormat = pf8bit;
    bool Masked = true;
    int Index = -1;
    bool UniqueName = true;
};

class TImageCollection
{
public:
    TImageCollection() = default;
    TImageCollection(const TImageCollection &) = delete;
    TImageCollection &operator=(const TImageCollection &) = delete;

    int Count() const { return int(FItems.size()); }
    // Null when Index is out of range.
    TImageData *Item(int Index) const;
    // Call Update after the last Add.
    TImageData *Add(std::unique_ptr<TImageData> Image);
    void Clear() { FItems.clear(); }
    // The first image of that name, letter case ignored, or -1.
    int IndexOfName(const QByteArray &Name) const;
    // Sets each image's position and whether another image shares its name.
    void Update();

private:
    std::vector<std::unique_ptr<TImageData>> FItems;
};

bool SameImageName(const QByteArray &A, const QByteArray &B);

// The best variant of Image's name for a screen of colour-depth Code: the deepest variant not
// deeper than the screen, the earliest of equal depth; a 32-bit icon on a 32-bit screen only when
// alpha icons are drawn (XPStylesEnabled). With no qualifying variant, Image itself.
const TImageData *SelectVariant(const TImageCollection &Images, const TImageData &Image, int Code,
                                bool XPStylesEnabled);

// Colour depth in bits per pixel to the variant code.
int PixelFormatForDepth(int BitsPerPixel);
// The same for the colour depth a screen reports (QScreen::depth): X11 says 24 for what is a
// 32-bit-per-pixel screen, and it is one everywhere today.
int PixelFormatForScreenDepth(int Depth);
