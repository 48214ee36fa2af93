// The whole run of a later start with one link parameter while the first copy runs and answers at
// once: spawn, lock check, connect, send, acknowledgement, exit. The first copy is the tests' peer
// program (same guard, answers at once). Two later copies are measured: the peer itself, and the
// real program (build/sources/kestrune) once its entry hands over.
//   bench_handover [google benchmark flags]    (run from anywhere; finds the build by its own path)
#include "KestruneClasses.h"
#include "PrivateHome.h"
#include "platform/InstanceGuard.h"

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

QString GBuildDir;

// The environment of this process with a private session's folders.
class TSession
{
public:
    TSession() : FHome(QDir::tempPath() + QStringLiteral("/kb-XXXXXX"))
    {
        const QString Runtime = FHome.path() + QStringLiteral("/run");
        QDir().mkpath(Runtime);
        ::chmod(QFile::encodeName(Runtime).constData(), 0700);
        // No display at all: a later start must not need one.
        FEnv = PrivateHomeEnvironment(FHome.path(), {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="});
        Log = FHome.path() + QStringLiteral("/first.log");
    }

    // Starts Program with Arguments; StdIn, when not -1, becomes its standard input.
    pid_t Spawn(const QString &Program, const QByteArrayList &Arguments, int StdIn = -1) const
    {
        const QByteArray Path = QFile::encodeName(Program);
        std::vector<char *> Argv{const_cast<char *>(Path.constData())};
        for (const QByteArray &A : Arguments)
            Argv.push_back(const_cast<char *>(A.constData()));
        Argv.push_back(nullptr);
        std::vector<char *> Envp;
        for (const std::string &E : FEnv)
            Envp.push_back(const_cast<char *>(E.c_str()));
        Envp.push_back(nullptr);
        posix_spawn_file_actions_t Actions;
        posix_spawn_file_actions_init(&Actions);
        if (StdIn >= 0)
            posix_spawn_file_actions_adddup2(&Actions, StdIn, STDIN_FILENO);
        pid_t Pid = -1;
        if (posix_spawn(&Pid, Path.constData(), &Actions, nullptr, Argv.data(), Envp.data()) != 0)
            Pid = -1;
        posix_spawn_file_actions_destroy(&Actions);
        return Pid;
    }

    QByteArray ReadLog() const
    {
        QFile F(Log);
        return F.open(QIODevice::ReadOnly) ? F.readAll() : QByteArray();
    }

    QString Log;

private:
    QTemporaryDir FHome;
    std::vector<std::string> FEnv;
};

// The exit status, or -1; a process still running after TimeoutMs (when given) is killed.
int RunToEnd(pid_t Pid, int TimeoutMs = -1)
{
    int Status = 0;
    if (Pid < 0)
        return -1;
    if (TimeoutMs < 0)
        return ::waitpid(Pid, &Status, 0) == Pid && WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
    for (int Waited = 0; ::waitpid(Pid, &Status, WNOHANG) == 0; Waited += 5) {
        if (Waited >= TimeoutMs) {
            ::kill(Pid, SIGKILL);
            ::waitpid(Pid, &Status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

QString PeerProgram()
{
    return GBuildDir + QStringLiteral("/tests/handover_peer");
}

QString RealProgram()
{
    return GBuildDir + QStringLiteral("/sources/kestrune");
}

QByteArray LinkParameter()
{
    TKestrunSite Site;
    Site.SetTitle("Example site");
    Site.SetURL("https://www.example.org/start/index.html");
    return EncodeLinkParameter(Site, false);
}

// The first copy: the peer, listening, until its standard input closes.
class TFirstCopy
{
public:
    bool Start()
    {
        int Pipe[2];
        if (::pipe2(Pipe, O_CLOEXEC) != 0)
            return false;
        FPid = Session.Spawn(PeerProgram(), {"--log", QFile::encodeName(Session.Log)}, Pipe[0]);
        ::close(Pipe[0]);
        FInput = Pipe[1];
        for (int I = 0; I < 1000 && FPid > 0; ++I) {
            if (Session.ReadLog().contains("listening\n"))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    ~TFirstCopy()
    {
        if (FInput >= 0)
            ::close(FInput);
        if (FPid > 0 && RunToEnd(FPid) != 0)
            std::fprintf(stderr, "bench_handover: the first copy did not end cleanly\n");
    }
    // True when the first copy's handler got Parameter.
    bool Received(const QByteArray &Parameter) const
    {
        return Session.ReadLog().contains("end " + Parameter.toHex() + '\n');
    }

    TSession Session;

private:
    pid_t FPid = -1;
    int FInput = -1;
};

TFirstCopy *GFirst = nullptr;

void BM_HandOver(benchmark::State &State, const QString &Program)
{
    const QByteArray Parameter = LinkParameter();
    if (!QFileInfo(Program).isExecutable()) {
        State.SkipWithError("program not built");
        return;
    }
    for (auto _ : State) {
        const auto Start = std::chrono::steady_clock::now();
        const int Exit = RunToEnd(GFirst->Session.Spawn(Program, {Parameter}));
        const auto End = std::chrono::steady_clock::now();
        State.SetIterationTime(std::chrono::duration<double>(End - Start).count());
        if (Exit != 0) {
            State.SkipWithError("the later copy failed");
            return;
        }
    }
}

bool HandsOver(const QString &Program)
{
    // A program whose entry does not hand over yet would try to start its window: it gets no display
    // and, at worst, is stopped.
    const QByteArray Probe = "probe-" + QFileInfo(Program).fileName().toUtf8();
    return QFileInfo(Program).isExecutable() &&
           RunToEnd(GFirst->Session.Spawn(Program, {Probe}), 15000) == 0 && GFirst->Received(Probe);
}

} // namespace

int main(int argc, char **argv)
{
    GBuildDir = QFileInfo(QFile::decodeName(argv[0])).absoluteDir().absoluteFilePath(QStringLiteral(".."));
    benchmark::Initialize(&argc, argv);
    ::signal(SIGPIPE, SIG_IGN);

    if (!QFileInfo(PeerProgram()).isExecutable()) {
        std::fprintf(stderr, "bench_handover: %s is not built (tests off?); not measured\n",
                     qPrintable(PeerProgram()));
        return 0;
    }
    TFirstCopy First;
    if (!First.Start()) {
        std::fprintf(stderr, "bench_handover: %s did not start listening\n", qPrintable(PeerProgram()));
        return 1;
    }
    GFirst = &First;
    const QList<std::pair<const char *, QString>> Programs{{"BM_HandOver/peer", PeerProgram()},
                                                           {"BM_HandOver/kestrune", RealProgram()}};
    for (const auto &[Name, Program] : Programs) {
        if (!HandsOver(Program)) {
            std::fprintf(stderr, "bench_handover: %s does not hand over; not measured\n",
                         qPrintable(Program));
            continue;
        }
        benchmark::RegisterBenchmark(Name, BM_HandOver, Program)
            ->Iterations(1)
            ->Repetitions(20)
            ->ReportAggregatesOnly(true)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
