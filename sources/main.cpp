// The launcher: answers the information options and hands a later start's parameters to the copy
// that runs, linking QtCore alone, so that a later start ends within a few milliseconds. Only a
// first copy loads the program's body (libkestrune-app.so) with its windows and web engine.
#include "AppEntry.h"
#include "CommandLine.h"
#include "platform/InstanceGuard.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include <dlfcn.h>
#include <unistd.h>

namespace {

// The folder of the real executable, links resolved; empty when the system does not say.
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

// The body sits beside the executable in the build tree and in the program's library folder once
// installed; never looked for in the current folder or through the environment, which another
// user or program could have prepared.
TKestruneRun LoadBody()
{
    const std::string Folder = ExecutableFolder();
    if (Folder.empty()) {
        std::fprintf(stderr, "kestrune: cannot find the program's own folder (/proc/self/exe: %s)\n",
                     std::strerror(errno));
        return nullptr;
    }
    const std::string Beside = Folder + '/' + KestruneModuleFileName;
    const std::string Installed = Folder + '/' + KESTRUNE_MODULE_DIR + '/' + KestruneModuleFileName;
    std::string Module;
    for (const std::string &Candidate : {Beside, Installed}) {
        if (::access(Candidate.c_str(), F_OK) == 0) {
            Module = Candidate;
            break;
        }
    }
    if (Module.empty()) {
        std::fprintf(stderr, "kestrune: the program's module %s is missing (looked for %s and %s)\n",
                     KestruneModuleFileName, Beside.c_str(), Installed.c_str());
        return nullptr;
    }
    void *Handle = ::dlopen(Module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!Handle) {
        std::fprintf(stderr, "kestrune: cannot load the program's module: %s\n", ::dlerror());
        return nullptr;
    }
    // Never closed: its objects live until the process ends.
    auto Run = reinterpret_cast<TKestruneRun>(::dlsym(Handle, KestruneRunSymbol));
    if (!Run)
        std::fprintf(stderr, "kestrune: %s is not this program's module: %s\n", Module.c_str(), ::dlerror());
    return Run;
}

} // namespace

int main(int argc, char *argv[])
{
    const int Answered = HandleInformationOptions(argc, argv);
    if (Answered >= 0)
        return Answered;
    QList<QByteArray> Arguments;
    for (int i = 1; i < argc; ++i)
        Arguments.append(QByteArray(argv[i]));
    const TCommandLine Line = ParseCommandLine(Arguments);

    // A later start hands its parameters to the copy that runs and ends, before any window or
    // display connection exists.
    TInstanceGuard Guard(QStringLiteral("{B730922C-2110-4F3C-9E24-C5613B177BA3}"));
    try {
        if (Guard.AlreadyRunning(Line.Parameters))
            return 0;
    } catch (const std::exception &Error) {
        std::fprintf(stderr, "kestrune: %s\n", Error.what());
        return 1;
    }

    const TKestruneRun Run = LoadBody();
    if (!Run)
        return 1;
    return Run(argc, argv, Guard, Line);
}
