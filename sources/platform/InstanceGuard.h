#pragma once

#include "SingleInstance.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QLockFile;
class QObject;

// Where the lock and the socket of one instance name live for this user.
struct TInstancePaths
{
    QString Folder;
    QString LockFile;
    QString Socket;
};

// The folder for this user's lock and socket: $XDG_RUNTIME_DIR when it is an absolute path to a real
// folder (not a link) owned by this user with no access for others, else a private folder
// "kestrune" in the user's cache folder (created 0700; refused when someone else owns it). A
// folder whose socket path would be too long for a local socket is passed over. Throws
// std::runtime_error "Error creating shared memory <folder> (<errno>)" when there is none.
TInstancePaths InstancePaths(const QString &InstanceName);
// The same names inside a given folder, for tests that reach another process's socket.
TInstancePaths InstancePathsIn(const QString &Folder, const QString &InstanceName);

// Files in the runtime folder may be cleaned up when unused for hours, unless their sticky bit is
// set (XDG Base Directory). A lost lock or socket would let a second copy start.
void KeepFromCleanUp(const QString &Path);

// One running copy per user session. The first copy holds a lock file; it listens on a local socket
// once its main window exists. A later copy hands its parameters over through the socket and ends.
class TInstanceGuard
{
public:
    explicit TInstanceGuard(const QString &InstanceName);
    ~TInstanceGuard();
    TInstanceGuard(const TInstanceGuard &) = delete;
    TInstanceGuard &operator=(const TInstanceGuard &) = delete;

    // Call once, first thing, before any QCoreApplication exists (it needs none, nor a display).
    // False: this is the first copy, the lock is held until the guard is destroyed. True: another
    // copy runs and the caller must end; Parameters (if any) were delivered to it in order and it
    // acknowledged that its handler returned for every one (or it went away meanwhile). A copy that
    // holds the lock but does not answer yet is searched for up to RetryCount + 1 times,
    // RetryInterval ms apart; a lock left by a copy that died is taken over at once.
    // Throws EAssertionFailed("Do not call AlreadyRunning more than once!") on a second call, and
    // std::runtime_error when the lock cannot be made.
    bool AlreadyRunning(const QList<QByteArray> &Parameters);

    // First copy only, with a QCoreApplication running: accepts hand-overs and calls OnParameter on
    // Context's thread for each parameter, in order. The server lives and dies with Context. False
    // when this is not the first copy, Listen was called before, or the socket cannot be made.
    bool Listen(QObject *Context, std::function<void(const QByteArray &)> OnParameter);

    // First copy, once it is quitting: the socket goes, and records that arrived but were not yet
    // handled are refused, so that their later starts wait for the lock instead of losing links.
    void StopTakingLinks();

    const TInstancePaths &Paths() const { return FPaths; }

private:
    enum class TSendResult
    {
        Delivered,
        NoAnswer
    };
    TSendResult SendRecords(const QList<THandOverRecord> &Records) const;

    QString FInstanceName;
    TInstancePaths FPaths;
    bool FCalled = false;
    std::unique_ptr<QLockFile> FLock;
    QPointer<QObject> FServer; // the QLocalServer, once listening
    std::shared_ptr<bool> FRefusing = std::make_shared<bool>(false);
};
