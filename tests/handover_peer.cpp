// A small program with the start-up of Kestrune's entry, for the hand-over tests and benchmark:
//   handover_peer [--log FILE] [--listen-delay MS] [--handler-delay MS] [--quit-delay MS] [--name NAME]
//                 [--] PARAMETERS...
// Lines in the log (parameters in hex): "later" (handed over, ended), "first", "own <hex>" (own
// parameter), "listening", "begin <hex>" / "end <hex>" around the handler of a handed-over
// parameter, "quitting". The first copy ends when its standard input closes; with a quit delay it
// first stops taking links ("quitting") and ends that much later, as the program's quit road does
// while it saves.

#include "platform/InstanceGuard.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

int GLog = -1;

void Log(const QByteArray &Line)
{
    // One write a line, straight to the file: a test reads it the moment the later copy has ended.
    const QByteArray Data = Line + '\n';
    if (GLog >= 0 && ::write(GLog, Data.constData(), size_t(Data.size())) < 0)
        std::perror("handover_peer: log");
}

void Wait(int Ms)
{
    if (Ms <= 0)
        return;
    QEventLoop Loop;
    QTimer::singleShot(Ms, &Loop, &QEventLoop::quit);
    Loop.exec();
}

} // namespace

int main(int argc, char **argv)
{
    QByteArray LogFile;
    std::string Name = "{B730922C-2110-4F3C-9E24-C5613B177BA3}";
    int ListenDelay = 0;
    int HandlerDelay = 0;
    int QuitDelay = -1;
    int I = 1;
    for (; I < argc; ++I) {
        const QByteArray Option = argv[I];
        if (Option == "--") {
            ++I;
            break;
        }
        if (I + 1 >= argc || !Option.startsWith("--"))
            break;
        if (Option == "--log")
            LogFile = argv[++I];
        else if (Option == "--listen-delay")
            ListenDelay = std::atoi(argv[++I]);
        else if (Option == "--handler-delay")
            HandlerDelay = std::atoi(argv[++I]);
        else if (Option == "--quit-delay")
            QuitDelay = std::atoi(argv[++I]);
        else if (Option == "--name")
            Name = argv[++I];
        else
            break;
    }
    std::vector<std::string> Parameters;
    for (; I < argc; ++I)
        Parameters.emplace_back(argv[I]);
    if (!LogFile.isEmpty())
        GLog = ::open(LogFile.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);

    TInstanceGuard Guard(Name);
    try {
        if (Guard.AlreadyRunning(Parameters)) {
            Log("later");
            return 0;
        }
    } catch (const std::exception &Error) {
        std::fprintf(stderr, "%s\n", Error.what());
        return 1;
    }
    Log("first");

    QCoreApplication App(argc, argv);
    QObject Window;
    ProcessParameters(ByteArrays(Parameters),
                      [](const QByteArray &Parameter) { Log("own " + Parameter.toHex()); });

    QSocketNotifier Input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&Input, &QSocketNotifier::activated, &App, [&Input, &Guard, QuitDelay] {
        char Buffer[256];
        if (::read(STDIN_FILENO, Buffer, sizeof(Buffer)) <= 0) {
            Input.setEnabled(false);
            if (QuitDelay < 0) {
                QCoreApplication::quit();
                return;
            }
            Guard.StopTakingLinks();
            Log("quitting");
            QTimer::singleShot(QuitDelay, &QCoreApplication::quit);
        }
    });

    Wait(ListenDelay);
    if (!Guard.Listen(&Window, [HandlerDelay](const QByteArray &Parameter) {
            Log("begin " + Parameter.toHex());
            // Stands in for a message box: a nested event loop while the later copy waits.
            Wait(HandlerDelay);
            Log("end " + Parameter.toHex());
        })) {
        std::fprintf(stderr, "handover_peer: cannot listen on %s\n", Guard.Paths().Socket.c_str());
        return 2;
    }
    Log("listening");
    return App.exec();
}
