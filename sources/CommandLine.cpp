#include "CommandLine.h"

#include "KestruneVersion.h"

#include <cstdio>

namespace {

// The toolkit's own options (Qt 6: QGuiApplication, QApplication and the xcb platform), which
// QApplication takes out of argv. They must not go down the open-link road either: a session
// manager restarts the program with "-session <id>", and every stray word would cost the user a
// "Can't open link!" box at login.
bool IsToolkitOptionWithValue(const QByteArray &Name)
{
    static const QList<QByteArray> Names = {"platform",
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
    return Names.contains(Name);
}

bool IsToolkitFlag(const QByteArray &Name)
{
    static const QList<QByteArray> Names = {"reverse", "testability", "widgetcount", "nograb",
                                            "dograb",  "sync",        "qdevel",      "qdebug"};
    return Names.contains(Name);
}

} // namespace

TCommandLine ParseCommandLine(const QList<QByteArray> &Arguments)
{
    TCommandLine Result;
    for (qsizetype i = 0; i < Arguments.size(); ++i) {
        const QByteArray &Argument = Arguments[i];
        // The first information option decides, wherever it stands; nothing is opened then.
        if (Argument == "--help" || Argument == "-h")
            return {TCommandLineAction::ShowHelp, {}};
        if (Argument == "--version")
            return {TCommandLineAction::ShowVersion, {}};
        // Only what begins with a dash can be the toolkit's; anything else unknown is left as it is.
        if (Argument.startsWith('-')) {
            const QByteArray Name = Argument.mid(Argument.startsWith("--") ? 2 : 1);
            const qsizetype Equals = Name.indexOf('=');
            if (Equals > 0 &&
                (IsToolkitOptionWithValue(Name.left(Equals)) || Name.startsWith("qmljsdebugger=")))
                continue;
            if (IsToolkitFlag(Name))
                continue;
            if (IsToolkitOptionWithValue(Name)) {
                ++i; // its value, as the toolkit takes it
                continue;
            }
        }
        Result.Parameters.append(Argument);
    }
    return Result;
}

QByteArray CommandLineUsage()
{
    return QByteArrayLiteral("Usage: kestrune [LINK...]\n"
                             "Keeps a list of web sites and opens each one as if it were an application of "
                             "its own.\n"
                             "\n"
                             "  LINK        a site link from a Kestrune shortcut: opens that site, in the\n"
                             "              copy of Kestrune that already runs if there is one\n"
                             "  -h, --help  show this help and exit\n"
                             "  --version   show the version and exit\n");
}

QByteArray VersionText()
{
    return QByteArrayLiteral("Kestrune " KESTRUNE_VERSION_STRING "\n");
}

int HandleInformationOptions(int argc, const char *const *argv)
{
    QList<QByteArray> Arguments;
    for (int i = 1; i < argc && argv[i] != nullptr; ++i)
        Arguments.append(QByteArray(argv[i]));
    const TCommandLine Line = ParseCommandLine(Arguments);
    if (Line.Action == TCommandLineAction::Run)
        return -1;
    const QByteArray Text = Line.Action == TCommandLineAction::ShowHelp ? CommandLineUsage() : VersionText();
    // A closed or full standard output must not pass for success ("kestrune --version > /dev/full").
    const bool Written = std::fwrite(Text.constData(), 1, size_t(Text.size()), stdout) == size_t(Text.size());
    const bool Flushed = std::fflush(stdout) == 0;
    return Written && Flushed ? 0 : 1;
}
