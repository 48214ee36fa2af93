// Decodes arbitrary text as a link parameter. A decoded link, encoded again, decodes to the same parts.
#include "KestruneClasses.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    const QByteArray Text(reinterpret_cast<const char *>(Data), qsizetype(Size));
    TLinkParameter Link;
    if (!DecodeLinkParameter(Text, Link)) {
        if (!Link.Title.isEmpty() || !Link.URL.isEmpty())
            std::abort();
        return 0;
    }
    if (Link.Title.size() > 255 || Link.URL.size() > 255)
        std::abort();

    TKestrunSite Site;
    Site.SetTitle(Link.Title);
    Site.SetURL(Link.URL);
    const QByteArray Again = EncodeLinkParameter(Site, Link.OpenMinimized);
    TLinkParameter Round;
    if (!DecodeLinkParameter(Again, Round) || Round.OpenMinimized != Link.OpenMinimized ||
        Round.Title != Link.Title || Round.URL != Link.URL)
        std::abort();
    return 0;
}
