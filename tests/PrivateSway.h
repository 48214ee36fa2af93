#pragma once

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <pwd.h>
#include <unistd.h>

// A headless sway compositor of the test's own: no screen, no input devices, a small configuration
// and a runtime folder of its own. sway refuses to run as root, so a test run as root starts it, and
// the programs that are to be its clients, as a normal user made for the tests; the test itself,
// as root, still reaches sway's sockets.
class TPrivateSway
{
public:
    // A window as sway's tree shows it.
    struct TView
    {
        QString AppId;
        QString Title;
        QString Workspace;
        bool Focused = false;
        bool Urgent = false;
    };

    static constexpr const char *TestUser = "kestrune-test";

    TPrivateSway() = default;
    TPrivateSway(const TPrivateSway &) = delete;
    TPrivateSway &operator=(const TPrivateSway &) = delete;
    ~TPrivateSway() { Stop(); }

    // Starts sway for at most LifeSeconds; false, with the reason in Why, when sway is missing or
    // offered no sockets within 20 s.
    bool Start(QString &Why, int LifeSeconds = 170)
    {
        if (QStandardPaths::findExecutable(QStringLiteral("sway")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("swaymsg")).isEmpty()) {
            Why = QStringLiteral("sway and swaymsg are needed");
            return false;
        }
        if (!FRoot.isValid() || !MakeUser(Why))
            return false;
        // The folders below are the user's; the root folder only lets that user pass.
        QFile::setPermissions(FRoot.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ExeOwner | QFileDevice::ExeGroup |
                                                QFileDevice::ExeOther);
        QFile Config(FRoot.filePath(QStringLiteral("sway.conf")));
        if (!QDir(FRoot.path()).mkpath(QStringLiteral("runtime")) || !Config.open(QIODevice::WriteOnly)) {
            Why = QStringLiteral("cannot make sway's folders");
            return false;
        }
        Config.write("output HEADLESS-1 resolution 1024x768 position 0 0\n"
                     "xwayland disable\n"
                     "default_border normal\n");
        Config.close();
        QFile::setPermissions(Config.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                     QFileDevice::ReadGroup | QFileDevice::ReadOther);
        if (!GiveToUser(RuntimeDir())) {
            Why = QStringLiteral("cannot give the runtime folder to the test user");
            return false;
        }
        QFile::setPermissions(RuntimeDir(),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

        QProcessEnvironment Environment;
        Environment.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
        Environment.insert(QStringLiteral("HOME"), FRoot.path());
        Environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), RuntimeDir());
        Environment.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
        Environment.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
        Environment.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
        FSway.setProcessEnvironment(Environment);
        FSway.setProcessChannelMode(QProcess::MergedChannels);
        FSway.setStandardOutputFile(FRoot.filePath(QStringLiteral("sway.log")));
        // timeout ends sway even when the test dies without stopping it.
        StartAsUser(FSway, QStringLiteral("timeout"),
                    {QStringLiteral("-k"), QStringLiteral("5"), QString::number(LifeSeconds),
                     QStringLiteral("sway"), QStringLiteral("-c"), Config.fileName()});
        if (!FSway.waitForStarted(10000)) {
            Why = QStringLiteral("sway did not start");
            return false;
        }
        QDeadlineTimer Deadline(20000);
        while (!Deadline.hasExpired() && FSway.state() == QProcess::Running &&
               (FIpcSocket.isEmpty() || FWaylandSocket.isEmpty())) {
            QThread::msleep(50);
            const QDir Runtime(RuntimeDir());
            for (const QString &Name : Runtime.entryList(QDir::System)) {
                if (Name.startsWith(QLatin1String("sway-ipc.")))
                    FIpcSocket = Runtime.filePath(Name);
                else if (Name.startsWith(QLatin1String("wayland-")) && !Name.endsWith(QLatin1String(".lock")))
                    FWaylandSocket = Runtime.filePath(Name);
            }
        }
        if (FIpcSocket.isEmpty() || FWaylandSocket.isEmpty() ||
            Message({QStringLiteral("-t"), QStringLiteral("get_version")}).isEmpty()) {
            Why = QStringLiteral("sway offered no sockets: ") + QString::fromLocal8Bit(Log());
            Stop();
            return false;
        }
        return true;
    }

    void Stop()
    {
        if (FSway.state() != QProcess::NotRunning) {
            FSway.terminate();
            if (!FSway.waitForFinished(5000)) {
                FSway.kill();
                FSway.waitForFinished(5000);
            }
        }
    }

    QString RuntimeDir() const { return FRoot.filePath(QStringLiteral("runtime")); }
    // The Wayland socket's full path, for WAYLAND_DISPLAY.
    QString WaylandSocket() const { return FWaylandSocket; }
    QByteArray Log() const
    {
        QFile File(FRoot.filePath(QStringLiteral("sway.log")));
        return File.open(QIODevice::ReadOnly) ? File.read(16384) : QByteArray();
    }

    // Whether clients of this sway run as the test user rather than as the test's own user.
    static bool SeparateUser() { return ::geteuid() == 0; }

    // The command line that runs Program with Arguments as the compositor's user (Program itself
    // when the test is not root); the first item is the program to start.
    static QStringList AsUser(const QStringList &Arguments, const QString &Program)
    {
        if (!SeparateUser())
            return QStringList{Program} + Arguments;
        const QString User = QString::fromLatin1(TestUser);
        return QStringList{QStringLiteral("--reuid"),       User,   QStringLiteral("--regid"), User,
                           QStringLiteral("--init-groups"), Program} +
               Arguments;
    }

    // Starts Program with Arguments as the compositor's user in Process.
    static void StartAsUser(QProcess &Process, const QString &Program, const QStringList &Arguments)
    {
        if (SeparateUser())
            Process.start(QStringLiteral("setpriv"), AsUser(Arguments, Program));
        else
            Process.start(Program, Arguments);
    }

    // Makes Path, and everything below it, the compositor's user's.
    static bool GiveToUser(const QString &Path)
    {
        if (!SeparateUser())
            return true;
        const passwd *Entry = ::getpwnam(TestUser);
        if (!Entry)
            return false;
        bool Done = ::chown(QFile::encodeName(Path).constData(), Entry->pw_uid, Entry->pw_gid) == 0;
        QDirIterator Below(Path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                           QDirIterator::Subdirectories);
        while (Below.hasNext())
            Done = ::lchown(QFile::encodeName(Below.next()).constData(), Entry->pw_uid, Entry->pw_gid) == 0 &&
                   Done;
        return Done;
    }

    // swaymsg's answer on this sway (at most 10 s), or empty.
    QByteArray Message(const QStringList &Arguments) const
    {
        QProcess Client;
        Client.start(QStringLiteral("swaymsg"), QStringList{QStringLiteral("-s"), FIpcSocket} + Arguments);
        if (!Client.waitForFinished(10000)) {
            Client.kill();
            Client.waitForFinished(2000);
            return QByteArray();
        }
        return Client.exitCode() == 0 ? Client.readAllStandardOutput() : QByteArray();
    }

    // The windows of sway's tree, tiled and floating.
    QList<TView> Views() const
    {
        QList<TView> Result;
        const QJsonDocument Tree = QJsonDocument::fromJson(
            Message({QStringLiteral("-r"), QStringLiteral("-t"), QStringLiteral("get_tree")}));
        Collect(Tree.object(), QString(), Result, 0);
        return Result;
    }

