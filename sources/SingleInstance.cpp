#include "SingleInstance.h"

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

} // namespace

EAssertionFailed::EAssertionFailed(const char *Message, const char *File, int Line)
    : std::logic_error(AssertionText(Message, File, Line).toStdString()), FMessage(Message), FFile(File),
      FLine(Line)
{}

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

QList<QByteArray> ByteArrays(const std::vector<std::string> &Parameters)
{
    QList<QByteArray> Result;
    Result.reserve(qsizetype(Parameters.size()));
    for (const std::string &Parameter : Parameters)
        Result.append(QByteArray::fromStdString(Parameter));
    return Result;
}

void ProcessParameters(const QList<QByteArray> &Parameters, const TOnParameter &OnParameter)
{
    RequireHandler(OnParameter);
    for (const QByteArray &Parameter : Parameters)
        OnParameter(Parameter);
}
