// The launcher: answers the information options and hands a later start's links to the copy that
// runs, in plain C++ without Qt, so that a later start ends within a few milliseconds. Every other
// start loads the program's body (libkestrune-app.so) with its windows and web engine.
#include "AppEntry.h"
#include "CommandLine.h"
#include "HandOverWire.h"
#include "StepTimes.h"
#include "platform/ExecutableFolder.h"
#include "platform/HandOverClient.h"
#include "platform/InstanceFiles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <unistd.h>

namespace {

// A running copy that answers takes the links at once. Anything else (no copy, one still starting
// or quitting, a folder that cannot be used) is the body's to handle, with its retries and boxes.
bool HandedOverAtOnce(const std::vector<std::string> &Parameters)
{
    if (Parameters.empty())
        return false;
    try {
        const TInstancePaths Paths = InstancePaths(KestruneInstanceName);
        return SendHandOver(Paths.Socket, HandOverRecords(Parameters)) == THandOverResult::Delivered;
    } catch (const std::exception &) {
        return false;
    }
}

// The body sits beside the executable in the build tree and in the program's library folder once
// installed; never looked for in the current folder or through the environment, which another
// user or program could have prepared. Null when it cannot be loaded (said on standard error).
void *LoadBody(std::string &Module)
{
    const std::string Folder = ExecutableFolder();
    if (Folder.empty()) {
        std::fprintf(stderr, "kestrune: cannot find the program's own folder (/proc/self/exe: %s)\n",
                     std::strerror(errno));
        return nullptr;
    }
    const std::string Beside = Folder + '/' + KestruneModuleFileName;
    const std::string Installed = Folder + '/' + KESTRUNE_MODULE_DIR + '/' + KestruneModuleFileName;
    Module.clear();
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
    if (!Handle)
        std::fprintf(stderr, "kestrune: cannot load the program's module: %s\n", ::dlerror());
    // Never closed: its objects live until the process ends.
    return Handle;
}

} // namespace

int main(int argc, char *argv[])
{
    NoteStep("launcher-start");
    const TCommandLine Line = ParseCommandLine(argc, argv);
    const int Answered = HandleInformationOptions(Line);
    if (Answered >= 0)
        return Answered;

    // A later start hands its links to the copy that runs and ends, before any window or display
    // connection exists.
    if (HandedOverAtOnce(Line.Parameters)) {
        NoteStep("handed-over");
        return 0;
    }

    std::string Module;
    void *Body = LoadBody(Module);
    NoteStep("body-loaded");
    if (!Body)
        return 1;
    const auto Start = reinterpret_cast<TKestruneStart>(::dlsym(Body, KestruneStartSymbol));
    if (!Start) {
        std::fprintf(stderr, "kestrune: %s is not this program's module: %s\n", Module.c_str(), ::dlerror());
        return 1;
    }
    return Start(argc, argv);
}
