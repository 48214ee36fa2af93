#include "platform/ExecutableFolder.h"

#include <climits>

#include <unistd.h>

std::string ExecutableFolder()
{
    char Path[PATH_MAX];
    const ssize_t Length = ::readlink("/proc/self/exe", Path, sizeof Path - 1);
    if (Length <= 0)
        return {};
    const std::string File(Path, size_t(Length));
    const size_t Slash = File.rfind('/');
    return Slash == std::string::npos ? std::string() : File.substr(0, Slash == 0 ? 1 : Slash);
}
