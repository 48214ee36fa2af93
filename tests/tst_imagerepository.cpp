#include "DataModuleUnit.h"
#include "images/IconFile.h"
#include "images/ImageDecoding.h"
#include "images/ImageRepositoryUnit.h"
#include "images/ImageStoredForm.h"

#include <QBuffer>
#include <QtEndian>
#include <QtTest>

namespace {

const QList<QByteArray> ListNames = {"RUN",         "SHORTCUT", "DOC_ADD2",   "EDIT",
                                     "DOC_DELETE2", "ARROW_UP", "ARROW_DOWN", "QUIT",
                                     "START",       "DESKTOP",  "QUICK",      "STARTUP"};

QByteArray Int32(qint32 Value)
{
    char Bytes[4];
    qToLittleEndian(Value, Bytes);
    return QByteArray(Bytes, 4);
}

QByteArray Str(const QByteArray &Value)
{
    return Int32(qint32(Value.size())) + Value;
}

QByteArray ImageRecord(const QByteArray &Name, quint8 Kind, quint8 Format, const QByteArray &Data)
{
    return Str(Name) + char(Kind) + char(Format) + char(1) + Str(Data);
}

QByteArray GroupRecord(const QByteArray &Name, const QList<qint32> &Refs, qint32 Side = 16)
{
    QByteArray Out = Str(Name) + Int32(Side) + Int32(Side) + char(1) + Int32(qint32(Refs.size()));
    for (qint32 Ref : Refs)
        Out += Int32(Ref);
    return Out;
}

// A whole 16 x 16 icon of the built-in set, to build small stored forms from.
QByteArray SampleIcon()
{
    TImageCollection Images;
    TImageGroupCollection Groups;
    ReadImageRepositoryData(BuiltinImageData(), Images, Groups);
    return Images.Item(0)->Graphic;
}

QByteArray IconHeader(quint16 Type, quint16 Count)
{
    QByteArray Out(6, '\0');
    qToLittleEndian(Type, Out.data() + 2);
    qToLittleEndian(Count, Out.data() + 4);
    return Out;
}

} // namespace

class TestImageRepository : public QObject
{
    Q_OBJECT

private slots:
    void builtinSetReadsBack();
    void builtinSetWritesBackUnchanged();
    void builtinPicturesDecode();
    void damagedStoredForm_data();
    void damagedStoredForm();
    void everyTruncationKeepsWholeRecords();
    void selectVariant_data();
    void selectVariant();
    void selectVariantOrdersByDepthThenStoredOrder();
    void screenDepth_data();
    void screenDepth();
    void themedImageList_data();
    void themedImageList();
    void imageListsAreBuiltOnceAndLookedUpIgnoringCase();
    void getImage();
    void iconFileCheck_data();
    void iconFileCheck();
    void pngThroughLibpng();
};

void TestImageRepository::builtinSetReadsBack()
{
    const QByteArray Data = BuiltinImageData();
    QCOMPARE(Data.size(), 29346);
    TImageCollection Images;
    TImageGroupCollection Groups;
    const TStoredFormResult Result = ReadImageRepositoryData(Data, Images, Groups);
    QVERIFY(Result.Complete);
    QCOMPARE(Result.DroppedImages, 0);
    QCOMPARE(Images.Count(), 25);
    for (int I = 0; I < 24; ++I) {
        const TImageData &Image = *Images.Item(I);
        QCOMPARE(Image.Name, ListNames[I / 2]);
        QCOMPARE(Image.PixelFormat, I % 2 == 0 ? pf8bit : pf32bit);
        QCOMPARE(Image.Kind, TImageKind::Icon);
        QCOMPARE(Image.Graphic.size(), 1150);
        QCOMPARE(Image.Index, I);
        QVERIFY(!Image.UniqueName);
    }
    const TImageData &Main = *Images.Item(24);
    QCOMPARE(Main.Name, QByteArray("MAIN_ICON"));
    QCOMPARE(Main.PixelFormat, pf32bit);
    QVERIFY(Main.UniqueName);

    QCOMPARE(Groups.Count(), 2);
    const TImageGroup &Xp = *Groups.Item(0);
    const TImageGroup &Plain = *Groups.Item(1);
    QCOMPARE(Xp.Name, QByteArray("MenuXP"));
    QCOMPARE(Plain.Name, QByteArray("Menu"));
    QCOMPARE(Xp.Images.Count(), 13);
    QCOMPARE(Plain.Images.Count(), 12);
    for (const TImageGroup *Group : {&Xp, &Plain}) {
        QCOMPARE(Group->Width, 16);
        QCOMPARE(Group->Height, 16);
        QVERIFY(Group->Masked);
    }
    for (int I = 0; I < 12; ++I) {
        QCOMPARE(Plain.Images.Item(I)->Name, ListNames[I]);
        QCOMPARE(Plain.Images.Item(I)->PixelFormat, pf8bit);
        QCOMPARE(Xp.Images.Item(I)->Name, ListNames[I]);
        QCOMPARE(Xp.Images.Item(I)->PixelFormat, pf32bit);
    }
    QCOMPARE(Xp.Images.Item(12)->Name, QByteArray("MAIN_ICON"));
}

