// Reads arbitrary bytes as the monitor's settings file beside sites.dat. What was read, written and
// read again is the same (entries with nothing but defaults are not written).
#include "SiteWatch.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    const QByteArray Bytes(reinterpret_cast<const char *>(Data), qsizetype(Size));
    bool Damaged = false;
    const QList<TSiteWatchEntry> Entries = ParseSiteWatchFile(Bytes, &Damaged);
    if (Damaged && !Entries.isEmpty())
        std::abort();
    QList<TSiteWatchEntry> Kept;
    for (const TSiteWatchEntry &Entry : Entries) {
        if (Entry.Watch.Selector.size() > MaxSelectorLength)
            std::abort();
        if (!Entry.Watch.IsDefault())
            Kept.append(Entry);
    }
    // Times keep whole seconds in the file.
    for (TSiteWatchEntry &Entry : Kept) {
        if (Entry.Watch.LastChanged.isValid())
            Entry.Watch.LastChanged =
                QDateTime::fromString(Entry.Watch.LastChanged.toString(Qt::ISODate), Qt::ISODate);
    }
    const QList<TSiteWatchEntry> Again = ParseSiteWatchFile(SiteWatchFileData(Kept));
    if (SiteWatchFileData(Again) != SiteWatchFileData(Kept))
        std::abort();
    return 0;
}
