#include "SingleInstance.h"

#include <QtTest>

using TParameters = QList<QByteArray>;
using TRecords = std::vector<THandOverRecord>;

namespace {

std::string_view View(const QByteArray &Bytes)
{
    return {Bytes.constData(), size_t(Bytes.size())};
}

std::vector<std::string> Std(const TParameters &Parameters)
{
    std::vector<std::string> Result;
    for (const QByteArray &Parameter : Parameters)
        Result.push_back(Parameter.toStdString());
    return Result;
}

QByteArray Header(quint32 Count, quint32 Length)
{
    QByteArray B(HandOverHeaderSize, '\0');
    qToLittleEndian<quint32>(Count, B.data());
    qToLittleEndian<quint32>(Length, B.data() + 4);
    return B;
}

TParameters Delivered(quint64 Count, const QByteArray &Text)
{
    TParameters Got;
    HandleCopyData(Count, Text, [&](const QByteArray &P) { Got.append(P); });
    return Got;
}

// Feeds Data in pieces of ChunkSize bytes (0: all at once) and returns the final status.
THandOverDecoder::TStatus FeedInChunks(THandOverDecoder &Decoder, const QByteArray &Data, int ChunkSize)
{
    if (ChunkSize <= 0)
        return Decoder.Feed(View(Data));
    for (qsizetype At = 0; At < Data.size(); At += ChunkSize)
        Decoder.Feed(View(Data).substr(size_t(At), size_t(ChunkSize)));
    return Decoder.Status();
}

} // namespace

Q_DECLARE_METATYPE(THandOverRecord)
Q_DECLARE_METATYPE(TRecords)
Q_DECLARE_METATYPE(THandOverDecoder::TStatus)

class TestHandOver : public QObject
{
    Q_OBJECT

private slots:
    void textForms_data();
    void textForms();
    void handleCopyData_data();
    void handleCopyData();
    void processParametersInOrder();
    void missingHandler();
    void records_data();
    void records();
    void decoder_data();
    void decoder();
    void oversizedLengthRejectedBeforeItsText();
    void fileBaseName();
};

void TestHandOver::textForms_data()
{
    QTest::addColumn<TParameters>("parameters");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("one parameter as it is")
        << TParameters{"abc"} << QByteArray("abc") << Header(1, 4) + QByteArray("abc\0", 4);
    QTest::newRow("two parameters each followed by CR LF")
        << TParameters{"a", "b"} << QByteArray("a\r\nb\r\n") << Header(2, 7) + QByteArray("a\r\nb\r\n\0", 7);
    QTest::newRow("a lone parameter keeps its line break")
        << TParameters{"a\r\nb"} << QByteArray("a\r\nb") << Header(1, 5) + QByteArray("a\r\nb\0", 5);
    QTest::newRow("an empty parameter among several")
        << TParameters{"a", "", "b"} << QByteArray("a\r\n\r\nb\r\n")
        << Header(3, 9) + QByteArray("a\r\n\r\nb\r\n\0", 9);
    QTest::newRow("bytes above 127 kept") << TParameters{"\xc3\xa9\xff"} << QByteArray("\xc3\xa9\xff")
                                          << Header(1, 4) + QByteArray("\xc3\xa9\xff\0", 4);
}

void TestHandOver::textForms()
{
    QFETCH(TParameters, parameters);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, wire);

    QCOMPARE(QByteArray::fromStdString(HandOverText(Std(parameters))), text);
    const TRecords Records = HandOverRecords(Std(parameters));
    QCOMPARE(Records, (TRecords{{quint32(parameters.size()), text.toStdString()}}));
    QCOMPARE(QByteArray::fromStdString(EncodeHandOverRecord(Records.front())), wire);

    THandOverDecoder Decoder;
    QCOMPARE(Decoder.Feed(View(wire)), THandOverDecoder::Complete);
    QCOMPARE(Decoder.Record(), Records.front());
}