void TestImageRepository::builtinSetWritesBackUnchanged()
{
    TImageCollection Images;
    TImageGroupCollection Groups;
    ReadImageRepositoryData(BuiltinImageData(), Images, Groups);
    QCOMPARE(WriteImageRepositoryData(Images, Groups), BuiltinImageData());
}

void TestImageRepository::builtinPicturesDecode()
{
    TImageRepository Repository;
    const TStoredFormResult Result = Repository.LoadFromData(BuiltinImageData());
    QCOMPARE(Result.DroppedImages, 0);
    for (int I = 0; I < Repository.Images().Count(); ++I) {
        const QIcon Icon = ImageDataIcon(*Repository.Images().Item(I), true);
        QVERIFY2(!Icon.isNull(), Repository.Images().Item(I)->Name.constData());
        const QImage Picture = Icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(Picture.size(), QSize(16, 16));
        // Every picture has transparent surroundings and something drawn.
        int Opaque = 0;
        for (int Y = 0; Y < 16; ++Y)
            for (int X = 0; X < 16; ++X)
                Opaque += qAlpha(Picture.pixel(X, Y)) == 255;
        QVERIFY(Opaque > 40 && Opaque < 256);
    }
}

void TestImageRepository::damagedStoredForm_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QList<QByteArray>>("images");
    QTest::addColumn<QList<int>>("groupSizes");
    QTest::addColumn<bool>("complete");

    const QByteArray Icon = SampleIcon();
    const QByteArray A = ImageRecord("A", 1, 3, Icon);
    const QByteArray B = ImageRecord("B", 1, 7, Icon);
    const QByteArray Cursor = ImageRecord("CURSOR", 1, 3, IconHeader(2, 1) + Icon.mid(6));
    using Names = QList<QByteArray>;
    using Sizes = QList<int>;

    QTest::newRow("empty data") << QByteArray() << Names{} << Sizes{} << false;
    QTest::newRow("two images, one group")
        << Int32(2) + A + B + Int32(1) + GroupRecord("G", {1, 0}) << Names{"A", "B"} << Sizes{2} << true;
    QTest::newRow("unknown kind dropped, reading goes on")
        << Int32(3) + A + ImageRecord("X", 9, 3, Icon) + B + Int32(1) + GroupRecord("G", {0, 1, 2})
        << Names{"A", "B"} << Sizes{2} << true;
    QTest::newRow("cursor file in an icon record dropped")
        << Int32(2) + Cursor + B + Int32(1) + GroupRecord("G", {0, 1}) << Names{"B"} << Sizes{1} << true;
    QTest::newRow("unknown pixel format dropped")
        << Int32(2) + ImageRecord("A", 1, 4, Icon) + B + Int32(0) << Names{"B"} << Sizes{} << true;
    QTest::newRow("references out of range skipped")
        << Int32(1) + A + Int32(1) + GroupRecord("G", {-1, 0, 1, 1000000}) << Names{"A"} << Sizes{1} << true;
    QTest::newRow("group of impossible size dropped")
        << Int32(1) + A + Int32(2) + GroupRecord("Big", {0}, 100000) + GroupRecord("G", {0}) << Names{"A"}
        << Sizes{1} << true;
    QTest::newRow("data ends inside an image's data")
        << Int32(2) + A + B.left(B.size() - 10) << Names{"A"} << Sizes{} << false;
    QTest::newRow("length beyond the data")
        << Int32(1) + Int32(0x7fffffff) + "A" << Names{} << Sizes{} << false;
    QTest::newRow("negative length") << Int32(1) + Int32(-5) + A << Names{} << Sizes{} << false;
    QTest::newRow("huge counts with little data") << Int32(0x7fffffff) + A << Names{"A"} << Sizes{} << false;
    QTest::newRow("data ends inside a group")
        << Int32(1) + A + Int32(2) + GroupRecord("G", {0}) + GroupRecord("H", {0, 0}).chopped(2) << Names{"A"}
        << Sizes{1} << false;
    QTest::newRow("bytes after the last group")
        << Int32(1) + A + Int32(0) + "x" << Names{"A"} << Sizes{} << false;
}

