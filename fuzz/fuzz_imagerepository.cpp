// Reads arbitrary bytes as the image repository's stored form. Whatever was read is consistent
// (positions, names, references inside the images), and written and read again gives the same.
#include "images/ImageStoredForm.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    const QByteArray Bytes(reinterpret_cast<const char *>(Data), qsizetype(Size));
    TImageCollection Images;
    TImageGroupCollection Groups;
    ReadImageRepositoryData(Bytes, Images, Groups);
    // Every image record takes at least 15 bytes besides the count.
    if (qsizetype(Images.Count()) * 15 > Bytes.size())
        std::abort();
    for (int I = 0; I < Images.Count(); ++I) {
        const TImageData &Image = *Images.Item(I);
        if (Image.Index != I || !HasValidSignature(Image))
            std::abort();
        const TImageData *Variant = SelectVariant(Images, Image, pf32bit, true);
        if (!Variant || !SameImageName(Variant->Name, Image.Name))
            std::abort();
    }
    for (int G = 0; G < Groups.Count(); ++G)
        for (int R = 0; R < Groups.Item(G)->Images.Count(); ++R)
            if (!Groups.Item(G)->Images.Item(R))
                std::abort();

    const QByteArray Saved = WriteImageRepositoryData(Images, Groups);
    TImageCollection Images2;
    TImageGroupCollection Groups2;
    const TStoredFormResult Again = ReadImageRepositoryData(Saved, Images2, Groups2);
    if (!Again.Complete || Again.DroppedImages || Again.SkippedReferences || Again.DroppedGroups ||
        WriteImageRepositoryData(Images2, Groups2) != Saved)
        std::abort();
    return 0;
}
