#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <functional>
#include <stdexcept>

// The single-instance guard's window-free part: the texts a later start hands over, their delivery
// to the main window's handler, and the framed record that carries them over the local socket.
// The sockets and the lock live in platform/InstanceGuard.

// A failed search for the first copy is followed by another while no more than RetryCount searches
// have failed, RetryInterval milliseconds apart.
inline constexpr int RetryCount = 10;
inline constexpr int RetryInterval = 1000;

// The largest text one record carries. A command line holds far less; anything bigger is not ours.
inline constexpr qsizetype MaxHandOverTextSize = 256 * 1024;
// Sent back by the first copy once its handler has returned for every parameter of a record.
inline constexpr char HandOverAcknowledgement = '\x06';
// Sent back instead by a first copy that no longer takes links (it is quitting): the later start
// searches again, and once the first copy has gone it takes the lock and opens the links itself.
inline constexpr char HandOverRefusal = '\x15';
// How long the first copy waits for a connection's whole record before dropping it.
inline constexpr int HandOverReceiveTimeout = 5000;

using TOnParameter = std::function<void(const QByteArray &Parameter)>;

// A programming mistake: what() gives the message and the place it was raised. (The place comes
// from the compiler's builtins: clang 14 with libstdc++ 12 has no std::source_location.)
class EAssertionFailed : public std::logic_error
{
public:
    explicit EAssertionFailed(const char *Message, const char *File = __builtin_FILE(),
                              int Line = __builtin_LINE());
    const QByteArray &Message() const { return FMessage; }
    const char *File() const { return FFile; }
    int Line() const { return FLine; }

private:
    QByteArray FMessage;
    const char *FFile;
    int FLine;
};

// One parameter is handed over as it is; two or more each followed by CR LF.
QByteArray HandOverText(const QList<QByteArray> &Parameters);

// Delivers a handed-over text: with Count 1 the whole text in one call, otherwise one call per line
// (CR, LF or CR LF end a line; the last break adds no empty line; empty lines are delivered). The
// text ends at its first zero byte. Throws EAssertionFailed("OnParameter cannot be nil").
void HandleCopyData(quint64 Count, const QByteArray &Text, const TOnParameter &OnParameter);

// Delivers the program's own command-line parameters in order. Throws
// EAssertionFailed("OnParameter cannot be nil").
void ProcessParameters(const QList<QByteArray> &Parameters, const TOnParameter &OnParameter);

// What one socket record carries: the sender's number of parameters and their text.
struct THandOverRecord
{
    quint32 Count = 0;
    QByteArray Text;

    friend bool operator==(const THandOverRecord &, const THandOverRecord &) = default;
};

// The records that carry Parameters, in order. Normally one; a command line whose text would pass
// MaxText is cut between parameters, each piece keeping the text forms. A parameter that cannot
// fit a record on its own is left out (Linux caps one argument at 128 KiB, so none from argv).
QList<THandOverRecord> HandOverRecords(const QList<QByteArray> &Parameters,
                                       qsizetype MaxText = MaxHandOverTextSize);

// Record on the socket: count (uint32 LE, 1 or more), length (uint32 LE, text bytes + 1), the text
// and one zero byte.
inline constexpr int HandOverHeaderSize = 8;
QByteArray EncodeHandOverRecord(const THandOverRecord &Record);

// Reads one record as it arrives in pieces. Malformed is final: a zero count, a length of zero or
// above the cap, a text without its closing zero or with one inside, or bytes after the record.
class THandOverDecoder
{
public:
    enum TStatus
    {
        NeedMore,
        Complete,
        Malformed
    };

    explicit THandOverDecoder(qsizetype MaxText = MaxHandOverTextSize) : FMaxText(MaxText) {}

    TStatus Feed(QByteArrayView Data);
    TStatus Status() const { return FStatus; }
    // Valid once Status() is Complete.
    const THandOverRecord &Record() const { return FRecord; }

private:
    qsizetype FMaxText;
    TStatus FStatus = NeedMore;
    QByteArray FBuffer;
    qsizetype FExpected = -1; // whole record size once the header is in
    THandOverRecord FRecord;
};

// The file name (without folder or extension) of the lock and the socket for an instance name:
// "kestrune-" and the name in lower case, with everything but letters, digits and '-' left out
// ("{B730922C-...}" gives "kestrune-b730922c-...").
QString InstanceFileBaseName(const QString &InstanceName);