void TestHandOver::handleCopyData_data()
{
    QTest::addColumn<quint64>("count");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<TParameters>("expected");

    QTest::newRow("count 1: the whole text, breaks and all")
        << quint64(1) << QByteArray("a\r\nb\r\n") << TParameters{"a\r\nb\r\n"};
    QTest::newRow("count 1: empty text is one empty parameter")
        << quint64(1) << QByteArray() << TParameters{""};
    QTest::newRow("CR LF lines") << quint64(2) << QByteArray("a\r\nb\r\n") << TParameters{"a", "b"};
    QTest::newRow("CR only") << quint64(2) << QByteArray("a\rb\r") << TParameters{"a", "b"};
    QTest::newRow("LF only") << quint64(2) << QByteArray("a\nb\n") << TParameters{"a", "b"};
    QTest::newRow("no break after the last line")
        << quint64(2) << QByteArray("a\r\nb") << TParameters{"a", "b"};
    QTest::newRow("empty lines are delivered")
        << quint64(3) << QByteArray("a\r\n\r\nb\r\n") << TParameters{"a", "", "b"};
    QTest::newRow("LF CR is two breaks") << quint64(2) << QByteArray("a\n\rb") << TParameters{"a", "", "b"};
    QTest::newRow("a lone break is one empty line") << quint64(2) << QByteArray("\r\n") << TParameters{""};
    QTest::newRow("empty text with several: nothing") << quint64(2) << QByteArray() << TParameters{};
    QTest::newRow("the text ends at its zero byte")
        << quint64(2) << QByteArray("a\r\nb\0c\r\n", 8) << TParameters{"a", "b"};
    QTest::newRow("count not 1 splits, whatever it says")
        << quint64(7) << QByteArray("x\ny") << TParameters{"x", "y"};
}

void TestHandOver::handleCopyData()
{
    QFETCH(quint64, count);
    QFETCH(QByteArray, text);
    QFETCH(TParameters, expected);

    QCOMPARE(Delivered(count, text), expected);
}

void TestHandOver::processParametersInOrder()
{
    TParameters Got;
    ProcessParameters({"b", "", "a"}, [&](const QByteArray &P) { Got.append(P); });
    QCOMPARE(Got, (TParameters{"b", "", "a"}));
}

void TestHandOver::missingHandler()
{
    const TOnParameter None;
    for (const auto &Call : {std::function<void()>([&] { HandleCopyData(1, "abc", None); }),
                             std::function<void()>([&] { ProcessParameters({"abc"}, None); })}) {
        try {
            Call();
            QFAIL("no assertion failure");
        } catch (const EAssertionFailed &Error) {
            QCOMPARE(Error.Message(), QByteArray("OnParameter cannot be nil"));
            // The report names the place in the source.
            QVERIFY2(QByteArray(Error.what()).contains("SingleInstance.cpp, line "), Error.what());
        }
    }
}

void TestHandOver::records_data()
{
    QTest::addColumn<TParameters>("parameters");
    QTest::addColumn<int>("maxText");
    QTest::addColumn<TRecords>("expected");

    QTest::newRow("no parameters, no record") << TParameters{} << 16 << TRecords{};
    QTest::newRow("all fit one record")
        << TParameters{"aaaa", "bbbb"} << 12 << TRecords{{2, "aaaa\r\nbbbb\r\n"}};
    QTest::newRow("cut between parameters, a lone piece in the one form")
        << TParameters{"aaaa", "bbbb", "cccc"} << 12 << TRecords{{2, "aaaa\r\nbbbb\r\n"}, {1, "cccc"}};
    QTest::newRow("a parameter of exactly the cap travels alone")
        << TParameters{"a", "0123456789ab", "b"} << 12 << TRecords{{1, "a"}, {1, "0123456789ab"}, {1, "b"}};
    QTest::newRow("a parameter over the cap is left out, the rest keep their order")
        << TParameters{"a", "0123456789abc", "b"} << 12 << TRecords{{2, "a\r\nb\r\n"}};
}

void TestHandOver::records()
{
    QFETCH(TParameters, parameters);
    QFETCH(int, maxText);
    QFETCH(TRecords, expected);

    const TRecords Records = HandOverRecords(Std(parameters), size_t(maxText));
    QCOMPARE(Records, expected);

    // What the first copy delivers from these records is the command line, in order.
    TParameters Got;
    for (const THandOverRecord &Record : Records) {
        THandOverDecoder Decoder{size_t(maxText)};
        QCOMPARE(Decoder.Feed(EncodeHandOverRecord(Record)), THandOverDecoder::Complete);
        Got += Delivered(Decoder.Record().Count, QByteArray::fromStdString(Decoder.Record().Text));
    }
    TParameters Expected = parameters;
    Expected.removeIf([&](const QByteArray &P) { return P.size() > maxText; });
    QCOMPARE(Got, Expected);
}

