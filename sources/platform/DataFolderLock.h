#pragma once

#include <QString>

#include <memory>

class QLockFile;

// One running copy per data folder, whatever runtime folder it sees: a shell without
// XDG_RUNTIME_DIR beside the desktop session, su or ssh would otherwise start a second copy that
// saves the same sites.dat. Held from before anything is read until the program has saved.
class TDataFolderLock
{
public:
    explicit TDataFolderLock(const QString &Folder);
    ~TDataFolderLock();
    TDataFolderLock(const TDataFolderLock &) = delete;
    TDataFolderLock &operator=(const TDataFolderLock &) = delete;

    // False only when another running copy holds the folder. A lock left by a copy that died is
    // taken over; a folder where no lock can be made (read-only) is not guarded.
    bool TryLock();
    // For the user, once TryLock has failed: which copy holds the folder.
    QString HeldElsewhereMessage() const;

    static inline const QString LockFileName = QStringLiteral("kestrune.lock");

private:
    QString FFolder;
    std::unique_ptr<QLockFile> FLock;
};
