#include "ImageGroupUnit.h"

TImageGroup *TImageGroupCollection::Item(int Index) const
{
    if (Index < 0 || Index >= Count())
        return nullptr;
    return FItems[size_t(Index)].get();
}

TImageGroup *TImageGroupCollection::Add(std::unique_ptr<TImageGroup> Group)
{
    FItems.push_back(std::move(Group));
    return FItems.back().get();
}

TImageGroup *TImageGroupCollection::FindByName(const QByteArray &Name) const
{
    for (const auto &Group : FItems)
        if (SameImageName(Group->Name, Name))
            return Group.get();
    return nullptr;
}
