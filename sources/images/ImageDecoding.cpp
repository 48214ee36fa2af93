#include "ImageDecoding.h"

#include "IconFile.h"

#include <QBuffer>
#include <QImageReader>

#include <png.h>

#include <csetjmp>
#include <cstring>

namespace {

struct TPngSource
{
    const unsigned char *Data;
    size_t Size;
    size_t Pos;
};

void ReadPngBytes(png_structp Png, png_bytep Out, png_size_t Count)
{
    auto *Source = static_cast<TPngSource *>(png_get_io_ptr(Png));
    if (Count > Source->Size - Source->Pos)
        png_error(Png, "truncated");
    std::memcpy(Out, Source->Data + Source->Pos, Count);
    Source->Pos += Count;
}

void SilentWarning(png_structp, png_const_charp) {}

void ErrorJump(png_structp Png, png_const_charp)
{
    png_longjmp(Png, 1);
}

// Fills Rgba (Width * Height * 4 bytes, allocated by the caller's callback) and returns true.
// Only plain C objects live across setjmp here.
bool DecodePngRaw(const QByteArray &Data, QImage &Result)
{
    TPngSource Source{reinterpret_cast<const unsigned char *>(Data.constData()), size_t(Data.size()), 0};
    png_structp Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, ErrorJump, SilentWarning);
    if (!Png)
        return false;
    png_infop Info = png_create_info_struct(Png);
    if (!Info) {
        png_destroy_read_struct(&Png, nullptr, nullptr);
        return false;
    }
    png_bytep *volatile Rows = nullptr;
    if (setjmp(png_jmpbuf(Png))) {
        delete[] Rows;
        png_destroy_read_struct(&Png, &Info, nullptr);
        return false;
    }
    png_set_read_fn(Png, &Source, ReadPngBytes);
    png_set_user_limits(Png, MaxPngSide, MaxPngSide);
    png_read_info(Png, Info);
    const png_uint_32 Width = png_get_image_width(Png, Info);
    const png_uint_32 Height = png_get_image_height(Png, Info);
    const int ColourType = png_get_color_type(Png, Info);
    if (png_get_bit_depth(Png, Info) == 16)
        png_set_strip_16(Png);
    if (ColourType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(Png);
    if (ColourType == PNG_COLOR_TYPE_GRAY || ColourType == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(Png);
    if (png_get_bit_depth(Png, Info) < 8)
        png_set_packing(Png);
    if (ColourType == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(Png, Info) < 8)
        png_set_expand_gray_1_2_4_to_8(Png);
    if (png_get_valid(Png, Info, PNG_INFO_tRNS))
        png_set_tRNS_to_alpha(Png);
    if (!(ColourType & PNG_COLOR_MASK_ALPHA))
        png_set_filler(Png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(Png);
    png_read_update_info(Png, Info);
    if (png_get_rowbytes(Png, Info) != size_t(Width) * 4)
        png_error(Png, "unexpected layout");

    Result = QImage(int(Width), int(Height), QImage::Format_RGBA8888);
    if (Result.isNull())
        png_error(Png, "no memory");
    Rows = new png_bytep[Height];
    for (png_uint_32 Y = 0; Y < Height; ++Y)
        Rows[Y] = Result.scanLine(int(Y));
    png_read_image(Png, Rows);
    png_read_end(Png, nullptr);
    delete[] Rows;
    png_destroy_read_struct(&Png, &Info, nullptr);
    return true;
}

} // namespace

QImage DecodePng(const QByteArray &Data)
{
    QImage Result;
    if (!DecodePngRaw(Data, Result))
        return {};
    return Result;
}

QIcon DecodeIconFile(const QByteArray &Data)
{
    if (!IsWellFormedIconFile(Data))
        return {};
    QByteArray Copy = Data;
    // Qt's reader knows only type 1 for icons; type 0 files are icons all the same.
    Copy[2] = 1;
    Copy[3] = 0;
    QBuffer Buffer(&Copy);
    Buffer.open(QIODevice::ReadOnly);
    QImageReader Reader(&Buffer, "ico");
    QIcon Icon;
    const int Count = qMin(Reader.imageCount(), 64);
    for (int I = 0; I < Count; ++I) {
        if (!Reader.jumpToImage(I))
            break;
        const QImage Image = Reader.read();
        if (!Image.isNull())
            Icon.addPixmap(QPixmap::fromImage(Image));
    }
    return Icon;
}

QImage DecodeBitmap(const QByteArray &Data)
{
    return QImage::fromData(Data, "BMP");
}
