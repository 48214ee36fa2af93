#pragma once

#include <string>
#include <string_view>
#include <vector>

// The program's own options come before everything else, even before the instance guard, so that
// "kestrune --version" answers on a machine without a display and never wakes a running copy.
// Plain C++: the launcher reads its command line without Qt.
enum class TCommandLineAction
{
    Run,
    ShowHelp,
    ShowVersion
};

struct TCommandLine
{
    TCommandLineAction Action = TCommandLineAction::Run;
    // Everything that is not one of our options, in order: each goes down the open-link road.
    std::vector<std::string> Parameters;
};

// Arguments is the command line without the program name. A link parameter is plain hex, so it can
// never be taken for an option; any other text (a file name, "--foo", "") stays a parameter.
TCommandLine ParseCommandLine(const std::vector<std::string> &Arguments);
// The same for main()'s arguments (argv[0] is the program name).
TCommandLine ParseCommandLine(int argc, const char *const *argv);

std::string_view CommandLineUsage();
std::string_view VersionText();

// For main(): prints the usage or the version that Line asks for to standard output and returns the
// exit status, or returns -1 when the program is to start normally.
int HandleInformationOptions(const TCommandLine &Line);
