// The launcher: answers the information options and hands a later start's parameters to the copy
// that runs, linking QtCore alone, so that a later start ends within a few milliseconds. Only a
// first copy loads the program's body (libkestrune-app.so) with its windows and web engine.
#include "AppEntry.h"
#include "CommandLine.h"
#include "DataFolder.h"
#include "StepTimes.h"
#include "platform/DataFolderLock.h"
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

template <typename TFunction> TFunction BodyFunction(void *Body, const std::string &Module, const char *Name)
{
    auto Function = reinterpret_cast<TFunction>(::dlsym(Body, Name));
    if (!Function)
        std::fprintf(stderr, "kestrune: %s is not this program's module: %s\n", Module.c_str(), ::dlerror());
    return Function;
}

// A start from the application menu has no terminal: what stops it is said in a box as well,
// where there is a display to show one.
bool DisplayExists()
{
    const char *Platform = std::getenv("QT_QPA_PLATFORM");
    if (Platform &&
        (std::strncmp(Platform, "offscreen", 9) == 0 || std::strncmp(Platform, "minimal", 7) == 0))
        return false;
    const char *X11 = std::getenv("DISPLAY");
    const char *Wayland = std::getenv("WAYLAND_DISPLAY");
    return (X11 && *X11) || (Wayland && *Wayland);
}

// One line on standard error, and the box; the start ends with status 1.
int FailStart(int &argc, char **argv, const QString &Message)
{
    const QByteArray Text = Message.toLocal8Bit();
    std::fprintf(stderr, "kestrune: %s\n", Text.constData());
    if (DisplayExists()) {
        std::string Module;
        if (void *Body = LoadBody(Module)) {
            if (const auto Show =
                    BodyFunction<TKestruneShowStartError>(Body, Module, KestruneShowStartErrorSymbol))
                Show(argc, argv, Text.constData());
        }
    }
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    NoteStep("launcher-start");
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
        if (Guard.AlreadyRunning(Line.Parameters)) {
            NoteStep("handed-over");
            return 0;
        }
    } catch (const std::exception &Error) {
        return FailStart(argc, argv, QString::fromLocal8Bit(Error.what()));
    }

    std::string Module;
    void *Body = LoadBody(Module);
    NoteStep("body-loaded");
    const auto Run = Body ? BodyFunction<TKestruneRun>(Body, Module, KestruneRunSymbol) : nullptr;
    if (!Run)
        return 1;

    // Copies that see different runtime folders (a shell without XDG_RUNTIME_DIR, su, ssh) do not
    // find each other above; the data folder they share tells. Taken before anything is read, and
    // held until the program has saved and ended. A folder that cannot be made is the body's to say.
    const QString Folder = ProgramFolderOf(QString::fromStdString(ExecutableFolder()));
    TDataFolderLock DataLock(Folder);
    if (!Folder.isEmpty() && !DataLock.TryLock())
        return FailStart(argc, argv,
                         DataLock.HeldElsewhereMessage() +
                             QStringLiteral(" This start ends without changing anything there."));
    return Run(argc, argv, Guard, Line);
}
