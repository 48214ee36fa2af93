// Desktop entry texts: any value escaped stays on its line and reads back; any arguments quoted
// into an Exec line come back one by one; no value breaks out of its key; any file text is read
// without a fault.
#include "DesktopEntry.h"

#include <QString>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    const QByteArray Input(reinterpret_cast<const char *>(Data), qsizetype(Size));

    const QByteArray Escaped = EscapeDesktopString(Input);
    for (const char C : Escaped) {
        if (quint8(C) < 0x20 || C == 0x7F)
            std::abort();
    }
    const auto Kept = [](const QByteArray &Value) {
        QByteArray Result = QString::fromUtf8(Value).toUtf8();
        Result.removeIf(
            [](char C) { return (quint8(C) < 0x20 && C != '\n' && C != '\t' && C != '\r') || C == 0x7F; });
        return Result;
    };
    if (UnescapeDesktopString(Escaped) != Kept(Input))
        std::abort();

    // Arguments that are UTF-8 without other control characters come back exactly.
    const QByteArrayList Parts = Input.split('\0');
    bool AllKept = true;
    for (const QByteArray &Part : Parts)
        AllKept = AllKept && Kept(Part) == Part;
    const QByteArrayList Arguments = Parts.mid(1);
    const QByteArray Line = EscapeDesktopString(BuildExecLine(Parts.first(), Arguments));
    const std::optional<QByteArrayList> Split = SplitExecLine(UnescapeDesktopString(Line));
    if (AllKept && (!Split || *Split != Parts))
        std::abort();

    // A whole entry: no value adds a key or a group, nor forges or hides the site mark.
    TDesktopEntry Entry;
    Entry.Name = Parts.value(0);
    Entry.Comment = Parts.value(1);
    Entry.Program = Parts.value(2);
    Entry.Icon = Parts.value(3);
    Entry.StartupWMClass = Parts.value(4);
    Entry.SiteMark = Size % 2 == 0;
    const QMap<QByteArray, QByteArray> Keys = ReadDesktopEntryGroup(BuildDesktopEntry(Entry));
    static const QByteArrayList Written{"Type", "Version", "Name",     "Comment",        "Exec",
                                        "Path", "Icon",    "Terminal", "StartupWMClass", SiteMarkKey};
    for (auto It = Keys.cbegin(); It != Keys.cend(); ++It) {
        if (!Written.contains(It.key()))
            std::abort();
    }
    if ((Keys.value(SiteMarkKey) == "true") != Entry.SiteMark || Keys.value("Type") != "Application")
        std::abort();

    (void)ReadDesktopEntryGroup(Input);
    (void)SplitExecLine(Input);
    return 0;
}
