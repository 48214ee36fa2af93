#pragma once

#include "HandOverWire.h"

#include <QByteArray>
#include <QList>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

// The single-instance guard's window-free part on the first copy's side: the delivery of what a
// later start handed over, and of the program's own parameters, to the main window's handler. The
// record on the socket is in HandOverWire; the sockets and the lock live in platform/InstanceGuard.

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

// Delivers a handed-over text: with Count 1 the whole text in one call, otherwise one call per line
// (CR, LF or CR LF end a line; the last break adds no empty line; empty lines are delivered). The
// text ends at its first zero byte. Throws EAssertionFailed("OnParameter cannot be nil").
void HandleCopyData(quint64 Count, const QByteArray &Text, const TOnParameter &OnParameter);

// Parameters as the first copy's Qt side takes them.
QList<QByteArray> ByteArrays(const std::vector<std::string> &Parameters);

// Delivers the program's own command-line parameters in order. Throws
// EAssertionFailed("OnParameter cannot be nil").
void ProcessParameters(const QList<QByteArray> &Parameters, const TOnParameter &OnParameter);
