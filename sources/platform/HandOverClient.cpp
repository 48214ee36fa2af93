#include "platform/HandOverClient.h"

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Writes all of Data; false when the peer is gone.
bool SendAll(int Socket, const std::string &Data)
{
    size_t Sent = 0;
    while (Sent < Data.size()) {
        const ssize_t N = ::send(Socket, Data.data() + Sent, Data.size() - Sent, MSG_NOSIGNAL);
        if (N < 0 && errno == EINTR)
            continue;
        if (N <= 0)
            return false;
        Sent += size_t(N);
    }
    return true;
}

} // namespace

THandOverResult SendHandOver(const std::string &Socket, const std::vector<THandOverRecord> &Records)
{
    sockaddr_un Address{};
    Address.sun_family = AF_UNIX;
    if (Socket.size() >= sizeof(Address.sun_path))
        return THandOverResult::NoAnswer;
    std::memcpy(Address.sun_path, Socket.data(), Socket.size());

    for (size_t I = 0; I < Records.size(); ++I) {
        // Once a piece went over, the rest is lost with the copy that took it.
        const THandOverResult Lost = I == 0 ? THandOverResult::NoAnswer : THandOverResult::Delivered;
        const int Connection = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (Connection < 0)
            return Lost;
        int Result;
        do
            Result = ::connect(Connection, reinterpret_cast<const sockaddr *>(&Address), sizeof(Address));
        while (Result != 0 && errno == EINTR);
        if (Result != 0) {
            // Not listening yet (or gone).
            ::close(Connection);
            return Lost;
        }
        char Answer = 0;
        if (SendAll(Connection, EncodeHandOverRecord(Records[I]))) {
            ssize_t N;
            do
                N = ::recv(Connection, &Answer, 1, 0);
            while (N < 0 && errno == EINTR);
            if (N != 1)
                Answer = 0;
        }
        ::close(Connection);
        // Refused by a copy that is quitting, or dropped by one that went away before answering.
        if (Answer != HandOverAcknowledgement)
            return Lost;
    }
    return THandOverResult::Delivered;
}
