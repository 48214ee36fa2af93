#include "platform/InstanceGuard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Local socket paths are limited to 107 bytes, and QLocalServer needs a little more while it makes
// the socket private.
constexpr qsizetype MaxSocketPathBytes = 100;

[[noreturn]] void FailFolder(const QString &Folder, int Error)
{
    throw std::runtime_error(
        QStringLiteral("Error creating shared memory %1 (%2)").arg(Folder).arg(Error).toStdString());
}

bool IsPrivateFolder(const QByteArray &Path)
{
    struct stat Info;
    return ::lstat(Path.constData(), &Info) == 0 && S_ISDIR(Info.st_mode) && Info.st_uid == ::geteuid() &&
           (Info.st_mode & 077) == 0;
}

bool SocketPathFits(const QString &Folder, const QString &InstanceName)
{
    return QFile::encodeName(InstancePathsIn(Folder, InstanceName).Socket).size() <= MaxSocketPathBytes;
}

// The user's cache folder: $XDG_CACHE_HOME when it is an absolute path, else ~/.cache.
QString UserCacheFolder()
{
    const QByteArray Cache = qgetenv("XDG_CACHE_HOME");
    if (Cache.startsWith('/'))
        return QFile::decodeName(Cache);
    QByteArray Home = qgetenv("HOME");
    if (!Home.startsWith('/')) {
        if (const passwd *User = ::getpwuid(::geteuid()); User && User->pw_dir)
            Home = User->pw_dir;
    }
    return Home.startsWith('/') ? QFile::decodeName(Home) + QStringLiteral("/.cache") : QString();
}

// The fallback folder, made private if it is ours; an error number when it cannot be.
int MakePrivateFallbackFolder(const QString &Folder)
{
    // The cache folder itself may not exist yet on a fresh account.
    if (!QDir().mkpath(QFileInfo(Folder).path()))
        return EACCES;
    const QByteArray Path = QFile::encodeName(Folder);
    if (::mkdir(Path.constData(), 0700) != 0 && errno != EEXIST)
        return errno;
    struct stat Info;
    if (::lstat(Path.constData(), &Info) != 0)
        return errno;
    // Someone else's folder (or a link) under our name: never use it.
    if (!S_ISDIR(Info.st_mode) || Info.st_uid != ::geteuid())
        return EACCES;
    if ((Info.st_mode & 077) != 0 && ::chmod(Path.constData(), 0700) != 0)
        return errno;
    return 0;
}

// Writes all of Data; false when the peer is gone.
bool SendAll(int Socket, const QByteArray &Data)
{
    qsizetype Sent = 0;
    while (Sent < Data.size()) {
        const ssize_t N = ::send(Socket, Data.constData() + Sent, size_t(Data.size() - Sent), MSG_NOSIGNAL);
        if (N < 0 && errno == EINTR)
            continue;
        if (N <= 0)
            return false;
        Sent += N;
    }
    return true;
}

} // namespace

void KeepFromCleanUp(const QString &Path)
{
    const QByteArray Name = QFile::encodeName(Path);
    struct stat Info;
    if (::lstat(Name.constData(), &Info) == 0)
        ::chmod(Name.constData(), (Info.st_mode & 07777) | S_ISVTX);
}

TInstancePaths InstancePathsIn(const QString &Folder, const QString &InstanceName)
{
    const QString Base = QDir(Folder).absolutePath() + u'/' + InstanceFileBaseName(InstanceName);
    return {QDir(Folder).absolutePath(), Base + QStringLiteral(".lock"), Base + QStringLiteral(".socket")};
}

