#include "DataFolder.h"

#include "KestruneClasses.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

QString WithSlash(const QString &Folder)
{
    return Folder.endsWith(QLatin1Char('/')) ? Folder : Folder + QLatin1Char('/');
}

} // namespace

QString ChooseProgramFolder(const QString &ExecutableFolder, const QString &UserDataFolder)
{
    if (!ExecutableFolder.isEmpty()) {
        const QFileInfo Folder(ExecutableFolder);
        const QFileInfo Sites(WithSlash(ExecutableFolder) + SitesFileName);
        if (Folder.isDir() && Folder.isWritable() && Sites.isFile())
            return WithSlash(QDir::cleanPath(Folder.absoluteFilePath()));
    }
    return WithSlash(UserDataFolder);
}

QString UserDataFolder()
{
    return WithSlash(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)) +
           QStringLiteral("Kestrune/");
}

QString ProgramFolderOf(const QString &ExecutableFolder)
{
    const QString Folder = ChooseProgramFolder(ExecutableFolder, UserDataFolder());
    if (QFileInfo(Folder).isDir())
        return Folder;
    if (!QDir().mkpath(Folder))
        return QString();
    // It will hold user names and passwords.
    QFile::setPermissions(Folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return Folder;
}