void TestImageRepository::damagedStoredForm()
{
    QFETCH(QByteArray, data);
    QFETCH(QList<QByteArray>, images);
    QFETCH(QList<int>, groupSizes);
    QFETCH(bool, complete);

    // The repository also drops what does not decode; both readers agree on these inputs.
    TImageRepository Repository;
    const TStoredFormResult Result = Repository.LoadFromData(data);
    QCOMPARE(Result.Complete, complete);
    QList<QByteArray> Names;
    for (int I = 0; I < Repository.Images().Count(); ++I) {
        Names.append(Repository.Images().Item(I)->Name);
        QCOMPARE(Repository.Images().Item(I)->Index, I);
    }
    QCOMPARE(Names, images);
    QList<int> Sizes;
    for (int G = 0; G < Repository.Groups().Count(); ++G) {
        const TImageGroup &Group = *Repository.Groups().Item(G);
        Sizes.append(Group.Images.Count());
        for (int R = 0; R < Group.Images.Count(); ++R)
            QVERIFY(Group.Images.Item(R));
    }
    QCOMPARE(Sizes, groupSizes);
}

void TestImageRepository::everyTruncationKeepsWholeRecords()
{
    const QByteArray Data = BuiltinImageData();
    int Previous = 0;
    for (qsizetype Size = 0; Size < Data.size(); Size += 13) {
        TImageCollection Images;
        TImageGroupCollection Groups;
        const TStoredFormResult Result = ReadImageRepositoryData(Data.left(Size), Images, Groups);
        QVERIFY(!Result.Complete);
        QVERIFY(Images.Count() >= Previous && Images.Count() <= 25);
        QCOMPARE(Result.DroppedImages, 0);
        Previous = Images.Count();
    }
    QCOMPARE(Previous, 25);
}

void TestImageRepository::selectVariant_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<bool>("xpStyles");
    QTest::addColumn<int>("expected");

    QTest::newRow("32-bit screen, alpha icons drawn") << 32 << true << int(pf32bit);
    QTest::newRow("32-bit screen, no alpha icons") << 32 << false << int(pf8bit);
    QTest::newRow("24-bit screen") << 24 << true << int(pf8bit);
    QTest::newRow("16-bit screen") << 16 << true << int(pf8bit);
    QTest::newRow("8-bit screen") << 8 << true << int(pf8bit);
    QTest::newRow("unusual depth counts as 8-bit") << 30 << true << int(pf8bit);
}

void TestImageRepository::selectVariant()
{
    QFETCH(int, depth);
    QFETCH(bool, xpStyles);
    QFETCH(int, expected);

    TImageCollection Images;
    TImageGroupCollection Groups;
    ReadImageRepositoryData(BuiltinImageData(), Images, Groups);
    const int Code = PixelFormatForDepth(depth);
    for (int I = 0; I < Images.Count(); ++I) {
        const TImageData *Variant = SelectVariant(Images, *Images.Item(I), Code, xpStyles);
        QVERIFY(SameImageName(Variant->Name, Images.Item(I)->Name));
        if (Images.Item(I)->UniqueName)
            QCOMPARE(Variant, Images.Item(I));
        else
            QCOMPARE(int(Variant->PixelFormat), expected);
    }
}

