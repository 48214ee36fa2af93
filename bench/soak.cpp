// A long run under load: 10 site windows of local pages that change at every request, each watched
// by the change monitor at its shortest interval, while later starts hand a link over every few
// seconds. Prints the PSS of Kestrune's process tree every minute and ends with its growth per hour
// (fitted over the minutes after the warm-up) and the number of hand-overs that were lost.
// Run on an X server with a window manager (bench/soak.sh).
//
//   soak <kestrune binary> [--minutes N] [--handover-seconds N] [--warmup-minutes N]
//
// The handed-over link is of a site that opens in the system browser; the program's "browser" is a
// script of ours that writes each address it gets to a file. A hand-over is lost when the later
// start failed, or when its address never reached that file.

#include "KestruneHome.h"
#include "PageServer.h"
#include "ProcessTree.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>

namespace {

struct TOptions
{
    int Minutes = 30;
    int HandOverSeconds = 3;
    int WarmupMinutes = 5;
};

int Lines(const QString &Path)
{
    QFile File(Path);
    if (!File.open(QIODevice::ReadOnly))
        return 0;
    return int(File.readAll().count('\n'));
}

// Least-squares slope of Values over Minutes, in MiB a minute.
double Slope(const QList<double> &Minutes, const QList<double> &Values)
{
    const qsizetype N = Minutes.size();
    if (N < 2)
        return 0;
    double Mx = 0, My = 0;
    for (qsizetype i = 0; i < N; ++i) {
        Mx += Minutes[i];
        My += Values[i];
    }
    Mx /= double(N);
    My /= double(N);
    double Sxy = 0, Sxx = 0;
    for (qsizetype i = 0; i < N; ++i) {
        Sxy += (Minutes[i] - Mx) * (Values[i] - My);
        Sxx += (Minutes[i] - Mx) * (Minutes[i] - Mx);
    }
    return Sxx > 0 ? Sxy / Sxx : 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication App(argc, argv);
    const QStringList Arguments = App.arguments();
    if (Arguments.size() < 2) {
        std::fprintf(stderr, "usage: soak <kestrune binary> [--minutes N] [--handover-seconds N] "
                             "[--warmup-minutes N]\n");
        return 2;
    }
    const QString Program = Arguments[1];
    TOptions Options;
    for (qsizetype i = 2; i + 1 < Arguments.size(); i += 2) {
        const int Value = Arguments[i + 1].toInt();
        if (Arguments[i] == QLatin1String("--minutes"))
            Options.Minutes = qMax(1, Value);
        else if (Arguments[i] == QLatin1String("--handover-seconds"))
            Options.HandOverSeconds = qMax(1, Value);
        else if (Arguments[i] == QLatin1String("--warmup-minutes"))
            Options.WarmupMinutes = qMax(0, Value);
    }

    TPageServer Server;
    Server.Changing = true;
    if (!Server.Listen()) {
        std::fprintf(stderr, "soak: no local server\n");
        return 1;
    }
    QTemporaryDir Scratch;
    const QString Home = Scratch.path();
    TKestruneHome Kestrune;
    constexpr int Windows = 10;
    if (!Kestrune.Make(Home, Windows, [&Server](int Site) { return Server.Url(Site); })) {
        std::fprintf(stderr, "soak: cannot prepare the home folder\n");
        return 1;
    }
    // Every window watched at the shortest interval, and one site more that opens in the "browser".
    const QString Data = Home + QStringLiteral("/.local/share/Kestrune");
    TKestrunCollection Sites;
    LoadSites(Data, Sites);
    for (int i = 0; i < Sites.Count(); ++i) {
        Sites[i]->SetMonitorChanges(1);
        Sites[i]->SetMonitorInterval(0);
    }
    auto Outside = std::make_unique<TKestrunSite>();
    Outside->SetTitle("Outside");
    Outside->SetURL("http://127.0.0.1:9/outside");
    Outside->SetBrowserChoice(0);
    const QByteArray HandOverLink = EncodeLinkParameter(*Outside, false);
    Sites.Add(std::move(Outside));
    if (!SaveSites(Data, Sites)) {
        std::fprintf(stderr, "soak: cannot write the sites\n");
        return 1;
    }
    const QString Opened = Home + QStringLiteral("/opened.txt");
    const QString Bin = Home + QStringLiteral("/bin");
    QDir().mkpath(Bin);
    {
        QFile Script(Bin + QStringLiteral("/xdg-open"));
        if (!Script.open(QIODevice::WriteOnly))
            return 1;
        Script.write("#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"" + QFile::encodeName(Opened) + "\"\n");
        Script.close();
        Script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    QProcessEnvironment Environment = Kestrune.Environment;
    Environment.insert(QStringLiteral("PATH"), Bin + u':' + Environment.value(QStringLiteral("PATH")));

    auto Launch = [&](QProcess &Process, const QByteArray &Link) {
        Process.setProcessEnvironment(Environment);
        Process.setProgram(Program);
        Process.setArguments({QString::fromLatin1(Link)});
        Process.setStandardOutputFile(QProcess::nullDevice());
        Process.setStandardErrorFile(QProcess::nullDevice());
        Process.start();
    };

    QProcess Running;
    Launch(Running, Kestrune.Links.value(1));
    const qint64 Root = Running.processId();
    for (int Site = 1; Site <= Windows; ++Site) {
        if (Site > 1) {
            QProcess Later;
            Launch(Later, Kestrune.Links.value(Site));
            WaitUntil([&] { return Later.state() == QProcess::NotRunning; }, 30000);
        }
        if (!WaitUntil([&] { return Server.LoadedAt.contains(Site); }, 60000)) {
            std::fprintf(stderr, "soak: site %d did not load\n", Site);
            ::kill(pid_t(Root), SIGTERM);
            Running.waitForFinished(20000);
            return 1;
        }
    }
    std::printf("soak: %d windows watched every 20 s, a hand-over every %d s, %d minutes\n", Windows,
                Options.HandOverSeconds, Options.Minutes);
    std::printf("%6s %10s %10s %10s %6s %10s\n", "minute", "PSS MiB", "anon MiB", "processes", "sent",
                "failed");
    std::fflush(stdout);

    QElapsedTimer Clock;
    Clock.start();
    QList<double> Minutes, Pss, Anon;
    int Sent = 0;
    int Failed = 0; // later starts that did not end well within a minute
    QList<QProcess *> Pending;
    qint64 NextHandOver = 0;
    int NextMinute = 0;
    while (Running.state() == QProcess::Running && Clock.elapsed() <= qint64(Options.Minutes) * 60000) {
        if (Clock.elapsed() >= NextHandOver) {
            auto *Later = new QProcess;
            Launch(*Later, HandOverLink);
            Later->setProperty("started", Clock.elapsed());
            Pending.append(Later);
            ++Sent;
            NextHandOver += Options.HandOverSeconds * 1000;
        }
        for (qsizetype i = Pending.size() - 1; i >= 0; --i) {
            QProcess *Later = Pending[i];
            const bool Over = Clock.elapsed() - Later->property("started").toLongLong() > 60000;
            if (Later->state() == QProcess::NotRunning || Over) {
                if (Over || Later->exitStatus() != QProcess::NormalExit || Later->exitCode() != 0)
                    ++Failed;
                if (Later->state() != QProcess::NotRunning) {
                    Later->kill();
                    Later->waitForFinished(5000);
                }
                delete Pending.takeAt(i);
            }
        }
        if (Clock.elapsed() >= qint64(NextMinute) * 60000) {
            const double Now = TreePssMiB(Root);
            const double NowAnon = TreeMemoryMiB(Root, "Pss_Anon");
            if (NextMinute >= Options.WarmupMinutes) {
                Minutes << NextMinute;
                Pss << Now;
                Anon << NowAnon;
            }
            std::printf("%6d %10.1f %10.1f %10d %6d %10d\n", NextMinute, Now, NowAnon, int(Tree(Root).size()),
                        Sent, Failed);
            std::fflush(stdout);
            ++NextMinute;
        }
        WaitUntil([] { return false; }, 100);
    }
    const bool Alive = Running.state() == QProcess::Running;
    WaitUntil(
        [&] {
            return std::all_of(Pending.cbegin(), Pending.cend(),
                               [](QProcess *P) { return P->state() == QProcess::NotRunning; });
        },
        60000);
    for (QProcess *Later : std::as_const(Pending)) {
        if (Later->state() != QProcess::NotRunning || Later->exitCode() != 0)
            ++Failed;
        Later->kill();
        Later->waitForFinished(5000);
        delete Later;
    }
    // The "browser" is started by the program for each link; give the last ones a moment.
    WaitUntil([&] { return Lines(Opened) >= Sent; }, 10000);
    const int Arrived = Lines(Opened);
    ::kill(pid_t(Root), SIGTERM);
    if (!Running.waitForFinished(30000))
        Running.kill();

    // PSS also counts a share of the libraries, which moves when other programs map the same ones;
    // the anonymous part (heaps, stacks) is the program's own.
    const auto Growth = [&](const char *Name, const QList<double> &Values) {
        const double PerMinute = Slope(Minutes, Values);
        const double Base = Values.isEmpty() ? 0 : Values.first();
        std::printf(
            "%s growth after minute %d: %.2f MiB an hour (%.2f %% of %.1f MiB an hour), over %d samples\n",
            Name, Options.WarmupMinutes, PerMinute * 60, Base > 0 ? PerMinute * 60 * 100 / Base : 0.0, Base,
            int(Values.size()));
    };
    Growth("PSS", Pss);
    Growth("anonymous", Anon);
    std::printf("hand-overs: %d sent, %d failed, %d arrived, %d lost%s\n", Sent, Failed, Arrived,
                qMax(0, Sent - Arrived), Alive ? "" : " (the program ended before the time was up)");
    return Alive && Arrived >= Sent ? 0 : 1;
}
