#include "ImageStoredForm.h"

#include "IconFile.h"

#include <QtEndian>

namespace {

class TReader
{
public:
    explicit TReader(const QByteArray &Data) : FData(Data) {}

    bool AtEnd() const { return FPos == FData.size(); }

    bool Int32(qint32 &Value)
    {
        if (Left() < 4)
            return false;
        Value = qFromLittleEndian<qint32>(FData.constData() + FPos);
        FPos += 4;
        return true;
    }

    bool Byte(quint8 &Value)
    {
        if (Left() < 1)
            return false;
        Value = quint8(FData[FPos++]);
        return true;
    }

    bool Bytes(QByteArray &Value)
    {
        qint32 Length = 0;
        if (!Int32(Length) || Length < 0 || Length > Left())
            return false;
        Value = FData.mid(FPos, Length);
        FPos += Length;
        return true;
    }

private:
    qsizetype Left() const { return FData.size() - FPos; }

    const QByteArray &FData;
    qsizetype FPos = 0;
};

void PutInt32(QByteArray &Out, qint32 Value)
{
    char Bytes[4];
    qToLittleEndian(Value, Bytes);
    Out.append(Bytes, 4);
}

void PutBytes(QByteArray &Out, const QByteArray &Value)
{
    PutInt32(Out, qint32(Value.size()));
    Out.append(Value);
}

bool KnownPixelFormat(quint8 Code)
{
    return Code == pf8bit || Code == pf16bit || Code == pf24bit || Code == pf32bit;
}

// Image lists beyond this size are no small pictures; refusing them keeps a damaged group from
// asking for an enormous list.
constexpr qint32 MaxGroupSide = 256;

} // namespace

bool HasValidSignature(const TImageData &Image)
{
    switch (Image.Kind) {
    case TImageKind::Bitmap:
        return Image.Graphic.startsWith("BM") && Image.Graphic.size() >= 26;
    case TImageKind::Icon:
        return IsWellFormedIconFile(Image.Graphic);
    case TImageKind::Png:
        return Image.Graphic.startsWith("\x89PNG\r\n\x1a\n");
    }
    return false;
}

TStoredFormResult ReadImageRepositoryData(const QByteArray &Data, TImageCollection &Images,
                                          TImageGroupCollection &Groups, const TImageValidator &Valid)
{
    TStoredFormResult Result;
    Images.Clear();
    Groups.Clear();
    TReader In(Data);

    // Stored record number to position in Images; -1 for a dropped record, so that a group never
    // picks up the neighbour of a record that was dropped.
    QList<int> Position;
    qint32 ImageCount = 0;
    if (!In.Int32(ImageCount))
        return Result;
    for (qint32 I = 0; I < ImageCount; ++I) {
        auto Image = std::make_unique<TImageData>();
        quint8 Kind = 0, Masked = 0;
        if (!In.Bytes(Image->Name) || !In.Byte(Kind) || !In.Byte(Image->PixelFormat) || !In.Byte(Masked) ||
            !In.Bytes(Image->Graphic)) {
            Images.Update();
            return Result;
        }
        Image->Kind = TImageKind(Kind);
        Image->Masked = Masked != 0;
        if (Kind > quint8(TImageKind::Png) || Masked > 1 || !KnownPixelFormat(Image->PixelFormat) ||
            !Valid(*Image)) {
            ++Result.DroppedImages;
            Position.append(-1);
            continue;
        }
        Position.append(Images.Count());
        Images.Add(std::move(Image));
    }
    Images.Update();

    qint32 GroupCount = 0;
    if (!In.Int32(GroupCount))
        return Result;
    for (qint32 G = 0; G < GroupCount; ++G) {
        auto Group = std::make_unique<TImageGroup>(Images);
        quint8 Masked = 0;
        qint32 References = 0;
        if (!In.Bytes(Group->Name) || !In.Int32(Group->Width) || !In.Int32(Group->Height) ||
            !In.Byte(Masked) || !In.Int32(References) || References < 0)
            return Result;
        Group->Masked = Masked != 0;
        bool Whole = true;
        for (qint32 R = 0; R < References; ++R) {
            qint32 Stored = 0;
            if (!In.Int32(Stored)) {
                Whole = false;
                break;
            }
            const int At = Stored >= 0 && Stored < Position.size() ? Position[Stored] : -1;
            if (At < 0)
                ++Result.SkippedReferences;
            else
                Group->Images.Add(At);
        }
        if (!Whole)
            return Result;
        if (Group->Width <= 0 || Group->Height <= 0 || Group->Width > MaxGroupSide ||
            Group->Height > MaxGroupSide || Masked > 1) {
            ++Result.DroppedGroups;
            continue;
        }
        Groups.Add(std::move(Group));
    }
    Result.Complete = In.AtEnd();
    return Result;
}

QByteArray WriteImageRepositoryData(const TImageCollection &Images, const TImageGroupCollection &Groups)
{
    QByteArray Out;
    PutInt32(Out, Images.Count());
    for (int I = 0; I < Images.Count(); ++I) {
        const TImageData &Image = *Images.Item(I);
        PutBytes(Out, Image.Name);
        Out.append(char(Image.Kind));
        Out.append(char(Image.PixelFormat));
        Out.append(char(Image.Masked ? 1 : 0));
        PutBytes(Out, Image.Graphic);
    }
    PutInt32(Out, Groups.Count());
    for (int G = 0; G < Groups.Count(); ++G) {
        const TImageGroup &Group = *Groups.Item(G);
        PutBytes(Out, Group.Name);
        PutInt32(Out, Group.Width);
        PutInt32(Out, Group.Height);
        Out.append(char(Group.Masked ? 1 : 0));
        PutInt32(Out, Group.Images.Count());
        for (int R = 0; R < Group.Images.Count(); ++R)
            PutInt32(Out, Group.Images.ImageIndex(R));
    }
    return Out;
}
