#include "platform/InstanceGuard.h"

#include "platform/HandOverClient.h"

#include <QFile>
#include <QLockFile>

#include <cerrno>
#include <chrono>
#include <thread>

TInstanceGuard::TInstanceGuard(std::string_view InstanceName) : FInstanceName(InstanceName) {}

TInstanceGuard::~TInstanceGuard()
{
    // The socket goes before the lock, so that a copy taking the lock over never loses a fresh socket.
    delete FServer.data();
    if (FLock)
        FLock->unlock();
}

bool TInstanceGuard::AlreadyRunning(const std::vector<std::string> &Parameters)
{
    if (FCalled)
        throw EAssertionFailed("Do not call AlreadyRunning more than once!");
    FCalled = true;

    FPaths = InstancePaths(FInstanceName);
    FLock = std::make_unique<QLockFile>(QFile::decodeName(FPaths.LockFile.c_str()));
    // A running copy's lock never gets stale with age; one whose process is gone is taken over
    // at once by tryLock.
    FLock->setStaleLockTime(0);

    const std::vector<THandOverRecord> Records = HandOverRecords(Parameters);
    // Every failed search is followed by a pause; after the last pause the lock is tried once
    // more, so that a first copy that has ended meanwhile leaves the links to us.
    for (int Failed = 0;;) {
        if (FLock->tryLock(0)) {
            KeepFromCleanUp(FPaths.LockFile);
            return false;
        }
        if (FLock->error() != QLockFile::LockFailedError)
            throw InstanceFileError(FPaths.LockFile, errno ? errno : EACCES);
        if (Parameters.empty())
            return true;
        if (Failed > RetryCount)
            return true; // the first copy never answered: its parameters are lost, as before
        if (SendHandOver(FPaths.Socket, Records) == THandOverResult::Delivered)
            return true;
        ++Failed;
        std::this_thread::sleep_for(std::chrono::milliseconds(RetryInterval));
    }
}
