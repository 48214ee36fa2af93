// Site windows against Chromium's app mode, as the user meets them: the time from a start with a
// link to the page loaded (cold: the first start; warm: a later start handing over to the running
// copy), the memory of the whole process tree with 1, 5 and 10 windows of different sites, and the
// CPU time of the tree while 5 windows sit idle. Run under an X server (bench/browser_vs_chromium.sh).
//
//   browser_timing <kestrune binary> [chromium binary] [--idle-seconds N] [--repeat N]
//
// Pages come from a server of our own on 127.0.0.1; site N is http://siteN.localhost:<port>/page,
// whose onload asks for /loaded?id=N: that request marks the page as loaded.

#include "KestruneClasses.h"
#include "Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QMap>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrlQuery>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <optional>
#include <unistd.h>

namespace {

class TPageServer : public QObject
{
public:
    QHash<int, qint64> LoadedAt; // site number -> Clock time of its /loaded request
    QElapsedTimer Clock;

    bool Listen()
    {
        Clock.start();
        connect(&FServer, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *Socket = FServer.nextPendingConnection()) {
                Socket->setParent(this);
                connect(Socket, &QTcpSocket::readyRead, this, [this, Socket] { Serve(Socket); });
                connect(Socket, &QTcpSocket::disconnected, Socket, &QObject::deleteLater);
            }
        });
        return FServer.listen(QHostAddress::LocalHost);
    }
    QByteArray Url(int Site) const
    {
        return "http://site" + QByteArray::number(Site) +
               ".localhost:" + QByteArray::number(FServer.serverPort()) +
               "/page?id=" + QByteArray::number(Site);
    }

private:
    void Serve(QTcpSocket *Socket)
    {
        FBuffers[Socket] += Socket->readAll();
        if (!FBuffers[Socket].contains("\r\n\r\n"))
            return;
        const QByteArray Request = FBuffers.take(Socket);
        const QByteArray Target = Request.left(Request.indexOf("\r\n")).split(' ').value(1);
        const QUrl Url(QString::fromLatin1("http://x" + Target));
        const int Id = QUrlQuery(Url).queryItemValue(QStringLiteral("id")).toInt();
        QByteArray Body;
        if (Url.path() == QLatin1String("/loaded")) {
            if (!LoadedAt.contains(Id))
                LoadedAt.insert(Id, Clock.elapsed());
            Body = "ok";
        } else if (Url.path() == QLatin1String("/page")) {
            Body = "<!doctype html><html><head><title>Site " + QByteArray::number(Id) +
                   "</title></head><body onload=\"fetch('/loaded?id=" + QByteArray::number(Id) +
                   "')\"><h1>Site " + QByteArray::number(Id) +
                   "</h1><p>A small page of a site, with a heading and a line of text.</p></body></html>";
        } else {
            Socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            Socket->disconnectFromHost();
            return;
        }
        Socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nCache-Control: no-store\r\nConnection: "
                      "close\r\nContent-Length: " +
                      QByteArray::number(Body.size()) + "\r\n\r\n" + Body);
        Socket->disconnectFromHost();
    }

    QTcpServer FServer;
    QHash<QTcpSocket *, QByteArray> FBuffers;
};

