// Start-up: from the process start to the main window shown, with 1,000 sites, offscreen. The
// program ends right after its first show when KESTRUNE_BENCH_QUIT_AFTER_SHOW is set (it never sets
// it itself). Each run has its own private folders, so no other copy is found.
//   bench_startup [google benchmark flags]    (finds the build by its own path)
#include "KestruneClasses.h"
#include "PrivateHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

QString GBuildDir;

class TStartup
{
public:
    explicit TStartup(int SiteCount) : FHome(QDir::tempPath() + QStringLiteral("/kbs-XXXXXX"))
    {
        const QString Runtime = FHome.path() + QStringLiteral("/run");
        const QString Data = FHome.path() + QStringLiteral("/data/Kestrune");
        QDir().mkpath(Runtime);
        QDir().mkpath(Data);
        ::chmod(QFile::encodeName(Runtime).constData(), 0700);
        TKestrunCollection Sites;
        for (int i = 0; i < SiteCount; ++i) {
            auto Site = std::make_unique<TKestrunSite>();
            Site->SetTitle("Site number " + QByteArray::number(i));
            Site->SetURL("https://www.example.org/site/" + QByteArray::number(i) + "/index.html");
            Sites.Add(std::move(Site));
        }
        FReady = SaveSites(Data, Sites);

        FEnv = PrivateHomeEnvironment(FHome.path(), {"QT_QPA_PLATFORM="});
        FEnv.push_back("QT_QPA_PLATFORM=offscreen");
        FEnv.push_back("KESTRUNE_BENCH_QUIT_AFTER_SHOW=1");
    }

    bool Ready() const { return FReady; }

    // Runs the program to its end; false when it did not end well.
    bool Run() const
    {
        const QByteArray Path = QFile::encodeName(GBuildDir + QStringLiteral("/sources/kestrune"));
        std::vector<char *> Argv{const_cast<char *>(Path.constData()), nullptr};
        std::vector<char *> Envp;
        for (const std::string &E : FEnv)
            Envp.push_back(const_cast<char *>(E.c_str()));
        Envp.push_back(nullptr);
        pid_t Pid = -1;
        if (posix_spawn(&Pid, Path.constData(), nullptr, nullptr, Argv.data(), Envp.data()) != 0)
            return false;
        int Status = 0;
        return ::waitpid(Pid, &Status, 0) == Pid && WIFEXITED(Status) && WEXITSTATUS(Status) == 0;
    }

private:
    QTemporaryDir FHome;
    std::vector<std::string> FEnv;
    bool FReady = false;
};

void BM_StartupToShown(benchmark::State &State)
{
    TStartup Startup(int(State.range(0)));
    if (!Startup.Ready()) {
        State.SkipWithError("cannot write the site file");
        return;
    }
    for (auto _ : State) {
        const auto Start = std::chrono::steady_clock::now();
        const bool Ok = Startup.Run();
        const auto End = std::chrono::steady_clock::now();
        if (!Ok) {
            State.SkipWithError("the program did not end well");
            return;
        }
        State.SetIterationTime(std::chrono::duration<double>(End - Start).count());
    }
}
BENCHMARK(BM_StartupToShown)
    ->Arg(1000)
    ->Arg(0)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace

int main(int argc, char **argv)
{
    GBuildDir =
        QFileInfo(QString::fromLocal8Bit(argv[0])).absoluteDir().absolutePath() + QStringLiteral("/..");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
