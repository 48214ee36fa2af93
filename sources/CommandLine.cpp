#include "CommandLine.h"

#include "KestruneVersion.h"

#include <cstdio>

TCommandLine ParseCommandLine(const QList<QByteArray> &Arguments)
{
    TCommandLine Result;
    for (const QByteArray &Argument : Arguments) {
        // The first information option decides, wherever it stands; nothing is opened then.
        if (Argument == "--help" || Argument == "-h")
            return {TCommandLineAction::ShowHelp, {}};
        if (Argument == "--version")
            return {TCommandLineAction::ShowVersion, {}};
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
