#pragma once

#include "SingleInstance.h"
#include "platform/InstanceFiles.h"

#include <QPointer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLockFile;
class QObject;

// One running copy per user session. The first copy holds a lock file; it listens on a local socket
// once its main window exists. A later copy hands its parameters over through the socket and ends.
class TInstanceGuard
{
public:
    explicit TInstanceGuard(std::string_view InstanceName);
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
    bool AlreadyRunning(const std::vector<std::string> &Parameters);

    // First copy only, with a QCoreApplication running: accepts hand-overs and calls OnParameter on
    // Context's thread for each parameter, in order. The server lives and dies with Context. False
    // when this is not the first copy, Listen was called before, or the socket cannot be made.
    bool Listen(QObject *Context, std::function<void(const QByteArray &)> OnParameter);

    // First copy, once it is quitting: the socket goes, and records that arrived but were not yet
    // handled are refused, so that their later starts wait for the lock instead of losing links.
    void StopTakingLinks();

    const TInstancePaths &Paths() const { return FPaths; }

private:
    std::string FInstanceName;
    TInstancePaths FPaths;
    bool FCalled = false;
    std::unique_ptr<QLockFile> FLock;
    QPointer<QObject> FServer; // the QLocalServer, once listening
    std::shared_ptr<bool> FRefusing = std::make_shared<bool>(false);
};