void TestImageRepository::selectVariantOrdersByDepthThenStoredOrder()
{
    TImageCollection Images;
    const auto Add = [&Images](const QByteArray &Name, TImageKind Kind, quint8 Format) {
        auto Image = std::make_unique<TImageData>();
        Image->Name = Name;
        Image->Kind = Kind;
        Image->PixelFormat = Format;
        return Images.Add(std::move(Image));
    };
    const TImageData *First16 = Add("x", TImageKind::Bitmap, pf16bit);
    Add("X", TImageKind::Bitmap, pf8bit);
    Add("x", TImageKind::Bitmap, pf16bit);
    const TImageData *Deep = Add("x", TImageKind::Bitmap, pf32bit);
    const TImageData *Only32 = Add("y", TImageKind::Icon, pf32bit);
    Add("Y", TImageKind::Icon, pf32bit);
    Images.Update();

    QCOMPARE(SelectVariant(Images, *Images.Item(1), pf24bit, true), First16);
    // A bitmap tagged 32 is not held back by the alpha rule; only icons are.
    QCOMPARE(SelectVariant(Images, *Images.Item(1), pf32bit, false), Deep);
    // Nothing qualifies: the image asked for is the answer.
    QCOMPARE(SelectVariant(Images, *Images.Item(5), pf32bit, false), Images.Item(5));
    QCOMPARE(SelectVariant(Images, *Images.Item(5), pf32bit, true), Only32);
}

void TestImageRepository::screenDepth_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("code");
    QTest::newRow("X11 true colour reports 24") << 24 << int(pf32bit);
    QTest::newRow("32") << 32 << int(pf32bit);
    QTest::newRow("16") << 16 << int(pf16bit);
    QTest::newRow("8") << 8 << int(pf8bit);
    QTest::newRow("unknown") << 0 << int(pf8bit);
}

void TestImageRepository::screenDepth()
{
    QFETCH(int, depth);
    QFETCH(int, code);
    QCOMPARE(PixelFormatForScreenDepth(depth), code);
}

void TestImageRepository::themedImageList_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("xpStyles");
    QTest::addColumn<int>("count");

    QTest::newRow("32-bit with alpha icons: MenuXP") << int(pf32bit) << true << 13;
    QTest::newRow("32-bit without alpha icons: Menu") << int(pf32bit) << false << 12;
    QTest::newRow("24-bit: Menu") << int(pf24bit) << true << 12;
    QTest::newRow("16-bit: Menu") << int(pf16bit) << true << 12;
}

void TestImageRepository::themedImageList()
{
    QFETCH(int, code);
    QFETCH(bool, xpStyles);
    QFETCH(int, count);

    TImageRepository Repository;
    Repository.LoadFromData(BuiltinImageData());
    Repository.XPStylesEnabled = xpStyles;
    Repository.SetScreenPixelFormatForTest(code);
    TImageList *List = Repository.GetThemedImageList("Menu", "MenuXP");
    QVERIFY(List);
    QCOMPARE(List->Count(), count);
    QCOMPARE(List->Width(), 16);
    for (int I = 0; I < List->Count(); ++I)
        QVERIFY(!List->Icon(I).isNull());
    QVERIFY(List->Icon(-1).isNull());
    QVERIFY(List->Icon(count).isNull());
}

void TestImageRepository::imageListsAreBuiltOnceAndLookedUpIgnoringCase()
{
    TImageRepository Repository;
    Repository.LoadFromData(BuiltinImageData());
    TImageList *Menu = Repository.GetImageList("Menu");
    QVERIFY(Menu);
    QCOMPARE(Repository.GetImageList("MENU"), Menu);
    QVERIFY(!Repository.GetImageList("Toolbar"));
    TImageList *All = Repository.GetImageList(QByteArray());
    QVERIFY(All);
    QCOMPARE(All->Count(), 25);
    QCOMPARE(Repository.GetImageList(QByteArray()), All);
}

