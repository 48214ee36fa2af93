#include "platform/DataFolderLock.h"

#include <QDir>
#include <QLockFile>

TDataFolderLock::TDataFolderLock(const QString &Folder)
    : FFolder(Folder), FLock(std::make_unique<QLockFile>(QDir(Folder).filePath(LockFileName)))
{
    // A running copy's lock never gets stale with age; one whose process is gone is taken over.
    FLock->setStaleLockTime(0);
}

TDataFolderLock::~TDataFolderLock()
{
    FLock->unlock();
}

bool TDataFolderLock::TryLock()
{
    if (FLock->tryLock(0))
        return true;
    return FLock->error() != QLockFile::LockFailedError;
}

QString TDataFolderLock::HeldElsewhereMessage() const
{
    qint64 Process = 0;
    QString Host;
    QString Application;
    const QString Where = QDir::toNativeSeparators(QDir::cleanPath(FFolder));
    if (!FLock->getLockInfo(&Process, &Host, &Application))
        return QStringLiteral("Kestrune already runs elsewhere with the data folder \"%1\".").arg(Where);
    return QStringLiteral("Kestrune already runs elsewhere with the data folder \"%1\" (process %2 on %3).")
        .arg(Where, QString::number(Process), Host.isEmpty() ? QStringLiteral("this computer") : Host);
}
