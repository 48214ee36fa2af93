#include "platform/InstanceFiles.h"

#include "HandOverWire.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Local socket paths are limited to 107 bytes, and the first copy's server needs a little more
// while it makes the socket private.
constexpr std::size_t MaxSocketPathBytes = 100;

bool IsPrivateFolder(const char *Path)
{
    struct stat Info;
    return ::lstat(Path, &Info) == 0 && S_ISDIR(Info.st_mode) && Info.st_uid == ::geteuid() &&
           (Info.st_mode & 077) == 0;
}

bool SocketPathFits(std::string_view Folder, std::string_view InstanceName)
{
    return InstancePathsIn(Folder, InstanceName).Socket.size() <= MaxSocketPathBytes;
}

// Folder made absolute and cleaned as Qt cleans a path: no empty, "." or ".." parts (".." above the
// root stays at the root), no trailing '/'.
std::string CleanAbsolutePath(std::string_view Folder)
{
    std::string Whole;
    if (!Folder.starts_with('/')) {
        std::error_code Error;
        Whole = std::filesystem::current_path(Error).native();
        Whole += '/';
    }
    Whole += Folder;
    std::vector<std::string_view> Parts;
    std::string_view Rest = Whole;
    while (!Rest.empty()) {
        const size_t Slash = Rest.find('/');
        const std::string_view Part = Rest.substr(0, Slash);
        Rest = Slash == std::string_view::npos ? std::string_view() : Rest.substr(Slash + 1);
        if (Part.empty() || Part == ".")
            continue;
        if (Part == "..") {
            if (!Parts.empty())
                Parts.pop_back();
            continue;
        }
        Parts.push_back(Part);
    }
    std::string Clean;
    for (const std::string_view Part : Parts)
        Clean.append("/").append(Part);
    return Clean.empty() ? std::string("/") : Clean;
}

// The user's cache folder: $XDG_CACHE_HOME when it is an absolute path, else ~/.cache.
std::string UserCacheFolder()
{
    const char *Cache = std::getenv("XDG_CACHE_HOME");
    if (Cache && Cache[0] == '/')
        return Cache;
    std::string Home;
    if (const char *Value = std::getenv("HOME"))
        Home = Value;
    if (!Home.starts_with('/')) {
        if (const passwd *User = ::getpwuid(::geteuid()); User && User->pw_dir)
            Home = User->pw_dir;
    }
    return Home.starts_with('/') ? Home + "/.cache" : std::string();
}

// The fallback folder, made private if it is ours; an error number when it cannot be.
int MakePrivateFallbackFolder(const std::string &Folder)
{
    // The cache folder itself may not exist yet on a fresh account.
    std::error_code Made;
    std::filesystem::create_directories(std::filesystem::path(Folder).parent_path(), Made);
    if (Made)
        return EACCES;
    if (::mkdir(Folder.c_str(), 0700) != 0 && errno != EEXIST)
        return errno;
    struct stat Info;
    if (::lstat(Folder.c_str(), &Info) != 0)
        return errno;
    // Someone else's folder (or a link) under our name: never use it.
    if (!S_ISDIR(Info.st_mode) || Info.st_uid != ::geteuid())
        return EACCES;
    if ((Info.st_mode & 077) != 0 && ::chmod(Folder.c_str(), 0700) != 0)
        return errno;
    return 0;
}

} // namespace

std::runtime_error InstanceFileError(const std::string &Path, int Error)
{
    return std::runtime_error("Error creating shared memory " + Path + " (" + std::to_string(Error) + ")");
}

void KeepFromCleanUp(const std::string &Path)
{
    struct stat Info;
    if (::lstat(Path.c_str(), &Info) == 0)
        ::chmod(Path.c_str(), (Info.st_mode & 07777) | S_ISVTX);
}

TInstancePaths InstancePathsIn(std::string_view Folder, std::string_view InstanceName)
{
    const std::string Clean = CleanAbsolutePath(Folder);
    const std::string Base =
        (Clean == "/" ? std::string() : Clean) + '/' + InstanceFileBaseName(InstanceName);
    return {Clean, Base + ".lock", Base + ".socket"};
}

TInstancePaths InstancePaths(std::string_view InstanceName)
{
    const char *Runtime = std::getenv("XDG_RUNTIME_DIR");
    if (Runtime && Runtime[0] == '/' && IsPrivateFolder(Runtime) && SocketPathFits(Runtime, InstanceName))
        return InstancePathsIn(Runtime, InstanceName);
    // Not the shared temporary folder, where another user could make our folder first.
    const std::string Cache = UserCacheFolder();
    if (Cache.empty())
        throw InstanceFileError("~/.cache/kestrune", ENOENT);
    const std::string Folder = Cache + "/kestrune";
    if (const int Error = MakePrivateFallbackFolder(Folder))
        throw InstanceFileError(Folder, Error);
    if (!SocketPathFits(Folder, InstanceName))
        throw InstanceFileError(Folder, ENAMETOOLONG);
    return InstancePathsIn(Folder, InstanceName);
}
