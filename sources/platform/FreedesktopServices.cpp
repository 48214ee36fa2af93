#include "platform/FreedesktopServices.h"

#include "platform/DesktopBrowser.h"
#include "platform/DesktopNotification.h"
#include "platform/DockFavorites.h"
#include "platform/LauncherEntries.h"
#include "platform/ShellLinks.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
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

// The desktop folder that the user's XDG user-dirs file names (XDG_DESKTOP_DIR), read as
// xdg-user-dirs reads it: "$HOME/..." or an absolute path in double quotes, the last line counts.
// Nothing when the file names none; empty when it names the home folder, which is how
// xdg-user-dirs records a folder the user has done without.
std::optional<QString> UserDirsDesktopFolder(const QString &ConfigHome, const QString &Home)
{
    if (ConfigHome.isEmpty())
        return std::nullopt;
    const QString Path = ConfigHome + QStringLiteral("/user-dirs.dirs");
    if (!QFileInfo(Path).isFile())
        return std::nullopt;
    QFile File(Path);
    if (!File.open(QIODevice::ReadOnly))
        return std::nullopt;
    // The file is a dozen short lines; more than this is not one.
    const QByteArray Text = File.read(64 * 1024);
    const QByteArray Key = "XDG_DESKTOP_DIR";
    std::optional<QString> Folder;
    for (const QByteArray &RawLine : Text.split('\n')) {
        const QByteArray Line = RawLine.trimmed();
        if (!Line.startsWith(Key))
            continue;
        QByteArray Rest = Line.mid(Key.size()).trimmed();
        if (!Rest.startsWith('='))
            continue;
        Rest = Rest.mid(1).trimmed();
        if (!Rest.startsWith('"'))
            continue;
        Rest = Rest.mid(1);
        const bool InHome = Rest.startsWith("$HOME");
        if (InHome)
            Rest = Rest.mid(5);
        else if (!Rest.startsWith('/'))
            continue;
        QByteArray Value;
        for (qsizetype I = 0; I < Rest.size() && Rest.at(I) != '"'; ++I) {
            if (Rest.at(I) == '\\' && I + 1 < Rest.size())
                ++I;
            Value += Rest.at(I);
        }
        if (Value.contains('\0'))
            continue;
        const QString Named = QFile::decodeName(Value);
        Folder = WithoutTrailingSlash(QDir::cleanPath(InHome ? Home + QLatin1Char('/') + Named : Named));
    }
    if (Folder && *Folder == WithoutTrailingSlash(QDir::cleanPath(Home)))
        return QString();
    return Folder;
}

} // namespace

TFreedesktopServices::TFreedesktopServices()
    : FNotifier(std::make_unique<TDesktopNotifier>()), FLauncherEntries(std::make_unique<TLauncherEntries>())
{}

TFreedesktopServices::~TFreedesktopServices() = default;

bool TFreedesktopServices::IsSystemTrayAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool TFreedesktopServices::OpenSiteAddress(const QByteArray &Address, bool Minimized)
{
    Q_UNUSED(Minimized);
    const QUrl Url = SiteAddress(Address);
    return Url.isValid() && QDesktopServices::openUrl(Url);
}

bool TFreedesktopServices::OpenInDefaultBrowser(const QByteArray &Address, bool Minimized)
{
    Q_UNUSED(Minimized);
    if (!IsWebAddress(Address))
        return false;
    return QDesktopServices::openUrl(QUrl::fromEncoded(Address.trimmed(), QUrl::TolerantMode));
}

bool TFreedesktopServices::SendDesktopNotification(const QString &Title, const QString &Text,
                                                   int Milliseconds, std::function<void()> OnClicked,
                                                   std::function<void(bool Shown)> OnShown)
{
    return FNotifier->Send(Title, Text, Milliseconds, std::move(OnClicked), std::move(OnShown));
}

QString TFreedesktopServices::SpecialFolderPath(TSpecialFolder Folder, bool Create)
{
    bool XdgNamed = false;
    const QString Path = FolderPath(Folder, &XdgNamed);
    if (!Create || Path.isEmpty() || QFileInfo(Path).isDir())
        return Path;
    return XdgNamed && MakeUserFolder(Path) ? Path : QString();
}

QString TFreedesktopServices::FolderPath(TSpecialFolder Folder, bool *XdgNamed)
{
    *XdgNamed = true;
    switch (Folder) {
    case TSpecialFolder::StartMenu:
        return WithoutTrailingSlash(QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation));
    case TSpecialFolder::Desktop: {
        // Not Qt's DesktopLocation: it answers ~/Desktop when user-dirs names no desktop folder (and
        // always in test mode), and a folder nobody named must not be made. That fallback is still
        // the folder to use when it is there.
        const QString Home = QDir::homePath();
        const std::optional<QString> Named = UserDirsDesktopFolder(
            WithoutTrailingSlash(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)),
            Home);
        *XdgNamed = Named.has_value();
        return Named ? *Named : WithoutTrailingSlash(Home) + QStringLiteral("/Desktop");
    }
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

void TFreedesktopServices::SetLauncherCount(const QString &DesktopId, int Count)
{
    FLauncherEntries->SetCount(DesktopId, Count);
}

bool TFreedesktopServices::RunningAsRoot() const
{
    return ::geteuid() == 0;
}

bool TFreedesktopServices::WindowPositionsKnown() const
{
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}
