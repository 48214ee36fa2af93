// Start-up: from the process start until the program's main window appears on an X server, with
// 1,000 sites and with none. The program is watched from outside: the benchmark follows the windows
// made on the screen and stops the clock when a top-level window of the new process (its
// _NET_WM_PID) of class "Kestrune" is mapped. Then it stops the program with SIGTERM, as the system
// would, and the run counts only when the program ends well. Each run has its own private folders,
// so no other copy is found.
//   bench_startup [google benchmark flags]    (finds the build by its own path)
// The windows show on $DISPLAY when it is set; otherwise the benchmark starts an Xvfb of its own.
#include "KestruneClasses.h"
#include "PrivateHome.h"
#include "Settings.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

using TClock = std::chrono::steady_clock;

// Waits up to Limit for Pid to end; its wait status, or -1 when it is still running.
int WaitForEnd(pid_t Pid, std::chrono::milliseconds Limit)
{
    const auto Deadline = TClock::now() + Limit;
    for (;;) {
        int Status = 0;
        const pid_t Ended = ::waitpid(Pid, &Status, WNOHANG);
        if (Ended == Pid)
            return Status;
        if (Ended < 0 || TClock::now() > Deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// An Xvfb of our own on a free display, for as long as the benchmark runs.
class TPrivateXServer
{
public:
    TPrivateXServer()
    {
        int Pipe[2];
        if (::pipe2(Pipe, O_CLOEXEC) != 0)
            return;
        // The server writes its display number to descriptor 3 once it accepts clients.
        posix_spawn_file_actions_t Actions;
        posix_spawn_file_actions_init(&Actions);
        posix_spawn_file_actions_adddup2(&Actions, Pipe[1], 3);
        posix_spawn_file_actions_addopen(&Actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&Actions, 2, "/dev/null", O_WRONLY, 0);
        const char *Argv[] = {"Xvfb",         "-displayfd", "3",   "-screen", "0",
                              "1600x1000x24", "-nolisten",  "tcp", nullptr};
        const bool Started =
            ::posix_spawnp(&FPid, "Xvfb", &Actions, nullptr, const_cast<char **>(Argv), environ) == 0;
        posix_spawn_file_actions_destroy(&Actions);
        ::close(Pipe[1]);
        if (!Started) {
            FPid = -1;
            ::close(Pipe[0]);
            return;
        }
        std::string Number;
        const auto Deadline = TClock::now() + std::chrono::seconds(20);
        while (Number.find('\n') == std::string::npos && TClock::now() < Deadline) {
            pollfd Wait{Pipe[0], POLLIN, 0};
            if (::poll(&Wait, 1, 100) <= 0)
                continue;
            char Buffer[32];
            const ssize_t N = ::read(Pipe[0], Buffer, sizeof Buffer);
            if (N <= 0)
                break;
            Number.append(Buffer, size_t(N));
        }
        ::close(Pipe[0]);
        if (Number.find('\n') != std::string::npos)
            FDisplay = ':' + Number.substr(0, Number.find('\n'));
    }

    ~TPrivateXServer()
    {
        if (FPid > 0) {
            ::kill(FPid, SIGTERM);
            if (WaitForEnd(FPid, std::chrono::seconds(5)) == -1) {
                ::kill(FPid, SIGKILL);
                ::waitpid(FPid, nullptr, 0);
            }
        }
    }

    TPrivateXServer(const TPrivateXServer &) = delete;
    TPrivateXServer &operator=(const TPrivateXServer &) = delete;

    const std::string &Display() const { return FDisplay; }

private:
    pid_t FPid = -1;
    std::string FDisplay;
};

// The windows made on one X screen: which top-level window of a process is mapped, and when.
class TWindowWatch
{
public:
    explicit TWindowWatch(const std::string &Display) : FConnection(xcb_connect(Display.c_str(), nullptr))
    {
        if (xcb_connection_has_error(FConnection))
            return;
        FRoot = xcb_setup_roots_iterator(xcb_get_setup(FConnection)).data->root;
        // Every window made or mapped at the top, whether or not a window manager then frames it.
        const uint32_t Mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(FConnection, FRoot, XCB_CW_EVENT_MASK, &Mask);
        const char Name[] = "_NET_WM_PID";
        auto *Reply = xcb_intern_atom_reply(FConnection,
                                            xcb_intern_atom(FConnection, 0, sizeof Name - 1, Name), nullptr);
        if (Reply) {
            FPidAtom = Reply->atom;
            std::free(Reply);
        }
        xcb_flush(FConnection);
    }

    ~TWindowWatch() { xcb_disconnect(FConnection); }

    TWindowWatch(const TWindowWatch &) = delete;
    TWindowWatch &operator=(const TWindowWatch &) = delete;

    bool Ready() const { return !xcb_connection_has_error(FConnection) && FPidAtom != XCB_ATOM_NONE; }

    // Forgets what happened on the screen so far.
    void Drain()
    {
        while (xcb_generic_event_t *Event = xcb_poll_for_event(FConnection))
            std::free(Event);
    }

    enum class TOutcome
    {
        Shown,
        Ended,
        TimedOut
    };

    // Waits until Pid maps its main window, ends, or Limit passes; Shown holds the moment the
    // mapping was seen.
    TOutcome WaitForMainWindow(pid_t Pid, std::chrono::milliseconds Limit, TClock::time_point &Shown)
    {
        const auto Deadline = TClock::now() + Limit;
        while (TClock::now() < Deadline) {
            while (xcb_generic_event_t *Event = xcb_poll_for_event(FConnection)) {
                const bool Found = IsMainWindowMapped(Event, Pid);
                std::free(Event);
                if (Found) {
                    Shown = TClock::now();
                    return TOutcome::Shown;
                }
            }
            if (xcb_connection_has_error(FConnection))
                return TOutcome::TimedOut;
            int Status = 0;
            if (::waitpid(Pid, &Status, WNOHANG) == Pid)
                return TOutcome::Ended;
            pollfd Wait{xcb_get_file_descriptor(FConnection), POLLIN, 0};
            ::poll(&Wait, 1, 10);
        }
        return TOutcome::TimedOut;
    }

private:
    bool IsMainWindowMapped(const xcb_generic_event_t *Event, pid_t Pid)
    {
        switch (Event->response_type & 0x7f) {
        case XCB_CREATE_NOTIFY: {
            const auto *Created = reinterpret_cast<const xcb_create_notify_event_t *>(Event);
            if (Created->parent != FRoot || Created->override_redirect)
                return false;
            // A window manager takes the window into a frame of its own: its mapping is then told to
            // those who watch the window itself. It may have been mapped before we asked.
            const uint32_t Mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
            xcb_change_window_attributes(FConnection, Created->window, XCB_CW_EVENT_MASK, &Mask);
            auto *Attributes = xcb_get_window_attributes_reply(
                FConnection, xcb_get_window_attributes(FConnection, Created->window), nullptr);
            const bool Mapped = Attributes && Attributes->map_state != XCB_MAP_STATE_UNMAPPED;
            std::free(Attributes);
            return Mapped && IsMainWindow(Created->window, Pid);
        }
        case XCB_MAP_NOTIFY: {
            const auto *Mapped = reinterpret_cast<const xcb_map_notify_event_t *>(Event);
            return !Mapped->override_redirect && IsMainWindow(Mapped->window, Pid);
        }
        default:
            return false;
        }
    }

    // A window of Pid's whose class is the program's own ("Kestrune"; site windows have classes of
    // their own).
    bool IsMainWindow(xcb_window_t Window, pid_t Pid)
    {
        const auto PidCookie = xcb_get_property(FConnection, 0, Window, FPidAtom, XCB_ATOM_CARDINAL, 0, 1);
        const auto ClassCookie =
            xcb_get_property(FConnection, 0, Window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 64);
        auto *PidReply = xcb_get_property_reply(FConnection, PidCookie, nullptr);
        auto *ClassReply = xcb_get_property_reply(FConnection, ClassCookie, nullptr);
        bool Match = PidReply && xcb_get_property_value_length(PidReply) == 4 &&
                     *static_cast<const uint32_t *>(xcb_get_property_value(PidReply)) == uint32_t(Pid);
        if (Match) {
            // "instance\0class\0"
            const int Length = ClassReply ? xcb_get_property_value_length(ClassReply) : 0;
            const std::string Value(Length > 0 ? static_cast<const char *>(xcb_get_property_value(ClassReply))
                                               : "",
                                    size_t(Length));
            const size_t Split = Value.find('\0');
            const std::string Class = Split == std::string::npos ? std::string() : Value.substr(Split + 1);
            Match = Class.substr(0, Class.find('\0')) == "Kestrune";
        }
        std::free(PidReply);
        std::free(ClassReply);
        return Match;
    }

    xcb_connection_t *FConnection;
    xcb_window_t FRoot = XCB_WINDOW_NONE;
    xcb_atom_t FPidAtom = XCB_ATOM_NONE;
};

class TStartup
{
public:
    TStartup(const QString &BuildDir, const std::string &Display, int SiteCount)
        : FProgram(QFile::encodeName(BuildDir + QStringLiteral("/sources/kestrune"))),
          FHome(QDir::tempPath() + QStringLiteral("/kbs-XXXXXX"))
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
        {
            // A recent update check: no run asks the product's server.
            QSettings Store(FHome.path() + QStringLiteral("/config/") + SettingsOrganization + u'/' +
                                SettingsApplication + QStringLiteral(".conf"),
                            QSettings::IniFormat);
            Store.setValue(LastUpdateCheckKey, EncodeLastUpdateCheck(QDateTime::currentDateTime()));
        }

        FEnv = PrivateHomeEnvironment(FHome.path(), {"QT_QPA_PLATFORM=", "DISPLAY="});
        FEnv.push_back("QT_QPA_PLATFORM=xcb");
        FEnv.push_back("DISPLAY=" + Display);
    }

    bool Ready() const { return FReady; }

    pid_t Start() const
    {
        std::vector<char *> Argv{const_cast<char *>(FProgram.constData()), nullptr};
        std::vector<char *> Envp;
        for (const std::string &E : FEnv)
            Envp.push_back(const_cast<char *>(E.c_str()));
        Envp.push_back(nullptr);
        pid_t Pid = -1;
        if (::posix_spawn(&Pid, FProgram.constData(), nullptr, nullptr, Argv.data(), Envp.data()) != 0)
            return -1;
        return Pid;
    }

private:
    QByteArray FProgram;
    QTemporaryDir FHome;
    std::vector<std::string> FEnv;
    bool FReady = false;
};

// Stops Pid with SIGTERM; true when it ended by itself with status 0 within 30 s.
bool StopWell(pid_t Pid)
{
    ::kill(Pid, SIGTERM);
    const int Status = WaitForEnd(Pid, std::chrono::seconds(30));
    if (Status == -1) {
        ::kill(Pid, SIGKILL);
        ::waitpid(Pid, nullptr, 0);
        return false;
    }
    return WIFEXITED(Status) && WEXITSTATUS(Status) == 0;
}

void StartupToShown(benchmark::State &State, const QString &BuildDir, const std::string &Display,
                    TWindowWatch &Watch)
{
    TStartup Startup(BuildDir, Display, int(State.range(0)));
    if (!Startup.Ready()) {
        State.SkipWithError("cannot write the site file");
        return;
    }
    for (auto _ : State) {
        Watch.Drain();
        const auto Start = TClock::now();
        const pid_t Pid = Startup.Start();
        if (Pid <= 0) {
            State.SkipWithError("cannot start the program");
            return;
        }
        TClock::time_point Shown;
        const TWindowWatch::TOutcome Outcome = Watch.WaitForMainWindow(Pid, std::chrono::seconds(60), Shown);
        if (Outcome == TWindowWatch::TOutcome::Ended) {
            State.SkipWithError("the program ended before its main window appeared");
            return;
        }
        const bool Ended = StopWell(Pid);
        if (Outcome == TWindowWatch::TOutcome::TimedOut) {
            State.SkipWithError("no main window within 60 s");
            return;
        }
        if (!Ended) {
            State.SkipWithError("the program did not end well on SIGTERM");
            return;
        }
        State.SetIterationTime(std::chrono::duration<double>(Shown - Start).count());
    }
}

} // namespace

int main(int argc, char **argv)
{
    const QString BuildDir =
        QFileInfo(QString::fromLocal8Bit(argv[0])).absoluteDir().absolutePath() + QStringLiteral("/..");
    benchmark::Initialize(&argc, argv);

    std::unique_ptr<TPrivateXServer> Server;
    std::string Display = qEnvironmentVariable("DISPLAY").toStdString();
    if (Display.empty()) {
        Server = std::make_unique<TPrivateXServer>();
        Display = Server->Display();
        if (Display.empty()) {
            std::fprintf(stderr,
                         "bench_startup: no DISPLAY, and Xvfb did not start (apt-get install xvfb)\n");
            return 1;
        }
    }
    TWindowWatch Watch(Display);
    if (!Watch.Ready()) {
        std::fprintf(stderr, "bench_startup: cannot watch the windows of the X server %s\n", Display.c_str());
        return 1;
    }
    for (const int Sites : {1000, 0}) {
        benchmark::RegisterBenchmark(
            "BM_StartupToShown",
            [&](benchmark::State &State) { StartupToShown(State, BuildDir, Display, Watch); })
            ->Arg(Sites)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
