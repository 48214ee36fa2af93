#include "platform/ShellLinks.h"

#include "DesktopEntry.h"
#include "SiteIdentity.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

TShellLink::TShellLink(const QString &Target) : FTarget(Target) {}

QByteArray TShellLink::NameFor(const QString &Path) const
{
    if (!FName.isEmpty())
        return FName;
    QString Base = QFileInfo(Path).fileName();
    if (Base.endsWith(ShellLinkExtension, Qt::CaseInsensitive))
        Base.chop(ShellLinkExtension.size());
    return Base.toUtf8();
}

QByteArray TShellLink::Text() const
{
    TDesktopEntry Entry;
    Entry.Name = FName;
    Entry.Comment = FDescription;
    Entry.Program = QFile::encodeName(FTarget);
    Entry.Arguments = FArguments;
    Entry.WorkingDirectory = QFile::encodeName(FWorkingDirectory);
    Entry.Icon = QFile::encodeName(FIconPath);
    Entry.StartupWMClass = FWindowClass;
    Entry.SiteMark = FSiteMark;
    return BuildDesktopEntry(Entry);
}

bool TShellLink::Save(const QString &Path, bool Resolve)
{
    FLastError.clear();
    if (Resolve) {
        const QFileInfo Target(FTarget);
        if (!Target.isAbsolute() || !Target.isFile() || !Target.isExecutable()) {
            FLastError = QStringLiteral("The target \"%1\" is not a program.").arg(FTarget);
            return false;
        }
    }
    QString FileName = Path;
    if (!FileName.endsWith(ShellLinkExtension, Qt::CaseInsensitive))
        FileName += ShellLinkExtension;

    TShellLink Named(*this);
    Named.FName = NameFor(FileName);
    QSaveFile File(FileName);
    if (!File.open(QIODevice::WriteOnly)) {
        FLastError = File.errorString();
        return false;
    }
    File.write(Named.Text());
    // A site's launcher holds its title and address: the owner's alone. Executable, because
    // desktops start launchers from the desktop folder only when they are.
    File.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (!File.commit()) {
        FLastError = File.errorString();
        return false;
    }
    return true;
}

namespace {

// A launcher is a few hundred bytes; a huge file under a launcher's name is not ours.
constexpr qint64 MaxShellLinkSize = 64 * 1024;

QByteArray FoldAscii(QByteArray Text)
{
    for (char &C : Text) {
        if (C >= 'A' && C <= 'Z')
            C = char(C - 'A' + 'a');
    }
    return Text;
}

} // namespace

QMap<QByteArray, QByteArray> ReadShellLinkKeys(const QString &Path)
{
    // Only regular files: opening a FIFO someone left there would block.
    if (Path.isEmpty() || !QFileInfo(Path).isFile())
        return {};
    QFile File(Path);
    if (!File.open(QIODevice::ReadOnly))
        return {};
    const QByteArray Text = File.read(MaxShellLinkSize + 1);
    if (Text.size() > MaxShellLinkSize)
        return {};
    return ReadDesktopEntryGroup(Text);
}

bool IsSiteShellLink(const QString &Path)
{
    return ReadShellLinkKeys(Path).value(SiteMarkKey) == "true";
}

bool ReadProgramAutostartEntry(const QString &Folder, const QString &Program)
{
    if (Folder.isEmpty())
        return false;
    const QMap<QByteArray, QByteArray> Keys =
        ReadShellLinkKeys(Folder + QLatin1Char('/') + ProgramAutostartName);
    // Desktop settings switch an entry off in place rather than deleting it.
    if (Keys.value("Hidden") == "true" || Keys.value("X-GNOME-Autostart-enabled") == "false")
        return false;
    const std::optional<QByteArrayList> Exec = SplitExecLine(Keys.value("Exec"));
    if (!Exec || Exec->size() != 1)
        return false;
    return FoldAscii(Exec->first()) == FoldAscii(QFile::encodeName(Program));
}

bool WriteProgramAutostartEntry(const QString &Folder, bool On, const QString &Program, QString *Error)
{
    if (Folder.isEmpty())
        return true;
    const QString FileName = Folder + QLatin1Char('/') + ProgramAutostartName;
    if (!On) {
        if (QFileInfo::exists(FileName) && !QFile::remove(FileName)) {
            if (Error)
                *Error = QStringLiteral("Cannot delete file \"%1\".").arg(FileName);
            return false;
        }
        return true;
    }
    TShellLink Link(Program);
    Link.SetName("Kestrune");
    Link.SetDescription("Kestrune site launcher");
    // The icon the installed program brings into the icon theme.
    Link.SetIconPath(QStringLiteral(KESTRUNE_APP_ID));
    if (!Link.Save(FileName, false)) {
        if (Error)
            *Error = QStringLiteral("Cannot create file \"%1\". %2").arg(FileName, Link.LastError());
        return false;
    }
    return true;
}

QString SiteDesktopId(const QByteArray &Title)
{
    const QByteArray Name = SiteDesktopName(Title);
    return Name.isEmpty() ? QString() : QFile::decodeName(Name) + ShellLinkExtension;
}