bool WaitUntil(const std::function<bool()> &Done, int Milliseconds)
{
    QElapsedTimer Timer;
    Timer.start();
    while (!Done()) {
        if (Timer.elapsed() > Milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

QList<qint64> Children(qint64 Parent)
{
    QList<qint64> Result;
    const QStringList Entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &Entry : Entries) {
        bool Ok = false;
        const qint64 Pid = Entry.toLongLong(&Ok);
        if (!Ok)
            continue;
        QFile Stat(QStringLiteral("/proc/%1/stat").arg(Pid));
        if (!Stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray Text = Stat.readAll();
        const QList<QByteArray> Fields = Text.mid(Text.lastIndexOf(')') + 2).split(' ');
        if (Fields.value(1).toLongLong() == Parent)
            Result << Pid;
    }
    return Result;
}

QList<qint64> Tree(qint64 Root)
{
    QList<qint64> All{Root};
    for (qsizetype i = 0; i < All.size(); ++i)
        All += Children(All[i]);
    return All;
}

// PSS of one process, KiB; 0 when it has gone.
qint64 ProcessPssKb(qint64 Pid)
{
    QFile Rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(Pid));
    if (!Rollup.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &Line : Rollup.readAll().split('\n'))
        if (Line.startsWith("Pss:"))
            return Line.mid(4).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

double TreePssMiB(qint64 Root)
{
    qint64 Kb = 0;
    for (const qint64 Pid : Tree(Root))
        Kb += ProcessPssKb(Pid);
    return Kb / 1024.0;
}

// Where the memory of the tree lies: PSS per kind of process (the engine's --type=, or the program).
QString TreeBreakdown(qint64 Root)
{
    QMap<QString, QList<qint64>> Kinds; // kind -> PSS of each process, KiB
    for (const qint64 Pid : Tree(Root)) {
        QFile CommandLine(QStringLiteral("/proc/%1/cmdline").arg(Pid));
        if (!CommandLine.open(QIODevice::ReadOnly))
            continue;
        // Chromium rewrites its helpers' command lines as one text with blanks.
        QByteArray Text = CommandLine.readAll();
        Text.replace('\0', ' ');
        QString Kind = QStringLiteral("main");
        for (const QByteArray &Argument : Text.split(' '))
            if (Argument.startsWith("--type="))
                Kind = QString::fromLatin1(Argument.mid(7));
            else if (Argument.startsWith("--utility-sub-type="))
                Kind += QLatin1Char(' ') + QString::fromLatin1(Argument.mid(19));
        Kinds[Kind] << ProcessPssKb(Pid);
    }
    QStringList Parts;
    for (auto It = Kinds.cbegin(); It != Kinds.cend(); ++It) {
        QList<qint64> Each = *It;
        std::sort(Each.begin(), Each.end(), std::greater<>());
        QStringList Sizes;
        qint64 Sum = 0;
        for (const qint64 Kb : Each) {
            Sum += Kb;
            Sizes << QString::number(Kb / 1024.0, 'f', 1);
        }
        Parts << QStringLiteral("%1 x%2 %3 MiB (%4)")
                     .arg(It.key())
                     .arg(Each.size())
                     .arg(Sum / 1024.0, 0, 'f', 1)
                     .arg(Sizes.join(QStringLiteral(" ")));
    }
    return Parts.join(QStringLiteral("; "));
}

double TreeCpuSeconds(qint64 Root)
{
    const double Tick = double(sysconf(_SC_CLK_TCK));
    double Seconds = 0;
    for (const qint64 Pid : Tree(Root)) {
        QFile Stat(QStringLiteral("/proc/%1/stat").arg(Pid));
        if (!Stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray Text = Stat.readAll();
        const QList<QByteArray> Fields = Text.mid(Text.lastIndexOf(')') + 2).split(' ');
        Seconds += (Fields.value(11).toDouble() + Fields.value(12).toDouble()) / Tick;
    }
    return Seconds;
}

double Median(QList<double> Values)
{
    if (Values.isEmpty())
        return -1;
    std::sort(Values.begin(), Values.end());
    const qsizetype Middle = Values.size() / 2;
    return Values.size() % 2 ? Values[Middle] : (Values[Middle - 1] + Values[Middle]) / 2;
}

// One browser under test: how to start it on a site and where it keeps its state.
struct TBrowser
{
    QString Name;
    std::function<QStringList(const QByteArray &Url)> Arguments;
    QString Program;
    QProcessEnvironment Environment;
};

struct TResult
{
    QList<double> Cold, Warm;
    std::optional<double> Pss1, Pss5, Pss10, Idle;
    QString Breakdown1, Breakdown10;
};

constexpr int LoadLimit = 60000;

TResult Measure(const TBrowser &Browser, TPageServer &Server, int Repeat, int IdleSeconds, int &NextSite)
{
    TResult Result;
    auto Launch = [&](QProcess &Process, int Site) {
        Process.setProcessEnvironment(Browser.Environment);
        Process.setProgram(Browser.Program);
        Process.setArguments(Browser.Arguments(Server.Url(Site)));
        Process.setStandardOutputFile(QProcess::nullDevice());
        Process.setStandardErrorFile(QProcess::nullDevice());
        Process.start();
    };
    auto Stop = [](QProcess &Process) {
        ::kill(pid_t(Process.processId()), SIGTERM);
        if (!WaitUntil([&] { return Process.state() == QProcess::NotRunning; }, 15000)) {
            Process.kill();
            Process.waitForFinished(5000);
        }
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
        Launch(Process, Site);
        if (WaitUntil([&] { return Server.LoadedAt.contains(Site); }, LoadLimit))
            Result.Cold << double(Server.LoadedAt[Site] - Start);
        Stop(Process);
    }

    QProcess Running;
    int Site = NextSite++;
    Launch(Running, Site);
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
        QProcess Later;
        const int Next = NextSite++;
        const qint64 Start = Server.Clock.elapsed();
        Launch(Later, Next);
        const bool Loaded = WaitUntil([&] { return Server.LoadedAt.contains(Next); }, LoadLimit);
        if (Loaded && Time)
            Result.Warm << double(Server.LoadedAt[Next] - Start);
        WaitUntil([&] { return Later.state() == QProcess::NotRunning; }, 10000);
        if (Later.state() != QProcess::NotRunning)
            Later.kill();
        Open += Loaded ? 1 : 0;
    };
    while (Open < 5)
        OpenAnother(true);
    QThread::msleep(1500);
    QCoreApplication::processEvents();
    Result.Pss5 = TreePssMiB(Running.processId());
    if (IdleSeconds > 0) {
        const double Before = TreeCpuSeconds(Running.processId());
        QElapsedTimer Idle;
        Idle.start();
        WaitUntil([] { return false; }, IdleSeconds * 1000);
        Result.Idle = TreeCpuSeconds(Running.processId()) - Before;
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

void Report(const QString &Name, const TResult &Result)
{
    auto Value = [](const std::optional<double> &V) {
        return V ? QString::number(*V, 'f', 1) : QStringLiteral("n/a");
    };
    std::printf("%-10s cold start median %7.1f ms (%lld runs)   warm open median %7.1f ms (%lld runs)\n",
                qPrintable(Name), Median(Result.Cold), qlonglong(Result.Cold.size()), Median(Result.Warm),
                qlonglong(Result.Warm.size()));
    std::printf(
        "%-10s PSS of the tree: 1 window %s MiB, 5 windows %s MiB, 10 windows %s MiB; idle CPU %s s\n",
        qPrintable(Name), qPrintable(Value(Result.Pss1)), qPrintable(Value(Result.Pss5)),
        qPrintable(Value(Result.Pss10)),
        Result.Idle ? qPrintable(QString::number(*Result.Idle, 'f', 3)) : "n/a");
    std::printf("%-10s by process, 1 window: %s\n", qPrintable(Name), qPrintable(Result.Breakdown1));
    std::printf("%-10s by process, 10 windows: %s\n", qPrintable(Name), qPrintable(Result.Breakdown10));
    std::fflush(stdout);
}

bool WriteKestruneSites(const QString &DataFolder, int Count, const std::function<QByteArray(int)> &Url)
{
    TKestrunCollection Sites;
    for (int i = 1; i <= Count; ++i) {
        auto Site = std::make_unique<TKestrunSite>();
        Site->SetTitle("Site " + QByteArray::number(i));
        Site->SetURL(Url(i));
        Site->SetBrowserChoice(1);
        Site->SetMinimizeToTaskbar(1);
        Site->SetWindowState(0);
        Site->SetWindowRect({20 + i * 10, 20 + i * 10, 660 + i * 10, 500 + i * 10});
        Sites.Add(std::move(Site));
    }
    return QDir().mkpath(DataFolder) && SaveSites(DataFolder, Sites);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication App(argc, argv);
    QStringList Arguments = App.arguments().mid(1);
    int Repeat = 5;
    int IdleSeconds = 30;
    for (qsizetype i = 0; i + 1 < Arguments.size(); ++i) {
        if (Arguments[i] == QLatin1String("--repeat") || Arguments[i] == QLatin1String("--idle-seconds")) {
            (Arguments[i] == QLatin1String("--repeat") ? Repeat : IdleSeconds) = Arguments[i + 1].toInt();
            Arguments.remove(i, 2);
            --i;
        }
    }
    if (Arguments.isEmpty()) {
        std::fprintf(stderr, "usage: browser_timing <kestrune> [chromium] [--repeat N] [--idle-seconds N]\n");
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
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    const QString KHome = Home.filePath(QStringLiteral("kestrune"));
    Environment.insert(QStringLiteral("HOME"), KHome);
    Environment.insert(QStringLiteral("XDG_DATA_HOME"), KHome + QStringLiteral("/.local/share"));
    Environment.insert(QStringLiteral("XDG_CONFIG_HOME"), KHome + QStringLiteral("/.config"));
    Environment.insert(QStringLiteral("XDG_CACHE_HOME"), KHome + QStringLiteral("/.cache"));
    Environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), KHome + QStringLiteral("/runtime"));
    QDir().mkpath(KHome + QStringLiteral("/runtime"));
    QFile::setPermissions(KHome + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    Kestrune.Environment = Environment;
    if (!WriteKestruneSites(KHome + QStringLiteral("/.local/share/Kestrune"), SiteCount,
                            [&](int i) { return Server.Url(i); }))
        return 1;
    // A recent update check: no start of the program asks the product's server.
    {
        QSettings Store(KHome + QStringLiteral("/.config/") + SettingsOrganization + QLatin1Char('/') +
                            SettingsApplication + QStringLiteral(".conf"),
                        QSettings::IniFormat);
        Store.setValue(LastUpdateCheckKey, EncodeLastUpdateCheck(QDateTime::currentDateTime()));
        Store.setValue(RunMinimizedKey, 0);
    }
    QHash<QByteArray, QByteArray> Links;
    {
        TKestrunCollection Sites;
        LoadSites(KHome + QStringLiteral("/.local/share/Kestrune"), Sites);
        for (int i = 0; i < Sites.Count(); ++i)
            Links.insert(Sites[i]->URL(), EncodeLinkParameter(*Sites[i], false));
    }
    Kestrune.Arguments = [&Links](const QByteArray &Url) {
        return QStringList{QString::fromLatin1(Links.value(Url))};
    };

    int NextSite = 1;
    const TResult K = Measure(Kestrune, Server, Repeat, IdleSeconds, NextSite);
    Report(Kestrune.Name, K);

    if (Arguments.size() > 1) {
        TBrowser Chromium;
        Chromium.Name = QStringLiteral("Chromium");
        Chromium.Program = Arguments[1];
        Chromium.Environment = QProcessEnvironment::systemEnvironment();
        const QString Profile = Home.filePath(QStringLiteral("chromium"));
        Chromium.Arguments = [Profile](const QByteArray &Url) {
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
            return Flags;
        };
        NextSite = SiteCount / 2 + 1;
        const TResult C = Measure(Chromium, Server, Repeat, IdleSeconds, NextSite);
        Report(Chromium.Name, C);
        auto Ratio = [](double A, double B) { return B > 0 ? A / B : -1; };
        std::printf("ratios Kestrune/Chromium: cold %.2f, warm %.2f, PSS at 10 windows %.2f, idle CPU %.2f\n",
                    Ratio(Median(K.Cold), Median(C.Cold)), Ratio(Median(K.Warm), Median(C.Warm)),
                    Ratio(K.Pss10.value_or(-1), C.Pss10.value_or(0)),
                    Ratio(K.Idle.value_or(-1), C.Idle.value_or(0)));
    }
    return 0;
}