void TestImageRepository::getImage()
{
    TImageRepository Repository;
    Repository.LoadFromData(BuiltinImageData());
    Repository.SetScreenPixelFormatForTest(pf32bit);

    QIcon Graphic;
    Repository.GetImage(Graphic, "start");
    QVERIFY(!Graphic.isNull());

    const QIcon Before = Graphic;
    Repository.GetImage(Graphic, "NO_SUCH_PICTURE");
    QCOMPARE(Graphic.cacheKey(), Before.cacheKey());

    // The alpha variant is chosen on a 32-bit screen: it has partly transparent shadow pixels.
    const auto HasSoftPixels = [](const QIcon &Icon) {
        const QImage Picture = Icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
        for (int Y = 0; Y < 16; ++Y)
            for (int X = 0; X < 16; ++X)
                if (qAlpha(Picture.pixel(X, Y)) > 0 && qAlpha(Picture.pixel(X, Y)) < 255)
                    return true;
        return false;
    };
    QVERIFY(HasSoftPixels(Graphic));
    Repository.SetScreenPixelFormatForTest(pf16bit);
    QIcon Plain;
    Repository.GetImage(Plain, "START");
    QVERIFY(!Plain.isNull());
    QVERIFY(!HasSoftPixels(Plain));
}

void TestImageRepository::iconFileCheck_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("header");
    QTest::addColumn<bool>("decodes");

    const QByteArray Icon = SampleIcon();
    QByteArray Type0 = Icon;
    Type0[2] = 0;
    QByteArray BeyondEnd = Icon;
    qToLittleEndian<quint32>(2000, BeyondEnd.data() + 6 + 8);
    QTest::newRow("icon") << Icon << true << true;
    {
        QImage Red(32, 32, QImage::Format_ARGB32);
        Red.fill(Qt::red);
        QByteArray Png;
        QBuffer Buffer(&Png);
        Buffer.open(QIODevice::WriteOnly);
        Red.save(&Buffer, "PNG");
        QByteArray Entry(16, '\0');
        Entry[0] = 32;
        Entry[1] = 32;
        qToLittleEndian<quint16>(1, Entry.data() + 4);
        qToLittleEndian<quint16>(32, Entry.data() + 6);
        qToLittleEndian<quint32>(quint32(Png.size()), Entry.data() + 8);
        qToLittleEndian<quint32>(22, Entry.data() + 12);
        QTest::newRow("icon holding a PNG picture") << IconHeader(1, 1) + Entry + Png << true << true;
    }
    QTest::newRow("type 0 counts as an icon") << Type0 << true << true;
    QTest::newRow("cursor refused") << IconHeader(2, 1) + Icon.mid(6) << false << false;
    QTest::newRow("five bytes") << Icon.left(5) << false << false;
    QTest::newRow("header only") << Icon.left(6) << true << false;
    QTest::newRow("no images") << IconHeader(1, 0) << true << false;
    QTest::newRow("directory entry beyond the end") << BeyondEnd << true << false;
    QTest::newRow("cut inside the picture") << Icon.left(600) << true << false;
    QTest::newRow("html page") << QByteArray("<html><body>Not found</body></html>") << false << false;
    QTest::newRow("png") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << false << false;
}

void TestImageRepository::iconFileCheck()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, header);
    QFETCH(bool, decodes);
    QCOMPARE(HasIconHeader(data), header);
    QCOMPARE(!DecodeIconFile(data).isNull(), decodes);
}

void TestImageRepository::pngThroughLibpng()
{
    QImage Source(5, 3, QImage::Format_ARGB32);
    Source.fill(Qt::transparent);
    Source.setPixel(0, 0, qRgba(255, 0, 0, 255));
    Source.setPixel(4, 2, qRgba(0, 0, 255, 128));
    QByteArray Png;
    QBuffer Buffer(&Png);
    Buffer.open(QIODevice::WriteOnly);
    QVERIFY(Source.save(&Buffer, "PNG"));

    const QImage Decoded = DecodePng(Png).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(Decoded.size(), QSize(5, 3));
    QCOMPARE(Decoded.pixel(0, 0), qRgba(255, 0, 0, 255));
    QCOMPARE(qAlpha(Decoded.pixel(4, 2)), 128);
    QCOMPARE(qAlpha(Decoded.pixel(2, 1)), 0);

    QVERIFY(DecodePng(Png.left(Png.size() / 2)).isNull());
    QVERIFY(DecodePng(Png.left(8)).isNull());
    QVERIFY(DecodePng(QByteArray()).isNull());
    QByteArray Huge = Png;
    qToBigEndian<quint32>(100000, Huge.data() + 16); // width in IHDR
    QVERIFY(DecodePng(Huge).isNull());
}

QTEST_MAIN(TestImageRepository)
#include "tst_imagerepository.moc"
