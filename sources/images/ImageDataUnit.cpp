#include "ImageDataUnit.h"

#include <QHash>

#include <algorithm>

TImageData *TImageCollection::Item(int Index) const
{
    if (Index < 0 || Index >= Count())
        return nullptr;
    return FItems[size_t(Index)].get();
}

TImageData *TImageCollection::Add(std::unique_ptr<TImageData> Image)
{
    FItems.push_back(std::move(Image));
    return FItems.back().get();
}

int TImageCollection::IndexOfName(const QByteArray &Name) const
{
    for (int I = 0; I < Count(); ++I)
        if (SameImageName(FItems[size_t(I)]->Name, Name))
            return I;
    return -1;
}

void TImageCollection::Update()
{
    QHash<QByteArray, int> Uses;
    for (const auto &Image : FItems)
        ++Uses[Image->Name.toLower()];
    for (int I = 0; I < Count(); ++I) {
        TImageData &Image = *FItems[size_t(I)];
        Image.Index = I;
        Image.UniqueName = Uses.value(Image.Name.toLower()) == 1;
    }
}

bool SameImageName(const QByteArray &A, const QByteArray &B)
{
    return A.compare(B, Qt::CaseInsensitive) == 0;
}

const TImageData *SelectVariant(const TImageCollection &Images, const TImageData &Image, int Code,
                                bool XPStylesEnabled)
{
    if (Image.UniqueName)
        return &Image;
    constexpr int MaxVariants = 9;
    std::vector<const TImageData *> Found;
    for (int I = 0; I < Images.Count() && int(Found.size()) < MaxVariants; ++I) {
        const TImageData *Candidate = Images.Item(I);
        if (!SameImageName(Candidate->Name, Image.Name) || Candidate->PixelFormat > Code)
            continue;
        if (Candidate->Kind == TImageKind::Icon && Candidate->PixelFormat == pf32bit && Code == pf32bit &&
            !XPStylesEnabled)
            continue;
        Found.push_back(Candidate);
    }
    if (Found.empty())
        return &Image;
    std::stable_sort(Found.begin(), Found.end(), [](const TImageData *A, const TImageData *B) {
        return A->PixelFormat > B->PixelFormat;
    });
    return Found.front();
}

int PixelFormatForDepth(int BitsPerPixel)
{
    switch (BitsPerPixel) {
    case 16:
        return pf16bit;
    case 24:
        return pf24bit;
    case 32:
        return pf32bit;
    default:
        return pf8bit;
    }
}

int PixelFormatForScreenDepth(int Depth)
{
    return PixelFormatForDepth(Depth == 24 ? 32 : Depth);
}
