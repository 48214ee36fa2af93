#include "SingleInstance.h"

#include <QtEndian>

namespace {

QByteArray AssertionText(const char *Message, const char *File, int Line)
{
    return QByteArray(Message) + " (" + File + ", line " + QByteArray::number(Line) + ")";
}

void RequireHandler(const TOnParameter &OnParameter, const char *File = __builtin_FILE(),
                    int Line = __builtin_LINE())
{
    if (!OnParameter)
        throw EAssertionFailed("OnParameter cannot be nil", File, Line);
}

constexpr qsizetype ParameterSeparatorSize = 2; // CR LF

} // namespace

EAssertionFailed::EAssertionFailed(const char *Message, const char *File, int Line)
    : std::logic_error(AssertionText(Message, File, Line).toStdString()), FMessage(Message), FFile(File),
      FLine(Line)
{}

QByteArray HandOverText(const QList<QByteArray> &Parameters)
{
    if (Parameters.size() == 1)
        return Parameters.first();
    QByteArray Text;
    for (const QByteArray &Parameter : Parameters)
        Text += Parameter + "\r\n";
    return Text;
}

void HandleCopyData(quint64 Count, const QByteArray &Text, const TOnParameter &OnParameter)
{
    RequireHandler(OnParameter);
    const qsizetype Zero = Text.indexOf('\0');
    const QByteArray Received = Zero < 0 ? Text : Text.left(Zero);
    if (Count == 1) {
        OnParameter(Received);
        return;
    }
    qsizetype Start = 0;
    const qsizetype Size = Received.size();
    while (Start < Size) {
        qsizetype End = Start;
        while (End < Size && Received[End] != '\r' && Received[End] != '\n')
            ++End;
        // Copied before the call: the handler may run a nested event loop for a long time.
        const QByteArray Line = Received.mid(Start, End - Start);
        if (End < Size && Received[End] == '\r' && End + 1 < Size && Received[End + 1] == '\n')
            Start = End + 2;
        else
            Start = End + 1;
        OnParameter(Line);
    }
}

void ProcessParameters(const QList<QByteArray> &Parameters, const TOnParameter &OnParameter)
{
    RequireHandler(OnParameter);
    for (const QByteArray &Parameter : Parameters)
        OnParameter(Parameter);
}

QList<THandOverRecord> HandOverRecords(const QList<QByteArray> &Parameters, qsizetype MaxText)
{
    QList<THandOverRecord> Records;
    QList<QByteArray> Piece;
    qsizetype PieceSize = 0; // text size of Piece in the several-parameter form
    auto Flush = [&] {
        if (Piece.isEmpty())
            return;
        Records.append({quint32(Piece.size()), HandOverText(Piece)});
        Piece.clear();
        PieceSize = 0;
    };
    for (const QByteArray &Parameter : Parameters) {
        const qsizetype Needed = Parameter.size() + ParameterSeparatorSize;
        // A lone parameter travels without its CR LF, so it may use the whole record.
        if (Parameter.size() > MaxText)
            continue;
        if (!Piece.isEmpty() && PieceSize + Needed > MaxText)
            Flush();
        Piece.append(Parameter);
        PieceSize += Needed;
        if (Piece.size() == 1 && Needed > MaxText)
            Flush();
    }
    Flush();
    return Records;
}

QByteArray EncodeHandOverRecord(const THandOverRecord &Record)
{
    QByteArray Data(HandOverHeaderSize, Qt::Uninitialized);
    qToLittleEndian<quint32>(Record.Count, Data.data());
    qToLittleEndian<quint32>(quint32(Record.Text.size() + 1), Data.data() + 4);
    Data += Record.Text;
    Data += '\0';
    return Data;
}

THandOverDecoder::TStatus THandOverDecoder::Feed(QByteArrayView Data)
{
    if (FStatus == Malformed || Data.isEmpty())
        return FStatus;
    if (FStatus == Complete)
        return FStatus = Malformed; // one record a connection

    // Take no more than the record can hold, so a flood costs no memory.
    const qsizetype Limit = FExpected >= 0 ? FExpected : HandOverHeaderSize;
    const qsizetype Room = Limit - FBuffer.size();
    FBuffer.append(Data.first(qMin(Room, Data.size())));
    Data = Data.sliced(qMin(Room, Data.size()));

    if (FExpected < 0 && FBuffer.size() == HandOverHeaderSize) {
        const quint32 Count = qFromLittleEndian<quint32>(FBuffer.constData());
        const quint32 Length = qFromLittleEndian<quint32>(FBuffer.constData() + 4);
        if (Count == 0 || Length == 0 || qint64(Length) > qint64(FMaxText) + 1)
            return FStatus = Malformed;
        FRecord.Count = Count;
        FExpected = HandOverHeaderSize + qsizetype(Length);
        return Feed(Data);
    }
    if (FExpected < 0 || FBuffer.size() < FExpected)
        return FStatus; // NeedMore: Data was all taken

    const QByteArrayView Text = QByteArrayView(FBuffer).sliced(HandOverHeaderSize);
    if (!Data.isEmpty() || Text.back() != '\0' || Text.chopped(1).contains('\0'))
        return FStatus = Malformed;
    FRecord.Text = Text.chopped(1).toByteArray();
    FBuffer.clear();
    return FStatus = Complete;
}

QString InstanceFileBaseName(const QString &InstanceName)
{
    QString Name = QStringLiteral("kestrune-");
    for (const QChar C : InstanceName) {
        const char16_t U = C.unicode();
        if ((U >= u'a' && U <= u'z') || (U >= u'0' && U <= u'9') || U == u'-')
            Name += C;
        else if (U >= u'A' && U <= u'Z')
            Name += QChar(U - u'A' + u'a');
    }
    // Socket paths are short on Linux (108 bytes with the folder).
    return Name.left(64);
}
