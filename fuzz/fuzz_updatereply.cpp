// Reads arbitrary bytes as the update server's reply. The values never hold a line end, and a
// page is offered only for a version above the own one.
#include "UpdateCheck.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    const QByteArray Reply(reinterpret_cast<const char *>(Data), qsizetype(Size));
    const TUpdateReply Values = ParseUpdateReply(Reply);
    for (const QByteArray *Value : {&Values.Version, &Values.URL}) {
        if (Value->contains('\r') || Value->contains('\n'))
            std::abort();
    }
    const quint32 Number = ParseVersionNumber(Values.Version);
    if (ParseVersionNumber(Values.Version) != Number)
        std::abort();
    const std::optional<QByteArray> Page = NewVersionPage(Reply, OwnVersionNumber());
    if (Page && (Number <= OwnVersionNumber() || *Page != Values.URL || Page->isEmpty()))
        std::abort();
    if (!Page && Number > OwnVersionNumber() && !Values.URL.isEmpty())
        std::abort();
    return 0;
}
