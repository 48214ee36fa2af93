#include "CommandLine.h"

#include "KestruneVersion.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace {

// The toolkit's own options (Qt 6: QGuiApplication, QApplication and the xcb platform), which
// QApplication takes out of argv. They must not go down the open-link road either: a session
// manager restarts the program with "-session <id>", and every stray word would cost the user a
// "Can't open link!" box at login.
bool IsToolkitOptionWithValue(std::string_view Name)
{
    static constexpr std::array<std::string_view, 16> Names = {"platform",
                                                               "platformpluginpath",
                                                               "platformtheme",
                                                               "plugin",
                                                               "qwindowgeometry",
                                                               "qwindowicon",
                                                               "qwindowtitle",
                                                               "session",
                                                               "geometry",
                                                               "title",
                                                               "icon",
                                                               "display",
                                                               "name",
                                                               "visual",
                                                               "style",
                                                               "stylesheet"};
    return std::find(Names.begin(), Names.end(), Name) != Names.end();
}

bool IsToolkitFlag(std::string_view Name)
{
    static constexpr std::array<std::string_view, 8> Names = {
        "reverse", "testability", "widgetcount", "nograb", "dograb", "sync", "qdevel", "qdebug"};
    return std::find(Names.begin(), Names.end(), Name) != Names.end();
}

} // namespace

TCommandLine ParseCommandLine(const std::vector<std::string> &Arguments)
{
    TCommandLine Result;
    for (size_t i = 0; i < Arguments.size(); ++i) {
        const std::string_view Argument = Arguments[i];
        // The first information option decides, wherever it stands; nothing is opened then.
        if (Argument == "--help" || Argument == "-h")
            return {TCommandLineAction::ShowHelp, {}};
        if (Argument == "--version")
            return {TCommandLineAction::ShowVersion, {}};
        // Only what begins with a dash can be the toolkit's; anything else unknown is left as it is.
        if (Argument.starts_with('-')) {
            const std::string_view Name = Argument.substr(Argument.starts_with("--") ? 2 : 1);
            const size_t Equals = Name.find('=');
            if (Equals != std::string_view::npos && Equals > 0 &&
                (IsToolkitOptionWithValue(Name.substr(0, Equals)) || Name.starts_with("qmljsdebugger=")))
                continue;
            if (IsToolkitFlag(Name))
                continue;
            if (IsToolkitOptionWithValue(Name)) {
                ++i; // its value, as the toolkit takes it
                continue;
            }
        }
        Result.Parameters.emplace_back(Argument);
    }
    return Result;
}

TCommandLine ParseCommandLine(int argc, const char *const *argv)
{
    std::vector<std::string> Arguments;
    for (int i = 1; i < argc && argv[i] != nullptr; ++i)
        Arguments.emplace_back(argv[i]);
    return ParseCommandLine(Arguments);
}

std::string_view CommandLineUsage()
{
    return "Usage: kestrune [LINK...]\n"
           "Keeps a list of web sites and opens each one as if it were an application of its own.\n"
           "\n"
           "  LINK        a site link from a Kestrune shortcut: opens that site, in the\n"
           "              copy of Kestrune that already runs if there is one\n"
           "  -h, --help  show this help and exit\n"
           "  --version   show the version and exit\n";
}

std::string_view VersionText()
{
    return "Kestrune " KESTRUNE_VERSION_STRING "\n";
}

int HandleInformationOptions(const TCommandLine &Line)
{
    if (Line.Action == TCommandLineAction::Run)
        return -1;
    const std::string_view Text =
        Line.Action == TCommandLineAction::ShowHelp ? CommandLineUsage() : VersionText();
    // A closed or full standard output must not pass for success ("kestrune --version > /dev/full").
    const bool Written = std::fwrite(Text.data(), 1, Text.size(), stdout) == Text.size();
    const bool Flushed = std::fflush(stdout) == 0;
    return Written && Flushed ? 0 : 1;
}
