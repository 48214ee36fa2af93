#include "AppEntry.h"
#include "CommandLine.h"
#include "DataFolder.h"
#include "DataModuleUnit.h"
#include "KestruneVersion.h"
#include "LogNoise.h"
#include "Main.h"
#include "StepTimes.h"
#include "platform/DataFolderLock.h"
#include "platform/ExecutableFolder.h"
#include "platform/FreedesktopServices.h"
#include "platform/InstanceGuard.h"
#include "platform/MessageBoxes.h"
#include "platform/RenderingSetup.h"
#include "platform/WebProfile.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QLoggingCategory>
#include <QSessionManager>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// SIGTERM, SIGINT and SIGHUP reach the event loop through this pair: the handler may only write a byte.
int SignalPair[2] = {-1, -1};

void OnStopSignal(int)
{
    const char Byte = 1;
    const ssize_t Written = ::write(SignalPair[1], &Byte, 1);
    (void)Written;
}

bool InstallStopSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, SignalPair) != 0)
        return false;
    ::fcntl(SignalPair[1], F_SETFL, ::fcntl(SignalPair[1], F_GETFL) | O_NONBLOCK);
    struct sigaction Action = {};
    Action.sa_handler = OnStopSignal;
    sigemptyset(&Action.sa_mask);
    Action.sa_flags = SA_RESTART;
    // SIGHUP: the terminal that started us went away, as at the end of a session.
    return ::sigaction(SIGTERM, &Action, nullptr) == 0 && ::sigaction(SIGINT, &Action, nullptr) == 0 &&
           ::sigaction(SIGHUP, &Action, nullptr) == 0;
}

// Everything Qt and the engine print goes to standard error as Qt would print it, less the start-up
// chatter of a program that draws in software.
void PrintMessage(QtMsgType Type, const QMessageLogContext &Context, const QString &Message,
                  bool SoftwareDrawing)
{
    if (IsStartupChatter(Type, Context.category, Message, SoftwareDrawing))
        return;
    const QByteArray Text = qFormatLogMessage(Type, Context, Message).toLocal8Bit();
    std::fprintf(stderr, "%s\n", Text.constData());
    std::fflush(stderr);
}

void PrintSoftwareMessage(QtMsgType Type, const QMessageLogContext &Context, const QString &Message)
{
    PrintMessage(Type, Context, Message, true);
}

void PrintOpenGLMessage(QtMsgType Type, const QMessageLogContext &Context, const QString &Message)
{
    PrintMessage(Type, Context, Message, false);
}

// A box or dialog still open when the program is stopped must not keep it alive.
void CloseOpenDialogs()
{
    const QList<QWidget *> Windows = QApplication::topLevelWidgets();
    for (QWidget *Window : Windows) {
        if (auto *Dialog = qobject_cast<QDialog *>(Window); Dialog && Dialog->isVisible())
            Dialog->reject();
    }
}

