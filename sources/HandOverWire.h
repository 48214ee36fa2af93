#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What a later start sends the first copy over the local socket, and how the first copy reads it.
// Plain C++: the launcher hands over without Qt.

// A failed search for the first copy is followed by another while no more than RetryCount searches
// have failed, RetryInterval milliseconds apart.
inline constexpr int RetryCount = 10;
inline constexpr int RetryInterval = 1000;

// The largest text one record carries. A command line holds far less; anything bigger is not ours.
inline constexpr std::size_t MaxHandOverTextSize = 256 * 1024;
// Sent back by the first copy once its handler has returned for every parameter of a record.
inline constexpr char HandOverAcknowledgement = '\x06';
// Sent back instead by a first copy that no longer takes links (it is quitting): the later start
// searches again, and once the first copy has gone it takes the lock and opens the links itself.
inline constexpr char HandOverRefusal = '\x15';
// How long the first copy waits for a connection's whole record before dropping it.
inline constexpr int HandOverReceiveTimeout = 5000;

// What one socket record carries: the sender's number of parameters and their text.
struct THandOverRecord
{
    std::uint32_t Count = 0;
    std::string Text;

    friend bool operator==(const THandOverRecord &, const THandOverRecord &) = default;
};

// One parameter is handed over as it is; two or more each followed by CR LF.
std::string HandOverText(const std::vector<std::string> &Parameters);

// The records that carry Parameters, in order. Normally one; a command line whose text would pass
// MaxText is cut between parameters, each piece keeping the text forms. A parameter that cannot
// fit a record on its own is left out (Linux caps one argument at 128 KiB, so none from argv).
std::vector<THandOverRecord> HandOverRecords(const std::vector<std::string> &Parameters,
                                             std::size_t MaxText = MaxHandOverTextSize);

// Record on the socket: count (uint32 LE, 1 or more), length (uint32 LE, text bytes + 1), the text
// and one zero byte.
inline constexpr std::size_t HandOverHeaderSize = 8;
std::string EncodeHandOverRecord(const THandOverRecord &Record);

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

    explicit THandOverDecoder(std::size_t MaxText = MaxHandOverTextSize) : FMaxText(MaxText) {}

    TStatus Feed(std::string_view Data);
    TStatus Status() const { return FStatus; }
    // Valid once Status() is Complete.
    const THandOverRecord &Record() const { return FRecord; }

private:
    std::size_t FMaxText;
    TStatus FStatus = NeedMore;
    std::string FBuffer;
    std::size_t FExpected = 0; // whole record size once the header is in, else 0
    THandOverRecord FRecord;
};

// The file name (without folder or extension) of the lock and the socket for an instance name:
// "kestrune-" and the name in lower case, with everything but ASCII letters, digits and '-' left out
// ("{B730922C-...}" gives "kestrune-b730922c-...").
std::string InstanceFileBaseName(std::string_view InstanceName);