TInstancePaths InstancePaths(const QString &InstanceName)
{
    const QByteArray Runtime = qgetenv("XDG_RUNTIME_DIR");
    if (Runtime.startsWith('/') && IsPrivateFolder(Runtime)) {
        const QString Folder = QFile::decodeName(Runtime);
        if (SocketPathFits(Folder, InstanceName))
            return InstancePathsIn(Folder, InstanceName);
    }
    // Not the shared temporary folder, where another user could make our folder first.
    const QString Cache = UserCacheFolder();
    if (Cache.isEmpty())
        FailFolder(QStringLiteral("~/.cache/kestrune"), ENOENT);
    const QString Folder = Cache + QStringLiteral("/kestrune");
    if (const int Error = MakePrivateFallbackFolder(Folder))
        FailFolder(Folder, Error);
    if (!SocketPathFits(Folder, InstanceName))
        FailFolder(Folder, ENAMETOOLONG);
    return InstancePathsIn(Folder, InstanceName);
}

TInstanceGuard::TInstanceGuard(const QString &InstanceName) : FInstanceName(InstanceName) {}

TInstanceGuard::~TInstanceGuard()
{
    // The socket goes before the lock, so that a copy taking the lock over never loses a fresh socket.
    delete FServer.data();
    if (FLock)
        FLock->unlock();
}

bool TInstanceGuard::AlreadyRunning(const QList<QByteArray> &Parameters)
{
    if (FCalled)
        throw EAssertionFailed("Do not call AlreadyRunning more than once!");
    FCalled = true;

    FPaths = InstancePaths(FInstanceName);
    FLock = std::make_unique<QLockFile>(FPaths.LockFile);
    // A running copy's lock never gets stale with age; one whose process is gone is taken over
    // at once by tryLock.
    FLock->setStaleLockTime(0);

    const QList<THandOverRecord> Records = HandOverRecords(Parameters);
    // Every failed search is followed by a pause; after the last pause the lock is tried once
    // more, so that a first copy that has ended meanwhile leaves the links to us.
    for (int Failed = 0;;) {
        if (FLock->tryLock(0)) {
            KeepFromCleanUp(FPaths.LockFile);
            return false;
        }
        if (FLock->error() != QLockFile::LockFailedError)
            FailFolder(FPaths.LockFile, errno ? errno : EACCES);
        if (Parameters.isEmpty())
            return true;
        if (Failed > RetryCount)
            return true; // the first copy never answered: its parameters are lost, as before
        if (SendRecords(Records) == TSendResult::Delivered)
            return true;
        ++Failed;
        std::this_thread::sleep_for(std::chrono::milliseconds(RetryInterval));
    }
}

TInstanceGuard::TSendResult TInstanceGuard::SendRecords(const QList<THandOverRecord> &Records) const
{
    const QByteArray Path = QFile::encodeName(FPaths.Socket);
    sockaddr_un Address{};
    Address.sun_family = AF_UNIX;
    if (size_t(Path.size()) >= sizeof(Address.sun_path))
        return TSendResult::NoAnswer;
    std::memcpy(Address.sun_path, Path.constData(), size_t(Path.size()));

    for (qsizetype I = 0; I < Records.size(); ++I) {
        const int Socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (Socket < 0)
            return I == 0 ? TSendResult::NoAnswer : TSendResult::Delivered;
        int Result;
        do
            Result = ::connect(Socket, reinterpret_cast<const sockaddr *>(&Address), sizeof(Address));
        while (Result != 0 && errno == EINTR);
        if (Result != 0) {
            ::close(Socket);
            // Not listening yet (or gone): search again. Once a piece went over, the rest is lost
            // with the copy that took it.
            return I == 0 ? TSendResult::NoAnswer : TSendResult::Delivered;
        }
        char Answer = 0;
        if (SendAll(Socket, EncodeHandOverRecord(Records[I]))) {
            // No time limit: the first copy answers once the user has answered its message boxes.
            ssize_t N;
            do
                N = ::recv(Socket, &Answer, 1, 0);
            while (N < 0 && errno == EINTR);
            if (N != 1)
                Answer = 0;
        }
        ::close(Socket);
        if (Answer == HandOverAcknowledgement)
            continue;
        // Refused by a copy that is quitting, or dropped by one that went away before answering:
        // the first piece is searched for again. Once a piece went over, the rest is lost with
        // the copy that took it.
        return I == 0 ? TSendResult::NoAnswer : TSendResult::Delivered;
    }
    return TSendResult::Delivered;
}