// The first copy: Guard holds the instance lock, the data folder Folder is ours (empty when it
// could not be made).
int RunFirstCopy(int &Argc, char **Argv, TInstanceGuard &Guard, const TCommandLine &Line,
                 const QString &Folder)
{
    // How pages reach the screen must be settled before the application object exists.
    const TRenderingFacts Facts = ReadRenderingFacts();
    TRendering Ignored;
    if (!Facts.Choice.isEmpty() && !ParseRenderingChoice(Facts.Choice, Ignored))
        std::fprintf(stderr, "kestrune: KESTRUNE_RENDERING=\"%s\" is neither software nor opengl; ignored\n",
                     Facts.Choice.constData());
    const TRendering Drawing = ChooseRendering(Facts);
    QLoggingCategory::setFilterRules(QuietLoggingRules);
    qInstallMessageHandler(Drawing == TRendering::Software ? PrintSoftwareMessage : PrintOpenGLMessage);
    TRenderingSetup Rendering(Drawing);
    QApplication App(Argc, Argv);
    Rendering.ApplicationCreated();
    QApplication::setApplicationName(QStringLiteral("Kestrune"));
    // The desktop matches our windows to io.github.brinmoor.Kestrune.desktop by this name (the
    // Wayland app id) and by the window class "Kestrune" that the application name gives on X11.
    QGuiApplication::setDesktopFileName(QStringLiteral(KESTRUNE_APP_ID));
    // Hidden to the tray, the main window is no longer visible; closing a browser window then must
    // not end the program.
    QApplication::setQuitOnLastWindowClosed(false);

    if (Folder.isEmpty()) {
        ShowMessage(nullptr, TMsgKind::Error,
                    QStringLiteral("Cannot create the folder \"%1\".")
                        .arg(QDir::toNativeSeparators(UserDataFolder())));
        return 1;
    }

    TfMainForm *Running = nullptr;
    bool StopEarly = false;
    const auto Stop = [&Running, &StopEarly] {
        // The signal may come while the main window is still being created (a box of its start-up).
        TfMainForm *Form = Running;
        const QList<QWidget *> Windows = QApplication::topLevelWidgets();
        for (QWidget *Window : Windows) {
            if (!Form)
                Form = qobject_cast<TfMainForm *>(Window);
        }
        if (Form)
            Form->QuitWithoutQuestions();
        else
            StopEarly = true;
        CloseOpenDialogs();
    };
    std::unique_ptr<QSocketNotifier> StopNotifier;
    if (InstallStopSignals()) {
        StopNotifier = std::make_unique<QSocketNotifier>(SignalPair[0], QSocketNotifier::Read);
        QObject::connect(StopNotifier.get(), &QSocketNotifier::activated, &App, [Stop] {
            char Bytes[16];
            while (::recv(SignalPair[0], Bytes, sizeof Bytes, MSG_DONTWAIT) > 0) {
            }
            Stop();
        });
    }

    TFreedesktopServices Desktop;
    // Declared before the main window, so that it goes after it: every page, the popups' included,
    // goes with the main window, and the profile then writes cookies and cache to the disk. The
    // answers to the pages' permission requests are kept beside the sites.
    TWebProfile Profile(QStringLiteral("Kestrune"), Folder);
    TdmMain DataModule;
    // An installed copy finds every size of its icon in the theme; the build tree has the built-in one.
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(KESTRUNE_APP_ID), DataModule.MainIcon()));
    // Hand-overs are taken from before our own link parameters are opened: a box shown for one of
    // them must not keep a later start searching for us until it gives up.
    NoteStep("main-window-asked");
    TfMainForm Form(Desktop, Profile, Folder, ByteArrays(Line.Parameters), nullptr,
                    [&Guard](TfMainForm &Created) {
                        Guard.Listen(&Created, [&Created](const QByteArray &Parameter) {
                            Created.OpenLink(Parameter, TfMainForm::TWindowFor::AfterAnswer);
                        });
                    });
    Running = &Form;
    QObject::connect(&Form, &TfMainForm::FormClosed, &App, [&Guard] {
        // Links that come from now on wait for us to end, and then start a copy of their own.
        Guard.StopTakingLinks();
        CloseOpenDialogs();
        QCoreApplication::exit(0);
    });
    // The session manager asks us to save before a logout, which the user may still cancel: saved,
    // and we go on. The session's end itself comes as a quit event, which the main window takes.
    QObject::connect(&App, &QGuiApplication::commitDataRequest, &Form,
                     [&Form](QSessionManager &) { Form.SaveForSession(); });
    if (StopEarly)
        Form.QuitWithoutQuestions();
    if (Form.Closed())
        return 0;

    Form.show();
    NoteStep("main-window-shown");
    App.exec();
    return 0;
}

// A start from the application menu has no terminal: what stops it is said in a box as well,
// where there is a display to show one.
bool DisplayExists()
{
    const QByteArray Platform = qgetenv("QT_QPA_PLATFORM");
    if (Platform.startsWith("offscreen") || Platform.startsWith("minimal"))
        return false;
    return !qgetenv("DISPLAY").isEmpty() || !qgetenv("WAYLAND_DISPLAY").isEmpty();
}

// One line on standard error, and the box; the start ends with status 1.
int FailStart(int &Argc, char **Argv, const QString &Message)
{
    std::fprintf(stderr, "kestrune: %s\n", Message.toLocal8Bit().constData());
    if (DisplayExists()) {
        QApplication App(Argc, Argv);
        QApplication::setApplicationName(QStringLiteral("Kestrune"));
        QGuiApplication::setDesktopFileName(QStringLiteral(KESTRUNE_APP_ID));
        ShowMessage(nullptr, TMsgKind::Error, Message);
    }
    return 1;
}

} // namespace

extern "C" __attribute__((visibility("default"))) int KestruneStart(int &Argc, char **Argv)
{
    const TCommandLine Line = ParseCommandLine(Argc, Argv);
    TInstanceGuard Guard(KestruneInstanceName);
    try {
        if (Guard.AlreadyRunning(Line.Parameters)) {
            NoteStep("handed-over");
            return 0;
        }
    } catch (const std::exception &Error) {
        return FailStart(Argc, Argv, QString::fromLocal8Bit(Error.what()));
    }

    // Copies that see different runtime folders (a shell without XDG_RUNTIME_DIR, su, ssh) do not
    // find each other above; the data folder they share tells. Taken before anything is read, and
    // held until the program has saved and ended. A folder that cannot be made is said once there is
    // an application to say it.
    const QString Folder = ProgramFolderOf(QFile::decodeName(ExecutableFolder().c_str()));
    TDataFolderLock DataLock(Folder);
    if (!Folder.isEmpty() && !DataLock.TryLock())
        return FailStart(Argc, Argv,
                         DataLock.HeldElsewhereMessage() +
                             QStringLiteral(" This start ends without changing anything there."));
    return RunFirstCopy(Argc, Argv, Guard, Line, Folder);
}
