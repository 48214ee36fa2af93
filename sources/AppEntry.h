#pragma once

// The program's body, built as the module libkestrune-app.so, and the launcher (main.cpp) that
// loads it. The launcher answers the information options and hands a later start's links to the
// running copy in plain C++, without Qt; only a start that does not end there pays for loading the
// windows and the web engine, by loading this module.

// Runs a start that the launcher did not end: takes the instance lock (or hands over to a copy that
// runs but did not answer yet), takes the data folder, and runs the program as the first copy.
// Argc and Argv go to the application object, which keeps them. Returns the exit status.
extern "C" int KestruneStart(int &Argc, char **Argv);

using TKestruneStart = int (*)(int &Argc, char **Argv);
inline constexpr const char *KestruneStartSymbol = "KestruneStart";
inline constexpr const char *KestruneModuleFileName = "libkestrune-app.so";

// The name both sides of the hand-over find each other by.
inline constexpr const char *KestruneInstanceName = "{B730922C-2110-4F3C-9E24-C5613B177BA3}";
