#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

// Where the lock and the socket of one instance name live for this user. Plain C++ and POSIX: the
// launcher finds the running copy without Qt. Paths are the system's bytes, absolute and clean.
struct TInstancePaths
{
    std::string Folder;
    std::string LockFile;
    std::string Socket;
};

// The folder for this user's lock and socket: $XDG_RUNTIME_DIR when it is an absolute path to a real
// folder (not a link) owned by this user with no access for others, else a private folder
// "kestrune" in the user's cache folder (created 0700; refused when someone else owns it). A
// folder whose socket path would be too long for a local socket is passed over. Throws
// std::runtime_error "Error creating shared memory <folder> (<errno>)" when there is none.
TInstancePaths InstancePaths(std::string_view InstanceName);
// The same names inside a given folder (made absolute against the current folder and cleaned), for
// tests that reach another process's socket.
TInstancePaths InstancePathsIn(std::string_view Folder, std::string_view InstanceName);

// "Error creating shared memory <path> (<errno>)": the lock or its folder cannot be made.
std::runtime_error InstanceFileError(const std::string &Path, int Error);

// Files in the runtime folder may be cleaned up when unused for hours, unless their sticky bit is
// set (XDG Base Directory). A lost lock or socket would let a second copy start.
void KeepFromCleanUp(const std::string &Path);
