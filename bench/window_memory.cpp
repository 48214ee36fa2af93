// Memory after closing site windows: the PSS of Kestrune's whole process tree with 1 site window,
// with 10 more windows of 10 other sites, and a while after those 10 have been closed through the
// window manager, as a click on their close boxes would. Run on an X server with a window manager
// and wmctrl (bench/window_memory.sh). The tree's anonymous memory (heaps, stacks) is shown beside
// its PSS: PSS also counts a share of the libraries, which changes whenever another program on the
// machine maps the same ones (another Qt program starting or ending), and the anonymous part does not.
//
//   window_memory <kestrune binary> [--repeat N] [--settle-seconds N] [--cycles N] [--probe-trim]
//
// --cycles N: opens and closes the 10 windows N times in each run, measuring after each closing:
// memory that grows from one cycle to the next is kept for good.
// --probe-trim: after the last measurement, has gdb call malloc_trim(0) in the main process and
// measures once more: what the C library still held for itself after the windows were closed.
//
// Each run starts the program anew in the same home (an earlier run made its profile, as an earlier
// use would have) with a link to site 1, then hands it links to sites 2..11. Pages come from a
// server of our own on 127.0.0.1, one host name a site.

#include "KestruneHome.h"
#include "PageServer.h"
#include "ProcessTree.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <optional>
#include <utility>

