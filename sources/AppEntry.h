#pragma once

class TInstanceGuard;
struct TCommandLine;

// The program's body, built as the module libkestrune-app.so. The launcher (main.cpp) answers the
// information options and hands a later start over with QtCore alone; only a first copy pays for
// loading the windows and the web engine, by loading this module.

// Runs the program as the first copy: Guard holds the lock (its AlreadyRunning returned false) and
// Line is the parsed command line. Argc and Argv go to the application object, which keeps them.
// Returns the exit status.
extern "C" int KestruneRun(int &Argc, char **Argv, TInstanceGuard &Guard, const TCommandLine &Line);

using TKestruneRun = int (*)(int &Argc, char **Argv, TInstanceGuard &Guard, const TCommandLine &Line);
inline constexpr const char *KestruneRunSymbol = "KestruneRun";

// Shows Message (local 8-bit text) in an error box, for a start that cannot go on; returns once the
// user has closed it. Needs a display.
extern "C" void KestruneShowStartError(int &Argc, char **Argv, const char *Message);

using TKestruneShowStartError = void (*)(int &Argc, char **Argv, const char *Message);
inline constexpr const char *KestruneShowStartErrorSymbol = "KestruneShowStartError";
inline constexpr const char *KestruneModuleFileName = "libkestrune-app.so";
