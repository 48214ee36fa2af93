// Reads arbitrary bytes as a PNG picture, as the image repository's PNG kind and a downloaded icon
// are read: through libpng, refused beyond the size limit. A picture that comes out is whole.
// Every other input has its chunk checksums put right first, so that the mutations reach the
// decoder behind libpng's checksum test as well.
#include "images/ImageDecoding.h"

#include <QtEndian>

#include <cstdlib>
#include <zlib.h>

namespace {

QByteArray WithChunkChecksums(QByteArray Bytes)
{
    qsizetype At = 8; // the signature
    while (At + 12 <= Bytes.size()) {
        const quint32 Length = qFromBigEndian<quint32>(Bytes.constData() + At);
        if (Length > quint32(Bytes.size() - At - 12))
            break;
        const uLong Sum =
            crc32(0, reinterpret_cast<const Bytef *>(Bytes.constData() + At + 4), uInt(Length + 4));
        qToBigEndian<quint32>(quint32(Sum), Bytes.data() + At + 8 + Length);
        At += 12 + qsizetype(Length);
    }
    return Bytes;
}

void Check(const QImage &Image)
{
    if (Image.isNull())
        return;
    if (Image.width() <= 0 || Image.height() <= 0 || Image.width() > MaxPngSide ||
        Image.height() > MaxPngSide || Image.format() == QImage::Format_Invalid)
        std::abort();
    // Every pixel can be read.
    volatile QRgb Sum = 0;
    for (int Y = 0; Y < Image.height(); ++Y)
        Sum = Sum + Image.pixel(Image.width() - 1, Y);
    (void)Sum;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    const QByteArray Bytes(reinterpret_cast<const char *>(Data), qsizetype(Size));
    Check(DecodePng(Size % 2 ? WithChunkChecksums(Bytes) : Bytes));
    return 0;
}
