#include "HandOverWire.h"

#include <algorithm>

namespace {

constexpr std::size_t ParameterSeparatorSize = 2; // CR LF

void PutUint32LE(std::string &To, std::uint32_t Value)
{
    for (int Shift = 0; Shift < 32; Shift += 8)
        To += char((Value >> Shift) & 0xFF);
}

std::uint32_t Uint32LE(const char *From)
{
    std::uint32_t Value = 0;
    for (int Byte = 3; Byte >= 0; --Byte)
        Value = (Value << 8) | std::uint8_t(From[Byte]);
    return Value;
}

} // namespace

std::string HandOverText(const std::vector<std::string> &Parameters)
{
    if (Parameters.size() == 1)
        return Parameters.front();
    std::string Text;
    for (const std::string &Parameter : Parameters)
        Text.append(Parameter).append("\r\n");
    return Text;
}

std::vector<THandOverRecord> HandOverRecords(const std::vector<std::string> &Parameters, std::size_t MaxText)
{
    std::vector<THandOverRecord> Records;
    std::vector<std::string> Piece;
    std::size_t PieceSize = 0; // text size of Piece in the several-parameter form
    auto Flush = [&] {
        if (Piece.empty())
            return;
        Records.push_back({std::uint32_t(Piece.size()), HandOverText(Piece)});
        Piece.clear();
        PieceSize = 0;
    };
    for (const std::string &Parameter : Parameters) {
        const std::size_t Needed = Parameter.size() + ParameterSeparatorSize;
        // A lone parameter travels without its CR LF, so it may use the whole record.
        if (Parameter.size() > MaxText)
            continue;
        if (!Piece.empty() && PieceSize + Needed > MaxText)
            Flush();
        Piece.push_back(Parameter);
        PieceSize += Needed;
        if (Piece.size() == 1 && Needed > MaxText)
            Flush();
    }
    Flush();
    return Records;
}

std::string EncodeHandOverRecord(const THandOverRecord &Record)
{
    std::string Data;
    Data.reserve(HandOverHeaderSize + Record.Text.size() + 1);
    PutUint32LE(Data, Record.Count);
    PutUint32LE(Data, std::uint32_t(Record.Text.size() + 1));
    Data += Record.Text;
    Data += '\0';
    return Data;
}

THandOverDecoder::TStatus THandOverDecoder::Feed(std::string_view Data)
{
    if (FStatus == Malformed || Data.empty())
        return FStatus;
    if (FStatus == Complete)
        return FStatus = Malformed; // one record a connection

    // Take no more than the record can hold, so a flood costs no memory.
    const std::size_t Limit = FExpected > 0 ? FExpected : HandOverHeaderSize;
    const std::size_t Taken = std::min(Limit - FBuffer.size(), Data.size());
    FBuffer.append(Data.substr(0, Taken));
    Data.remove_prefix(Taken);

    if (FExpected == 0 && FBuffer.size() == HandOverHeaderSize) {
        const std::uint32_t Count = Uint32LE(FBuffer.data());
        const std::uint32_t Length = Uint32LE(FBuffer.data() + 4);
        if (Count == 0 || Length == 0 || std::uint64_t(Length) > std::uint64_t(FMaxText) + 1)
            return FStatus = Malformed;
        FRecord.Count = Count;
        FExpected = HandOverHeaderSize + Length;
        return Feed(Data);
    }
    if (FExpected == 0 || FBuffer.size() < FExpected)
        return FStatus; // NeedMore: Data was all taken

    const std::string_view Text = std::string_view(FBuffer).substr(HandOverHeaderSize);
    const std::string_view Body = Text.substr(0, Text.size() - 1);
    if (!Data.empty() || Text.back() != '\0' || Body.find('\0') != std::string_view::npos)
        return FStatus = Malformed;
    FRecord.Text = Body;
    FBuffer.clear();
    return FStatus = Complete;
}

std::string InstanceFileBaseName(std::string_view InstanceName)
{
    std::string Name = "kestrune-";
    for (const char C : InstanceName) {
        if ((C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '-')
            Name += C;
        else if (C >= 'A' && C <= 'Z')
            Name += char(C - 'A' + 'a');
    }
    // Socket paths are short on Linux (108 bytes with the folder).
    return Name.substr(0, 64);
}
