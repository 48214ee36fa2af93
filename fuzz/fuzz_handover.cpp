// Reads arbitrary bytes as a hand-over record arriving on the socket, at once and in pieces (the
// first byte sets the piece size). Both ways give the same verdict; a complete record is exactly
// what its encoding says, within the cap, and delivers no more parameters than its text can hold.
#include "SingleInstance.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    if (Size == 0)
        return 0;
    const size_t Piece = size_t(Data[0] % 16) + 1;
    const std::string_view Bytes(reinterpret_cast<const char *>(Data) + 1, Size - 1);

    THandOverDecoder Whole(1024);
    Whole.Feed(Bytes);
    THandOverDecoder Pieces(1024);
    for (size_t At = 0; At < Bytes.size(); At += Piece)
        Pieces.Feed(Bytes.substr(At, Piece));
    if (Whole.Status() != Pieces.Status())
        std::abort();
    if (Whole.Status() != THandOverDecoder::Complete)
        return 0;

    const THandOverRecord &Record = Whole.Record();
    if (!(Record == Pieces.Record()) || Record.Count == 0 || Record.Text.size() > 1024 ||
        Record.Text.find('\0') != std::string::npos || EncodeHandOverRecord(Record) != Bytes)
        std::abort();
    qsizetype Calls = 0;
    HandleCopyData(Record.Count, QByteArray::fromStdString(Record.Text), [&](const QByteArray &P) {
        ++Calls;
        if (P.contains('\r') && Record.Count != 1)
            std::abort();
    });
    if (Calls > qsizetype(Record.Text.size()) + 1)
        std::abort();
    return 0;
}
