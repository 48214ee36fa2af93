// Reads arbitrary bytes as a site list the user imports. A list is taken whole or not at all; what
// was taken obeys the limits, and written out again it reads back to the very same file.
#include "SiteExport.h"
#include "images/IconFile.h"

#include <cstdlib>

namespace {

bool Clean(const QByteArray &Text)
{
    for (const char C : Text) {
        if (quint8(C) < 0x20 || quint8(C) == 0x7F)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    const QByteArray Bytes(reinterpret_cast<const char *>(Data), qsizetype(Size));
    QList<TExportedSite> Sites;
    QString Error;
    const bool Read = ParseSiteExport(Bytes, Sites, Error);
    if (Read == !Error.isEmpty() || (!Read && !Sites.isEmpty()) || Sites.size() > MaxExportedSites)
        std::abort();
    if (!Read)
        return 0;
    for (const TExportedSite &Site : Sites) {
        if (Site.Title.isEmpty() || Site.URL.isEmpty() || !Clean(Site.Title) || !Clean(Site.URL) ||
            Site.Title.size() > MaxExportedTitle || Site.URL.size() > MaxExportedURL)
            std::abort();
        if (Site.IconName.size() > MaxExportedIconName || Site.IconName.contains('/') ||
            !Clean(Site.IconName))
            std::abort();
        if (!Site.IconData.isEmpty() && (Site.IconName.isEmpty() || Site.IconData.size() > MaxExportedIcon ||
                                         !IsWellFormedIconFile(Site.IconData)))
            std::abort();
        if (Site.Selector.size() > MaxSelectorLength || !(Site.Zoom >= MinZoom && Site.Zoom <= MaxZoom))
            std::abort();
    }
    const QByteArray Written = SiteExportData(Sites);
    QList<TExportedSite> Again;
    if (!ParseSiteExport(Written, Again, Error) || Again.size() != Sites.size() ||
        SiteExportData(Again) != Written)
        std::abort();
    return 0;
}
