#pragma once

#include "ImageDataUnit.h"

#include <QList>

// Groups name an ordered selection of the repository's images; each group becomes one image list.

// The ordered references of a group, resolved through the repository's images.
class TImageGroupedCollection
{
public:
    explicit TImageGroupedCollection(const TImageCollection &Images) : FImages(Images) {}

    int Count() const { return int(FIndices.size()); }
    int ImageIndex(int I) const { return FIndices.value(I, -1); }
    // Null when the reference points nowhere.
    TImageData *Item(int I) const { return FImages.Item(ImageIndex(I)); }
    void Add(int ImageIndex) { FIndices.append(ImageIndex); }
    void Clear() { FIndices.clear(); }

private:
    const TImageCollection &FImages;
    QList<int> FIndices;
};

class TImageGroup
{
public:
    explicit TImageGroup(const TImageCollection &Images) : Images(Images) {}

    bool Masked = true;
    qint32 Width = 16;
    QByteArray Name;
    qint32 Height = 16;
    TImageGroupedCollection Images;
};

class TImageGroupCollection
{
public:
    TImageGroupCollection() = default;
    TImageGroupCollection(const TImageGroupCollection &) = delete;
    TImageGroupCollection &operator=(const TImageGroupCollection &) = delete;

    int Count() const { return int(FItems.size()); }
    TImageGroup *Item(int Index) const;
    TImageGroup *Add(std::unique_ptr<TImageGroup> Group);
    void Clear() { FItems.clear(); }
    // The first group of that name, letter case ignored, or null.
    TImageGroup *FindByName(const QByteArray &Name) const;

private:
    std::vector<std::unique_ptr<TImageGroup>> FItems;
};