namespace {

constexpr int LoadLimit = 60000;
constexpr int OtherWindows = 10;

// The memory of the tree at one moment.
struct TSample
{
    double Pss = 0;    // MiB, the whole tree
    double Anon = 0;   // MiB, the whole tree's anonymous memory (its share of it)
    QString ByKind;    // PSS by kind of process
    QString Main;      // the main process in detail
    int Processes = 0; // in the tree
};

// The main process: its resident size, and its PSS split into anonymous (heaps, stacks), file-backed
// and shared memory.
QString MainDetail(qint64 Pid)
{
    QStringList Parts;
    for (const char *Field : {"Rss", "Pss_Anon", "Pss_File", "Pss_Shmem"})
        Parts << QStringLiteral("%1 %2")
                     .arg(QLatin1String(Field))
                     .arg(ProcessMemoryKb(Pid, Field) / 1024.0, 0, 'f', 1);
    return Parts.join(QStringLiteral(", ")) + QStringLiteral(" MiB");
}

TSample Sample(qint64 Root)
{
    return {TreePssMiB(Root), TreeMemoryMiB(Root, "Pss_Anon"), TreeBreakdown(Root), MainDetail(Root),
            int(Tree(Root).size())};
}

void Pause(int Seconds)
{
    WaitUntil([] { return false; }, Seconds * 1000);
}

// The titles of the windows on the screen, as the window manager lists them.
QStringList WindowTitles()
{
    QProcess List;
    List.start(QStringLiteral("wmctrl"), {QStringLiteral("-l")});
    if (!List.waitForFinished(10000))
        return {};
    QStringList Titles;
    for (const QByteArray &Line : List.readAllStandardOutput().split('\n')) {
        // id, desktop, machine, title
        const QList<QByteArray> Fields = Line.simplified().split(' ');
        if (Fields.size() >= 4)
            Titles << QString::fromUtf8(Fields.mid(3).join(' '));
    }
    return Titles;
}

// Asks the window manager to close the window titled Title, as its close box would, and waits until
// it is gone; false when it stayed.
bool CloseWindow(const QString &Title)
{
    for (int Attempt = 0; Attempt < 3; ++Attempt) {
        QProcess::execute(QStringLiteral("wmctrl"), {QStringLiteral("-F"), QStringLiteral("-c"), Title});
        if (WaitUntil([&] { return !WindowTitles().contains(Title); }, 5000))
            return true;
    }
    return false;
}

struct TRun
{
    std::optional<TSample> One, Eleven, Closed, Trimmed;
    QList<TSample> ClosedEach; // after each cycle of opening and closing the 10 windows
};

TRun MeasureOnce(const QString &Program, const TKestruneHome &Home, TPageServer &Server, int SettleSeconds,
                 int Cycles, bool ProbeTrim)
{
    TRun Result;
    Server.LoadedAt.clear();
    auto Launch = [&](QProcess &Process, int Site) {
        Process.setProcessEnvironment(Home.Environment);
        Process.setProgram(Program);
        Process.setArguments({QString::fromLatin1(Home.Links.value(Site))});
        Process.setStandardOutputFile(QProcess::nullDevice());
        Process.setStandardErrorFile(QProcess::nullDevice());
        Process.start();
    };
    auto Loaded = [&](int Site) {
        return WaitUntil([&] { return Server.LoadedAt.contains(Site); }, LoadLimit);
    };
    auto Title = [](int Site) { return QStringLiteral("Kestrune: Site %1").arg(Site); };
    auto Shown = [&](int Site) {
        return WaitUntil([&] { return WindowTitles().contains(Title(Site)); }, 10000);
    };

    QProcess Running;
    Launch(Running, 1);
    const qint64 Root = Running.processId();
    bool Ok = Loaded(1) && Shown(1);
    if (Ok) {
        Pause(SettleSeconds);
        Result.One = Sample(Root);
    }
    for (int Cycle = 1; Ok && Cycle <= Cycles; ++Cycle) {
        for (int Site = 2; Ok && Site <= OtherWindows + 1; ++Site) {
            QProcess Later;
            Server.LoadedAt.remove(Site);
            Launch(Later, Site);
            Ok = Loaded(Site) && Shown(Site);
            WaitUntil([&] { return Later.state() == QProcess::NotRunning; }, 10000);
            if (Later.state() != QProcess::NotRunning)
                Later.kill();
        }
        if (Ok && Cycle == 1) {
            Pause(SettleSeconds);
            Result.Eleven = Sample(Root);
        }
        for (int Site = 2; Ok && Site <= OtherWindows + 1; ++Site) {
            Ok = CloseWindow(Title(Site));
            if (!Ok)
                std::fprintf(stderr, "window_memory: the window \"%s\" did not close\n",
                             qPrintable(Title(Site)));
        }
        Ok = Ok && WindowTitles().contains(Title(1));
        if (Ok) {
            Pause(SettleSeconds);
            Result.ClosedEach << Sample(Root);
        }
    }
    if (Ok) {
        Result.Closed = Result.ClosedEach.last();
        if (ProbeTrim) {
            // What the C library still held: its free memory handed back from outside, through gdb.
            QProcess Gdb;
            Gdb.setProcessChannelMode(QProcess::MergedChannels);
            Gdb.start(QStringLiteral("gdb"),
                      {QStringLiteral("-p"), QString::number(Root), QStringLiteral("-batch"),
                       QStringLiteral("-ex"), QStringLiteral("call (int)malloc_trim(0)")});
            if (Gdb.waitForFinished(120000) && Gdb.exitCode() == 0) {
                Pause(1);
                Result.Trimmed = Sample(Root);
            } else {
                Gdb.kill();
                Gdb.waitForFinished(5000);
            }
        }
    }

    ::kill(pid_t(Root), SIGTERM);
    if (!WaitUntil([&] { return Running.state() == QProcess::NotRunning; }, 20000)) {
        Running.kill();
        Running.waitForFinished(5000);
    }
    return Result;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication App(argc, argv);
    QStringList Arguments = App.arguments().mid(1);
    const bool ProbeTrim = Arguments.removeAll(QStringLiteral("--probe-trim")) > 0;
    int Repeat = 3;
    int SettleSeconds = 10;
    int Cycles = 1;
    const QHash<QString, int *> Options{{QStringLiteral("--repeat"), &Repeat},
                                        {QStringLiteral("--settle-seconds"), &SettleSeconds},
                                        {QStringLiteral("--cycles"), &Cycles}};
    for (qsizetype i = 0; i + 1 < Arguments.size(); ++i) {
        if (int *Value = Options.value(Arguments[i])) {
            *Value = Arguments[i + 1].toInt();
            Arguments.remove(i, 2);
            --i;
        }
    }
    if (Arguments.isEmpty() || Repeat < 1 || Repeat > 50 || SettleSeconds < 0 || SettleSeconds > 600 ||
        Cycles < 1 || Cycles > 20) {
        std::fprintf(stderr,
                     "usage: window_memory <kestrune> [--repeat N (1..50)] [--settle-seconds N (0..600)] "
                     "[--cycles N (1..20)] [--probe-trim]\n");
        return 2;
    }
    TPageServer Server;
    // Pages with some body to lay out, paint and keep: a picture drawn by a script and a screenful of text.
    Server.Filler = "<canvas id=c width=900 height=500></canvas><script>const g=document.getElementById('c')"
                    ".getContext('2d');for(let i=0;i<400;i++){g.fillStyle='hsl('+i+',70%,50%)';"
                    "g.fillRect((i*37)%860,(i*53)%460,40,40);}</script>";
    for (int i = 0; i < 200; ++i)
        Server.Filler += "<p>Paragraph " + QByteArray::number(i) +
                         " of the page: some words to lay out and paint, as on a real site.</p>";
    if (!Server.Listen())
        return 1;
    QTemporaryDir Folder;
    TKestruneHome Home;
    // Windows of the size people give a site on such a screen.
    if (!Home.Make(
            Folder.filePath(QStringLiteral("home")), OtherWindows + 1, [&](int i) { return Server.Url(i); },
            QSize(1400, 860)))
        return 1;

    // A first run makes the profile's folders, as an earlier use of the program would have.
    {
        QProcess First;
        First.setProcessEnvironment(Home.Environment);
        First.setStandardOutputFile(QProcess::nullDevice());
        First.setStandardErrorFile(QProcess::nullDevice());
        First.start(Arguments[0], {QString::fromLatin1(Home.Links.value(1))});
        WaitUntil([&] { return Server.LoadedAt.contains(1); }, LoadLimit);
        ::kill(pid_t(First.processId()), SIGTERM);
        if (!WaitUntil([&] { return First.state() == QProcess::NotRunning; }, 20000))
            First.kill();
        First.waitForFinished(5000);
    }

    // Per measure (PSS, anonymous memory): the tree with 1 window, with 11, after closing 10, their ratio,
    // and after malloc_trim(0) from gdb.
    struct TSeries
    {
        QList<double> One, Eleven, Closed, Ratio, Trimmed;
    } Pss, Anon;
    for (int i = 0; i < Repeat; ++i) {
        const TRun Run = MeasureOnce(Arguments[0], Home, Server, SettleSeconds, Cycles, ProbeTrim);
        if (!Run.One || !Run.Eleven || !Run.Closed) {
            std::printf("run %d: incomplete (a page did not load or a window did not open or close)\n",
                        i + 1);
            continue;
        }
        for (auto [Series, Value] : {std::pair{&Pss, &TSample::Pss}, std::pair{&Anon, &TSample::Anon}}) {
            Series->One << (*Run.One).*Value;
            Series->Eleven << (*Run.Eleven).*Value;
            Series->Closed << (*Run.Closed).*Value;
            Series->Ratio << (*Run.Closed).*Value / (*Run.One).*Value;
            if (Run.Trimmed)
                Series->Trimmed << (*Run.Trimmed).*Value;
        }
        std::printf(
            "run %d: PSS 1 window %.1f MiB (%d processes), %d windows %.1f MiB (%d), after closing %d "
            "%.1f MiB (%d); anonymous %.1f, %.1f, %.1f MiB\n",
            i + 1, Run.One->Pss, Run.One->Processes, OtherWindows + 1, Run.Eleven->Pss, Run.Eleven->Processes,
            OtherWindows, Run.Closed->Pss, Run.Closed->Processes, Run.One->Anon, Run.Eleven->Anon,
            Run.Closed->Anon);
        if (Run.ClosedEach.size() > 1) {
            QStringList Each;
            for (const TSample &Closed : Run.ClosedEach)
                Each << QStringLiteral("%1/%2").arg(Closed.Pss, 0, 'f', 1).arg(Closed.Anon, 0, 'f', 1);
            std::printf("  after each cycle's closing, PSS/anonymous MiB: %s\n", qPrintable(Each.join(u' ')));
        }
        std::printf("  by process, 1 window: %s\n", qPrintable(Run.One->ByKind));
        std::printf("  by process, %d windows: %s\n", OtherWindows + 1, qPrintable(Run.Eleven->ByKind));
        std::printf("  by process, after closing: %s\n", qPrintable(Run.Closed->ByKind));
        std::printf("  main process: 1 window %s; %d windows %s; after closing %s\n",
                    qPrintable(Run.One->Main), OtherWindows + 1, qPrintable(Run.Eleven->Main),
                    qPrintable(Run.Closed->Main));
        if (Run.Trimmed)
            std::printf(
                "  after malloc_trim(0) from gdb: PSS %.1f MiB, anonymous %.1f MiB; main process %s\n",
                Run.Trimmed->Pss, Run.Trimmed->Anon, qPrintable(Run.Trimmed->Main));
        std::fflush(stdout);
    }
    if (Pss.One.isEmpty()) {
        std::printf("no complete run\n");
        return 1;
    }
    for (auto [Name, Series] : {std::pair{"PSS", &Pss}, std::pair{"Anonymous memory (PSS)", &Anon}}) {
        std::printf(
            "%s of the process tree, medians of %lld runs (settled %d s): 1 window %.1f MiB, %d windows "
            "%.1f MiB, after closing %d of them %.1f MiB; after/1 window %.2f\n",
            Name, qlonglong(Series->One.size()), SettleSeconds, Median(Series->One), OtherWindows + 1,
            Median(Series->Eleven), OtherWindows, Median(Series->Closed), Median(Series->Ratio));
        if (!Series->Trimmed.isEmpty())
            std::printf("%s after malloc_trim(0) from gdb, median of %lld runs: %.1f MiB\n", Name,
                        qlonglong(Series->Trimmed.size()), Median(Series->Trimmed));
    }
    return 0;
}