private:
    static void Collect(const QJsonObject &Node, QString Workspace, QList<TView> &Into, int Depth)
    {
        if (Depth > 64)
            return;
        if (Node.value(QLatin1String("type")).toString() == QLatin1String("workspace"))
            Workspace = Node.value(QLatin1String("name")).toString();
        if (Node.contains(QLatin1String("app_id")) && Node.value(QLatin1String("pid")).toInt() > 0) {
            TView View;
            View.AppId = Node.value(QLatin1String("app_id")).toString();
            View.Title = Node.value(QLatin1String("name")).toString();
            View.Workspace = Workspace;
            View.Focused = Node.value(QLatin1String("focused")).toBool();
            View.Urgent = Node.value(QLatin1String("urgent")).toBool();
            Into.append(View);
        }
        for (const char *Children : {"nodes", "floating_nodes"}) {
            const QJsonArray List = Node.value(QLatin1String(Children)).toArray();
            for (const QJsonValue &Child : List)
                Collect(Child.toObject(), Workspace, Into, Depth + 1);
        }
    }

    // The normal user that sway and its clients run as under a root test, made when missing.
    static bool MakeUser(QString &Why)
    {
        if (!SeparateUser() || ::getpwnam(TestUser))
            return true;
        const int Made = QProcess::execute(QStringLiteral("useradd"),
                                           {QStringLiteral("--system"), QStringLiteral("--no-create-home"),
                                            QStringLiteral("--home-dir"), QStringLiteral("/nonexistent"),
                                            QStringLiteral("--shell"), QStringLiteral("/usr/sbin/nologin"),
                                            QString::fromLatin1(TestUser)});
        if (Made != 0 || !::getpwnam(TestUser)) {
            Why = QStringLiteral("cannot make the user ") + QString::fromLatin1(TestUser);
            return false;
        }
        return true;
    }

    QTemporaryDir FRoot;
    QProcess FSway;
    QString FIpcSocket;
    QString FWaylandSocket;
};
