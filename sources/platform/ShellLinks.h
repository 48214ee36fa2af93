#pragma once

#include "KestruneVersion.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QMap>
#include <QString>

// Shell links and special folders on the freedesktop desktop: a shortcut is a desktop entry
// (".desktop", executable) and the per-user folders are the XDG ones.

inline const QString ShellLinkExtension = QStringLiteral(".desktop");

// The desktop id by which the dock names a site's Start-menu entry (and badges it); empty when the
// title names no file.
QString SiteDesktopId(const QByteArray &Title);

// A shortcut in the making. Nothing touches the disk before Save.
class TShellLink
{
public:
    // Target: the full path of an existing program file.
    explicit TShellLink(const QString &Target);

    void SetDescription(const QByteArray &Text) { FDescription = Text; }
    // The arguments reach the program one by one, exactly, without a shell in between.
    void SetArguments(const QByteArrayList &Arguments) { FArguments = Arguments; }
    void SetWorkingDirectory(const QString &Folder) { FWorkingDirectory = Folder; }
    // Launchers here have no show command; kept for the callers' sake.
    void SetShowCommand(int Command) { FShowCommand = Command; }
    void SetIconPath(const QString &Path) { FIconPath = Path; }
    // An icon file holds one icon here; the index is kept but not written.
    void SetIconIndex(int Index) { FIconIndex = Index; }
    // The shown name of the launcher; the file name without its extension when not set.
    void SetName(const QByteArray &Name) { FName = Name; }
    // The window class of the target's windows (StartupWMClass), for docks; empty: none.
    void SetWindowClass(const QByteArray &Class) { FWindowClass = Class; }
    // Marks the file as a site shortcut of ours (SiteMarkKey).
    void SetSiteMark(bool On) { FSiteMark = On; }

    QByteArray Text() const;
    // Writes the entry atomically to Path (".desktop" appended unless present), for the owner alone
    // and executable, replacing a file of that name. With Resolve, nothing is written unless the
    // target is an executable file. Returns whether the file was written.
    bool Save(const QString &Path, bool Resolve);
    QString LastError() const { return FLastError; }

private:
    QByteArray NameFor(const QString &Path) const;

    QString FTarget;
    QByteArray FName;
    QByteArray FDescription;
    QByteArrayList FArguments;
    QString FWorkingDirectory;
    int FShowCommand = 1;
    QString FIconPath;
    int FIconIndex = 0;
    QByteArray FWindowClass;
    bool FSiteMark = false;
    QString FLastError;
};

// The "[Desktop Entry]" keys of a launcher file; empty when Path is not a regular file, cannot be
// read or is larger than any launcher we write.
QMap<QByteArray, QByteArray> ReadShellLinkKeys(const QString &Path);
// Whether the file at Path is a site shortcut this program wrote: it carries the site mark. A file
// the user made under the same name is never ours to count, rewrite or delete.
bool IsSiteShellLink(const QString &Path);

// The entry that starts the program itself when the user logs on (the Run value of the reference
// platform). Its file name is the program's own desktop entry name, one no site shortcut is given, so
// the two never collide.
inline const QString ProgramAutostartName = QStringLiteral(KESTRUNE_APP_ID ".desktop");
// Whether Folder holds the entry, enabled and starting Program (paths compared with ASCII letters
// folded).
bool ReadProgramAutostartEntry(const QString &Folder, const QString &Program);
// Writes (On) or deletes the entry in Folder. Does nothing when Folder is empty. False with a message
// for the user when the file cannot be written.
bool WriteProgramAutostartEntry(const QString &Folder, bool On, const QString &Program,
                                QString *Error = nullptr);
