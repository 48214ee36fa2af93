#include "ImageRepositoryUnit.h"

#include "ImageDecoding.h"

#include <QGuiApplication>
#include <QScreen>

int TImageList::Add(const QIcon &Icon)
{
    FIcons.append(Icon);
    return int(FIcons.size()) - 1;
}

QPixmap TImageList::Pixmap(int Index) const
{
    const QIcon Picture = Icon(Index);
    return Picture.isNull() ? QPixmap() : Picture.pixmap(FWidth, FHeight);
}

namespace {

QImage MaskedByBottomLeft(QImage Image)
{
    Image = Image.convertToFormat(QImage::Format_ARGB32);
    if (Image.isNull())
        return Image;
    const QRgb Transparent = Image.pixel(0, Image.height() - 1);
    for (int Y = 0; Y < Image.height(); ++Y) {
        auto *Line = reinterpret_cast<QRgb *>(Image.scanLine(Y));
        for (int X = 0; X < Image.width(); ++X)
            if (Line[X] == Transparent)
                Line[X] = 0;
    }
    return Image;
}

} // namespace

QIcon ImageDataIcon(const TImageData &Image, bool Masked)
{
    switch (Image.Kind) {
    case TImageKind::Icon:
        return DecodeIconFile(Image.Graphic);
    case TImageKind::Bitmap: {
        const QImage Picture = DecodeBitmap(Image.Graphic);
        if (Picture.isNull())
            return {};
        return QIcon(QPixmap::fromImage(Masked ? MaskedByBottomLeft(Picture) : Picture));
    }
    case TImageKind::Png:
        break;
    }
    return {};
}

bool DecodesAsPicture(const TImageData &Image)
{
    switch (Image.Kind) {
    case TImageKind::Icon:
        return !DecodeIconFile(Image.Graphic).isNull();
    case TImageKind::Bitmap:
        return !DecodeBitmap(Image.Graphic).isNull();
    case TImageKind::Png:
        return !DecodePng(Image.Graphic).isNull();
    }
    return false;
}

TImageRepository::TImageRepository() = default;
TImageRepository::~TImageRepository() = default;

TStoredFormResult TImageRepository::LoadFromData(const QByteArray &Data)
{
    FCache.clear();
    return ReadImageRepositoryData(Data, FImages, FGroups, [](const TImageData &Image) {
        return HasValidSignature(Image) && DecodesAsPicture(Image);
    });
}

QByteArray TImageRepository::SaveToData() const
{
    return WriteImageRepositoryData(FImages, FGroups);
}

int TImageRepository::ScreenPixelFormat() const
{
    if (FScreenCodeOverride)
        return *FScreenCodeOverride;
    const QScreen *Screen = QGuiApplication::primaryScreen();
    return PixelFormatForScreenDepth(Screen ? Screen->depth() : 0);
}

void TImageRepository::GetImage(QIcon &Graphic, const QByteArray &Name) const
{
    const TImageData *First = FImages.Item(FImages.IndexOfName(Name));
    if (!First)
        return;
    const TImageData *Variant = SelectVariant(FImages, *First, ScreenPixelFormat(), XPStylesEnabled);
    if (Variant->Kind != TImageKind::Icon)
        return;
    const QIcon Icon = ImageDataIcon(*Variant, false);
    if (!Icon.isNull())
        Graphic = Icon;
}

TImageList *TImageRepository::GetImageList(const QByteArray &GroupName)
{
    for (TCacheEntry &Entry : FCache) {
        const QByteArray EntryName = Entry.Group ? Entry.Group->Name : QByteArray();
        if (SameImageName(EntryName, GroupName))
            return Build(Entry);
    }
    TImageGroup *Group = nullptr;
    if (!GroupName.isEmpty()) {
        Group = FGroups.FindByName(GroupName);
        if (!Group)
            return nullptr;
    }
    FCache.push_back(TCacheEntry{Group, nullptr});
    return Build(FCache.back());
}

TImageList *TImageRepository::GetThemedImageList(const QByteArray &Name, const QByteArray &XPName)
{
    if (XPStylesEnabled && ScreenPixelFormat() == pf32bit)
        if (TImageList *List = GetImageList(XPName))
            return List;
    return GetImageList(Name);
}

TImageList *TImageRepository::Build(TCacheEntry &Entry)
{
    if (Entry.List)
        return Entry.List.get();
    if (Entry.Group) {
        const TImageGroup &Group = *Entry.Group;
        Entry.List = std::make_unique<TImageList>(Group.Width, Group.Height);
        for (int I = 0; I < Group.Images.Count(); ++I) {
            const TImageData *Image = Group.Images.Item(I);
            if (Image && Image->Kind != TImageKind::Png)
                Entry.List->Add(ImageDataIcon(*Image, Group.Masked));
        }
    } else {
        Entry.List = std::make_unique<TImageList>(DefaultWidth, DefaultHeight);
        for (int I = 0; I < FImages.Count(); ++I) {
            const TImageData *Image = FImages.Item(I);
            if (Image->Kind != TImageKind::Png)
                Entry.List->Add(ImageDataIcon(*Image, Image->Masked));
        }
    }
    return Entry.List.get();
}
