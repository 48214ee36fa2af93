#pragma once

#include "ImageDataUnit.h"
#include "ImageGroupUnit.h"
#include "ImageStoredForm.h"

#include <QIcon>
#include <QList>

#include <memory>
#include <optional>
#include <vector>

// A list of same-sized small pictures addressed by position, as the list view, the menus and the
// tray use them. An index outside the list gives a null icon (no picture).
class TImageList
{
public:
    TImageList(int Width = 16, int Height = 16) : FWidth(Width), FHeight(Height) {}

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    int Count() const { return int(FIcons.size()); }
    // Returns the new image's index.
    int Add(const QIcon &Icon);
    QIcon Icon(int Index) const { return FIcons.value(Index); }
    QPixmap Pixmap(int Index) const;
    const QList<QIcon> &Icons() const { return FIcons; }

private:
    int FWidth;
    int FHeight;
    QList<QIcon> FIcons;
};

// The built-in pictures: the images with their variants and the groups that become the tool bar's
// and menus' image lists.
class TImageRepository
{
public:
    TImageRepository();
    TImageRepository(const TImageRepository &) = delete;
    TImageRepository &operator=(const TImageRepository &) = delete;
    ~TImageRepository();

    int DefaultWidth = 16;
    int DefaultHeight = 16;
    bool DefaultMasked = true;
    // Alpha pictures are drawn properly wherever Qt draws.
    bool XPStylesEnabled = true;

    // Reads the stored form; records whose picture does not decode are dropped. Built lists are
    // forgotten.
    TStoredFormResult LoadFromData(const QByteArray &Data);
    QByteArray SaveToData() const;

    const TImageCollection &Images() const { return FImages; }
    const TImageGroupCollection &Groups() const { return FGroups; }

    // The screen's colour-depth code (3, 5, 6 or 7); tests may pin it.
    int ScreenPixelFormat() const;
    void SetScreenPixelFormatForTest(std::optional<int> Code) { FScreenCodeOverride = Code; }

    // Puts the best variant of the named icon into Graphic; leaves it unchanged when no image has
    // that name or the variant is no icon.
    void GetImage(QIcon &Graphic, const QByteArray &Name) const;
    // The list of a group (or of all images for an empty name), built once and owned here.
    TImageList *GetImageList(const QByteArray &GroupName);
    TImageList *GetThemedImageList(const QByteArray &Name, const QByteArray &XPName);

private:
    struct TCacheEntry
    {
        TImageGroup *Group = nullptr;
        std::unique_ptr<TImageList> List;
    };
    TImageList *Build(TCacheEntry &Entry);

    TImageCollection FImages;
    TImageGroupCollection FGroups;
    std::vector<TCacheEntry> FCache;
    std::optional<int> FScreenCodeOverride;
};

// The picture of an image record as an icon (bitmaps masked by their bottom-left colour when
// Masked); null for a PNG record or a picture that does not decode.
QIcon ImageDataIcon(const TImageData &Image, bool Masked);
bool DecodesAsPicture(const TImageData &Image);