void TestHandOver::decoder_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("chunkSize");
    QTest::addColumn<THandOverDecoder::TStatus>("status");
    QTest::addColumn<THandOverRecord>("record");

    const QByteArray Ab = Header(2, 7) + QByteArray("a\r\nb\r\n\0", 7);
    const THandOverRecord AbRecord{2, "a\r\nb\r\n"};
    const QByteArray Cap(16, 'x');

    QTest::newRow("whole record at once") << Ab << 0 << THandOverDecoder::Complete << AbRecord;
    QTest::newRow("one byte at a time") << Ab << 1 << THandOverDecoder::Complete << AbRecord;
    QTest::newRow("header split in the middle") << Ab << 3 << THandOverDecoder::Complete << AbRecord;
    QTest::newRow("empty text") << Header(1, 1) + QByteArray(1, '\0') << 0 << THandOverDecoder::Complete
                                << THandOverRecord{1, ""};
    QTest::newRow("text of exactly the cap")
        << Header(1, 17) + Cap + QByteArray(1, '\0') << 5 << THandOverDecoder::Complete
        << THandOverRecord{1, Cap.toStdString()};
    QTest::newRow("nothing yet") << QByteArray() << 0 << THandOverDecoder::NeedMore << THandOverRecord{};
    QTest::newRow("header only") << Header(1, 4) << 0 << THandOverDecoder::NeedMore << THandOverRecord{};
    QTest::newRow("text cut short") << Ab.left(Ab.size() - 1) << 2 << THandOverDecoder::NeedMore
                                    << THandOverRecord{};
    QTest::newRow("zero count") << Header(0, 4) + QByteArray("abc\0", 4) << 0 << THandOverDecoder::Malformed
                                << THandOverRecord{};
    QTest::newRow("zero length") << Header(1, 0) << 0 << THandOverDecoder::Malformed << THandOverRecord{};
    QTest::newRow("text over the cap") << Header(1, 18) + Cap + "y" + QByteArray(1, '\0') << 0
                                       << THandOverDecoder::Malformed << THandOverRecord{};
    QTest::newRow("length of 4 GiB") << Header(1, 0xFFFFFFFF) << 0 << THandOverDecoder::Malformed
                                     << THandOverRecord{};
    QTest::newRow("no closing zero") << Header(1, 4) + "abcd" << 0 << THandOverDecoder::Malformed
                                     << THandOverRecord{};
    QTest::newRow("zero inside the text")
        << Header(1, 4) + QByteArray("a\0c\0", 4) << 1 << THandOverDecoder::Malformed << THandOverRecord{};
    QTest::newRow("bytes after the record")
        << Ab + "x" << 0 << THandOverDecoder::Malformed << THandOverRecord{};
    QTest::newRow("a second record after the first")
        << Ab + Ab << 7 << THandOverDecoder::Malformed << THandOverRecord{};
    QTest::newRow("text, not a record") << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n\r\n") << 0
                                        << THandOverDecoder::Malformed << THandOverRecord{};
}

void TestHandOver::decoder()
{
    QFETCH(QByteArray, data);
    QFETCH(int, chunkSize);
    QFETCH(THandOverDecoder::TStatus, status);
    QFETCH(THandOverRecord, record);

    THandOverDecoder Decoder(16);
    QCOMPARE(FeedInChunks(Decoder, data, chunkSize), status);
    if (status == THandOverDecoder::Complete)
        QCOMPARE(Decoder.Record(), record);
    // A verdict is final.
    if (status != THandOverDecoder::NeedMore)
        QCOMPARE(Decoder.Feed("more"), THandOverDecoder::Malformed);
}

void TestHandOver::oversizedLengthRejectedBeforeItsText()
{
    // A sender announcing a huge record is refused on its header, before any of the text is kept.
    THandOverDecoder Decoder;
    QCOMPARE(Decoder.Feed(View(Header(1, quint32(MaxHandOverTextSize) + 2))), THandOverDecoder::Malformed);
    THandOverDecoder AtCap;
    QCOMPARE(AtCap.Feed(View(Header(1, quint32(MaxHandOverTextSize) + 1))), THandOverDecoder::NeedMore);
}

void TestHandOver::fileBaseName()
{
    QCOMPARE(InstanceFileBaseName("{B730922C-2110-4F3C-9E24-C5613B177BA3}"),
             std::string("kestrune-b730922c-2110-4f3c-9e24-c5613b177ba3"));
    // Nothing of a name can reach outside the folder, and letters outside ASCII are left out.
    QCOMPARE(InstanceFileBaseName("../x/Y z\xc3\x89"), std::string("kestrune-xyz"));
}

QTEST_GUILESS_MAIN(TestHandOver)
#include "tst_handover.moc"
