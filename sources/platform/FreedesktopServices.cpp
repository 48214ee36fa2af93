#include "platform/FreedesktopServices.h"

#include "platform/DesktopBrowser.h"
#include "platform/DesktopNotification.h"
#include "platform/DockFavorites.h"
#include "platform/ShellLinks.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QUrl>

#include <optional>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QString WithoutTrailingSlash(QString Path)
{
    while (Path.size() > 1 && Path.endsWith(QLatin1Char('/')))
        Path.chop(1);
    return Path;
}

// Makes Path and the folders above it that are missing, each new one for the user alone.
bool MakeUserFolder(const QString &Path)
{
    QStringList Missing;
    QString Walk = Path;
    while (!Walk.isEmpty() && !QFileInfo(Walk).exists()) {
        Missing.prepend(Walk);
        const QString Up = QFileInfo(Walk).path();
        if (Up == Walk)
            break;
        Walk = Up;
    }
    for (const QString &Folder : std::as_const(Missing)) {
        if (::mkdir(QFile::encodeName(Folder).constData(), 0700) != 0 && !QFileInfo(Folder).isDir())
            return false;
    }
    return QFileInfo(Path).isDir();
}

} // namespace

TFreedesktopServices::TFreedesktopServices() : FNotifier(std::make_unique<TDesktopNotifier>()) {}

TFreedesktopServices::~TFreedesktopServices() = default;

bool TFreedesktopServices::IsSystemTrayAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool TFreedesktopServices::OpenInDefaultBrowser(const QByteArray &Address, bool Minimized)
{
    Q_UNUSED(Minimized);
    if (!IsWebAddress(Address))
        return false;
    return QDesktopServices::openUrl(QUrl::fromEncoded(Address.trimmed(), QUrl::TolerantMode));
}

bool TFreedesktopServices::SendDesktopNotification(const QString &Title, const QString &Text,
                                                   int Milliseconds, std::function<void()> OnClicked)
{
    return FNotifier->Send(Title, Text, Milliseconds, std::move(OnClicked));
}

QString TFreedesktopServices::SpecialFolderPath(TSpecialFolder Folder, bool Create)
{
    const QString Path = FolderPath(Folder);
    if (!Create || Path.isEmpty() || QFileInfo(Path).isDir())
        return Path;
    return MakeUserFolder(Path) ? Path : QString();
}

QString TFreedesktopServices::FolderPath(TSpecialFolder Folder)
{
    switch (Folder) {
    case TSpecialFolder::StartMenu:
        return WithoutTrailingSlash(QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation));
    case TSpecialFolder::Desktop:
        return WithoutTrailingSlash(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
    case TSpecialFolder::AppData:
        return WithoutTrailingSlash(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    case TSpecialFolder::Startup: {
        const QString Config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        return Config.isEmpty() ? QString() : WithoutTrailingSlash(Config) + QStringLiteral("/autostart");
    }
    }
    return QString();
}

bool TFreedesktopServices::IsProgramAutostartEntry(const QString &Program)
{
    return ReadProgramAutostartEntry(SpecialFolderPath(TSpecialFolder::Startup), Program);
}

bool TFreedesktopServices::SetProgramAutostartEntry(bool On, const QString &Program, QString *Error)
{
    return WriteProgramAutostartEntry(SpecialFolderPath(TSpecialFolder::Startup, true), On, Program, Error);
}

bool TFreedesktopServices::HasDockFavorites()
{
    return ReadDockFavorites().has_value();
}

bool TFreedesktopServices::IsDockFavorite(const QString &DesktopId)
{
    const std::optional<QStringList> Favorites = ReadDockFavorites();
    return Favorites && !DesktopId.isEmpty() && Favorites->contains(DesktopId);
}

bool TFreedesktopServices::AddDockFavorite(const QString &DesktopId)
{
    std::optional<QStringList> Favorites = ReadDockFavorites();
    if (!Favorites || !DesktopId.endsWith(ShellLinkExtension) || DesktopId.contains(QLatin1Char('/')))
        return false;
    if (Favorites->contains(DesktopId))
        return true;
    Favorites->append(DesktopId);
    return WriteDockFavorites(*Favorites);
}

bool TFreedesktopServices::RemoveDockFavorite(const QString &DesktopId)
{
    std::optional<QStringList> Favorites = ReadDockFavorites();
    if (!Favorites || DesktopId.isEmpty())
        return false;
    if (Favorites->removeAll(DesktopId) == 0)
        return true;
    return WriteDockFavorites(*Favorites);
}

bool TFreedesktopServices::RunningAsRoot() const
{
    return ::geteuid() == 0;
}
