// Reads arbitrary bytes as a site collection file. Whatever was read, saved and read again, must
// give the same sites.
#include "KestruneClasses.h"

#include <QBuffer>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    QByteArray Bytes(reinterpret_cast<const char *>(Data), qsizetype(Size));
    QBuffer In(&Bytes);
    In.open(QIODevice::ReadOnly);
    TKestrunCollection Sites;
    const auto Result = Sites.LoadFromStream(In);
    if (Result == TKestrunCollection::TLoadResult::BadHeader && Sites.Count() != 0)
        std::abort();

    QByteArray Saved;
    QBuffer Out(&Saved);
    Out.open(QIODevice::WriteOnly);
    if (!Sites.SaveToStream(Out))
        std::abort();
    // A file never yields more than it holds: every record takes at least 41 bytes.
    if (qsizetype(Sites.Count()) * 41 + 35 > qMax<qsizetype>(Bytes.size(), 35))
        std::abort();

    QBuffer Again(&Saved);
    Again.open(QIODevice::ReadOnly);
    TKestrunCollection Reloaded;
    if (Reloaded.LoadFromStream(Again) != TKestrunCollection::TLoadResult::Loaded ||
        Reloaded.Count() != Sites.Count())
        std::abort();
    for (int i = 0; i < Sites.Count(); ++i)
        if (!Reloaded[i]->SameStoredFields(*Sites[i]))
            std::abort();
    return 0;
}
