// Site windows against Chromium's app mode, as the user meets them: the time from a start with a
// link to the page loaded (cold: the first start; warm: a later start handing over to the running
// copy), the memory of the whole process tree with 1, 5 and 10 windows of different sites, and the
// CPU time of the tree while 5 windows sit idle. Run under an X server (bench/browser_vs_chromium.sh).
//
//   browser_timing <kestrune binary> [chromium binary] [--idle-seconds N] [--repeat N] [--maximised]
//
// --maximised opens every window maximised (needs a window manager).
//
// Pages come from a server of our own on 127.0.0.1; site N is http://siteN.localhost:<port>/page,
// whose onload asks for /loaded?id=N: that request marks the page as loaded.

#include "KestruneHome.h"
#include "PageServer.h"
#include "ProcessTree.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <optional>
#include <unistd.h>

namespace {

// The CPU time a process has used, user and system, in seconds; 0 once it has gone.
double ProcessCpuSeconds(qint64 Pid)
{
    QFile Stat(QStringLiteral("/proc/%1/stat").arg(Pid));
    if (!Stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray Text = Stat.readAll();
    const QList<QByteArray> Fields = Text.mid(Text.lastIndexOf(')') + 2).split(' ');
    return (Fields.value(11).toDouble() + Fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

QHash<qint64, double> TreeCpuSeconds(qint64 Root)
{
    QHash<qint64, double> Seconds;
    for (const qint64 Pid : Tree(Root))
        Seconds.insert(Pid, ProcessCpuSeconds(Pid));
    return Seconds;
}

// One browser under test: how to start it on a site and where it keeps its state.
struct TBrowser
{
    QString Name;
    std::function<QStringList(const QByteArray &Url)> Arguments;
    QString Program;
    QProcessEnvironment Environment;
};

// The steps of opening one site, in ms after the start that asked for it: the program's own
// (a benchmark build writes them to standard error) and the page's.
using TSteps = QHash<QString, double>;

struct TResult
{
    QList<double> Cold, Warm, LaterRun;
    QList<TSteps> ColdSteps, WarmSteps;
    std::optional<double> Pss1, Pss5, Pss10, Idle;
    QString Breakdown1, Breakdown10, IdleBreakdown;
};

constexpr int LoadLimit = 60000;

// The step lines of a process's standard error from Offset on, each step's first time at or after
// Since, as ms after Since.
TSteps ReadSteps(const QString &File, qint64 Offset, double Since)
{
    TSteps Steps;
    QFile Log(File);
    if (!Log.open(QIODevice::ReadOnly) || !Log.seek(Offset))
        return Steps;
    while (!Log.atEnd()) {
        const QList<QByteArray> Fields = Log.readLine().trimmed().split(' ');
        if (Fields.size() != 3 || Fields[0] != "kestrune-step")
            continue;
        const QString Name = QString::fromLatin1(Fields[1]);
        const double At = Fields[2].toDouble();
        if (At >= Since && !Steps.contains(Name))
            Steps.insert(Name, At - Since);
    }
    return Steps;
}

void AddPageSteps(TSteps &Steps, const TPageServer &Server, int Site, double Since)
{
    const QHash<QString, double> Page = Server.PageSteps.value(Site);
    for (auto It = Page.cbegin(); It != Page.cend(); ++It)
        Steps.insert(QStringLiteral("page-") + It.key(), It.value() - Since);
}

TResult Measure(const TBrowser &Browser, TPageServer &Server, int Repeat, int IdleSeconds, int &NextSite,
                const QString &LogFolder)
{
    TResult Result;
    int Launches = 0;
    auto Launch = [&](QProcess &Process, int Site) {
        Process.setProcessEnvironment(Browser.Environment);
        Process.setProgram(Browser.Program);
        Process.setArguments(Browser.Arguments(Server.Url(Site)));
        Process.setStandardOutputFile(QProcess::nullDevice());
        const QString Log = LogFolder + QStringLiteral("/%1-%2.log").arg(Browser.Name).arg(++Launches);
        Process.setStandardErrorFile(Log);
        Process.setProperty("log", Log);
        Process.start();
    };
    auto Stop = [](QProcess &Process) {
        ::kill(pid_t(Process.processId()), SIGTERM);
        if (!WaitUntil([&] { return Process.state() == QProcess::NotRunning; }, 15000)) {
            Process.kill();
            Process.waitForFinished(5000);
        }
    };
    auto Painted = [&](int Site) {
        WaitUntil([&] { return Server.PageSteps.value(Site).contains(QStringLiteral("paint")); }, 2000);
    };

    // A first run of all fills the profile's folders, as an earlier use of the program would have.
    {
        QProcess First;
        const int Site = NextSite++;
        Launch(First, Site);
        WaitUntil([&] { return Server.LoadedAt.contains(Site); }, LoadLimit);
        Stop(First);
    }

    for (int i = 0; i < Repeat; ++i) {
        QProcess Process;
        const int Site = NextSite++;
        const qint64 Start = Server.Clock.elapsed();
        const double Wall = WallMilliseconds();
        Launch(Process, Site);
        if (WaitUntil([&] { return Server.LoadedAt.contains(Site); }, LoadLimit)) {
            Result.Cold << double(Server.LoadedAt[Site] - Start);
            Painted(Site);
            TSteps Steps = ReadSteps(Process.property("log").toString(), 0, Wall);
            AddPageSteps(Steps, Server, Site, Wall);
            Result.ColdSteps << Steps;
        }
        Stop(Process);
    }

    QProcess Running;
    int Site = NextSite++;
    Launch(Running, Site);
    const QString RunningLog = Running.property("log").toString();
    int Open = 0;
    if (WaitUntil([&] { return Server.LoadedAt.contains(Site); }, LoadLimit))
        Open = 1;
    QThread::msleep(1500);
    QCoreApplication::processEvents();
    if (Open == 1) {
        Result.Pss1 = TreePssMiB(Running.processId());
        Result.Breakdown1 = TreeBreakdown(Running.processId());
    }
    auto OpenAnother = [&](bool Time) {
        // A second between opens, as a user's clicks would leave at the quickest: what a browser
        // prepares once a window has opened is ready by then.
        WaitUntil([] { return false; }, 1000);
        QProcess Later;
        const int Next = NextSite++;
        const qint64 Offset = QFileInfo(RunningLog).size();
        std::optional<qint64> Ended;
        QObject::connect(&Later, &QProcess::finished, &Later, [&] { Ended = Server.Clock.elapsed(); });
        const qint64 Start = Server.Clock.elapsed();
        const double Wall = WallMilliseconds();
        Launch(Later, Next);
        const bool Loaded = WaitUntil([&] { return Server.LoadedAt.contains(Next); }, LoadLimit);
        WaitUntil([&] { return Later.state() == QProcess::NotRunning; }, 10000);
        if (Later.state() != QProcess::NotRunning)
            Later.kill();
        if (Loaded && Time) {
            Result.Warm << double(Server.LoadedAt[Next] - Start);
            if (Ended)
                Result.LaterRun << double(*Ended - Start);
            Painted(Next);
            TSteps Steps = ReadSteps(Later.property("log").toString(), 0, Wall);
            Steps.insert(ReadSteps(RunningLog, Offset, Wall));
            AddPageSteps(Steps, Server, Next, Wall);
            Result.WarmSteps << Steps;
        }
        Open += Loaded ? 1 : 0;
    };
    while (Open < 5)
        OpenAnother(true);
    QThread::msleep(1500);
    QCoreApplication::processEvents();
    Result.Pss5 = TreePssMiB(Running.processId());
    if (IdleSeconds > 0) {
        const QHash<qint64, double> Before = TreeCpuSeconds(Running.processId());
        WaitUntil([] { return false; }, IdleSeconds * 1000);
        const QHash<qint64, double> After = TreeCpuSeconds(Running.processId());
        double Used = 0;
        for (auto It = After.cbegin(); It != After.cend(); ++It)
            Used += It.value() - Before.value(It.key());
        Result.Idle = Used;
        Result.IdleBreakdown = TreeBreakdown(
            Running.processId(), [&](qint64 Pid) { return After.value(Pid) - Before.value(Pid); },
            QStringLiteral("s"), 2);
    }
    while (Open < 10)
        OpenAnother(Result.Warm.size() < Repeat);
    QThread::msleep(1500);
    QCoreApplication::processEvents();
    Result.Pss10 = TreePssMiB(Running.processId());
    Result.Breakdown10 = TreeBreakdown(Running.processId());
    Stop(Running);
    return Result;
}

// Each step's median over the opens that reached it, in the order of those medians.
QString StepLine(const QList<TSteps> &Opens)
{
    QHash<QString, QList<double>> ByStep;
    for (const TSteps &Steps : Opens) {
        for (auto It = Steps.cbegin(); It != Steps.cend(); ++It)
            ByStep[It.key()] << It.value();
    }
    QList<QPair<double, QString>> Order;
    for (auto It = ByStep.cbegin(); It != ByStep.cend(); ++It)
        Order.append({Median(It.value()), It.key()});
    std::sort(Order.begin(), Order.end());
    QStringList Parts;
    for (const auto &[At, Name] : Order)
        Parts << QStringLiteral("%1 %2").arg(Name).arg(At, 0, 'f', 1);
    return Parts.join(QStringLiteral(", "));
}

void Report(const QString &Name, const TResult &Result)
{
    auto Value = [](const std::optional<double> &V) {
        return V ? QString::number(*V, 'f', 1) : QStringLiteral("n/a");
    };
    std::printf("%-10s cold start median %7.1f ms (%lld runs)   warm open median %7.1f ms (%lld runs)\n",
                qPrintable(Name), Median(Result.Cold), qlonglong(Result.Cold.size()), Median(Result.Warm),
                qlonglong(Result.Warm.size()));
    std::printf("%-10s the later start's own run (launch to exit) median %.1f ms (%lld runs)\n",
                qPrintable(Name), Median(Result.LaterRun), qlonglong(Result.LaterRun.size()));
    std::printf("%-10s steps of a cold start (ms after the launch, medians): %s\n", qPrintable(Name),
                qPrintable(StepLine(Result.ColdSteps)));
    std::printf("%-10s steps of a warm open (ms after the later start's launch, medians): %s\n",
                qPrintable(Name), qPrintable(StepLine(Result.WarmSteps)));
    std::printf(
        "%-10s PSS of the tree: 1 window %s MiB, 5 windows %s MiB, 10 windows %s MiB; idle CPU %s s\n",
        qPrintable(Name), qPrintable(Value(Result.Pss1)), qPrintable(Value(Result.Pss5)),
        qPrintable(Value(Result.Pss10)),
        Result.Idle ? qPrintable(QString::number(*Result.Idle, 'f', 3)) : "n/a");
    std::printf("%-10s by process, 1 window: %s\n", qPrintable(Name), qPrintable(Result.Breakdown1));
    std::printf("%-10s by process, 10 windows: %s\n", qPrintable(Name), qPrintable(Result.Breakdown10));
    std::printf("%-10s idle CPU by process: %s\n", qPrintable(Name), qPrintable(Result.IdleBreakdown));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication App(argc, argv);
    QStringList Arguments = App.arguments().mid(1);
    int Repeat = 5;
    int IdleSeconds = 30;
    const bool Maximised = Arguments.removeAll(QStringLiteral("--maximised")) > 0;
    for (qsizetype i = 0; i + 1 < Arguments.size(); ++i) {
        if (Arguments[i] == QLatin1String("--repeat") || Arguments[i] == QLatin1String("--idle-seconds")) {
            (Arguments[i] == QLatin1String("--repeat") ? Repeat : IdleSeconds) = Arguments[i + 1].toInt();
            Arguments.remove(i, 2);
            --i;
        }
    }
    if (Arguments.isEmpty()) {
        std::fprintf(
            stderr,
            "usage: browser_timing <kestrune> [chromium] [--repeat N] [--idle-seconds N] [--maximised]\n");
        return 2;
    }
    TPageServer Server;
    if (!Server.Listen())
        return 1;
    QTemporaryDir Home;
    const int SiteCount = 2 * (Repeat + 12);

    // Kestrune: its own HOME, data and runtime folders; a site per host name; each run a link.
    TBrowser Kestrune;
    Kestrune.Name = QStringLiteral("Kestrune");
    Kestrune.Program = Arguments[0];
    TKestruneHome KHome;
    if (!KHome.Make(
            Home.filePath(QStringLiteral("kestrune")), SiteCount, [&](int i) { return Server.Url(i); },
            QSize(640, 480), Maximised))
        return 1;
    Kestrune.Environment = KHome.Environment;
    QHash<QByteArray, QByteArray> Links;
    for (auto It = KHome.Links.cbegin(); It != KHome.Links.cend(); ++It)
        Links.insert(Server.Url(It.key()), It.value());
    Kestrune.Arguments = [&Links](const QByteArray &Url) {
        return QStringList{QString::fromLatin1(Links.value(Url))};
    };

    int NextSite = 1;
    const QString Logs = Home.filePath(QStringLiteral("logs"));
    QDir().mkpath(Logs);
    Kestrune.Environment.insert(QStringLiteral("KESTRUNE_STEP_TIMES"), QStringLiteral("1"));
    const TResult K = Measure(Kestrune, Server, Repeat, IdleSeconds, NextSite, Logs);
    Report(Kestrune.Name, K);

    if (Arguments.size() > 1) {
        TBrowser Chromium;
        Chromium.Name = QStringLiteral("Chromium");
        Chromium.Program = Arguments[1];
        Chromium.Environment = QProcessEnvironment::systemEnvironment();
        const QString Profile = Home.filePath(QStringLiteral("chromium"));
        Chromium.Arguments = [Profile, Maximised](const QByteArray &Url) {
            QStringList Flags{QStringLiteral("--app=") + QString::fromLatin1(Url),
                              QStringLiteral("--user-data-dir=") + Profile,
                              QStringLiteral("--no-first-run"),
                              QStringLiteral("--disable-gpu"),
                              QStringLiteral("--disable-background-networking"),
                              QStringLiteral("--disable-component-update"),
                              QStringLiteral("--disable-sync"),
                              QStringLiteral("--disable-quic")};
            if (::geteuid() == 0)
                Flags << QStringLiteral("--no-sandbox");
            if (Maximised)
                Flags << QStringLiteral("--start-maximized");
            return Flags;
        };
        NextSite = SiteCount / 2 + 1;
        const TResult C = Measure(Chromium, Server, Repeat, IdleSeconds, NextSite, Logs);
        Report(Chromium.Name, C);
        auto Ratio = [](double A, double B) { return B > 0 ? A / B : -1; };
        std::printf(
            "ratios Kestrune/Chromium: cold %.2f, warm %.2f, later start's run %.2f, PSS at 10 windows "
            "%.2f, idle CPU %.2f\n",
            Ratio(Median(K.Cold), Median(C.Cold)), Ratio(Median(K.Warm), Median(C.Warm)),
            Ratio(Median(K.LaterRun), Median(C.LaterRun)), Ratio(K.Pss10.value_or(-1), C.Pss10.value_or(0)),
            Ratio(K.Idle.value_or(-1), C.Idle.value_or(0)));
    }
    return 0;
}
