// Reads arbitrary bytes as an icon file, as a downloaded favourite icon or a file of the icon folder
// is read: the header check (a file passes only when its directory fits inside), then the whole
// decode through Qt's reader. A file the check refuses never gives an icon.
#include "images/IconFile.h"
#include "images/ImageDecoding.h"

#include <QGuiApplication>
#include <QtEndian>

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Icons are made of pixmaps, which need an application object; no display is used.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int Argc = 1;
    static char Name[] = "fuzz_iconfile";
    static char *Argv[] = {Name, nullptr};
    static QGuiApplication App(Argc, Argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    const QByteArray Bytes(reinterpret_cast<const char *>(Data), qsizetype(Size));
    const bool Header = HasIconHeader(Bytes);
    const bool WellFormed = IsWellFormedIconFile(Bytes);
    if (WellFormed && !Header)
        std::abort();
    if (Header && (Size < 6 || (Data[2] > 1) || Data[3] != 0))
        std::abort();
    if (WellFormed) {
        const quint16 Count = qFromLittleEndian<quint16>(Data + 4);
        for (quint16 I = 0; I < Count; ++I) {
            const quint64 Length = qFromLittleEndian<quint32>(Data + 6 + 16 * I + 8);
            const quint64 Offset = qFromLittleEndian<quint32>(Data + 6 + 16 * I + 12);
            if (Count == 0 || Length == 0 || Offset + Length > Size)
                std::abort();
        }
    }
    const QIcon Icon = DecodeIconFile(Bytes);
    if (!WellFormed && !Icon.isNull())
        std::abort();
    for (const QSize &Size : Icon.availableSizes()) {
        if (Size.isEmpty())
            std::abort();
    }
    return 0;
}
