#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QMap>

#include <optional>

// Desktop entries (freedesktop launcher files) are what a shortcut is on this desktop. This is the
// text side only: building the file and reading one back; the files themselves are written by the
// shell-link adapter.

struct TDesktopEntry
{
    QByteArray Name;
    QByteArray Comment;
    // Absolute path of the program and its arguments; every one is quoted, none is ever handed to
    // a shell.
    QByteArray Program;
    QByteArrayList Arguments;
    QByteArray WorkingDirectory; // empty: none
    QByteArray Icon;             // absolute path of an icon file, or an icon theme name; empty: none
    // The window class of the program's windows, by which docks tie them to this entry; empty: none.
    QByteArray StartupWMClass;
    // Marks the entry as a site shortcut of this program: only marked files are ever counted or deleted.
    bool SiteMark = false;
};

inline constexpr char DesktopEntryExtension[] = ".desktop";
inline constexpr char SiteMarkKey[] = "X-Kestrune-Site";

// The value of a string key: backslash, newline, tab and CR escaped, a leading blank as \s. Bytes
// that are not UTF-8 become U+FFFD, other control characters are dropped: a launcher rejects both.
QByteArray EscapeDesktopString(const QByteArray &Value);
QByteArray UnescapeDesktopString(const QByteArray &Value);

// One argument of the Exec key, before the string escaping: in double quotes with '"', '`', '$'
// and '\' escaped, and '%' doubled so that no launcher takes it for a field code.
QByteArray QuoteExecArgument(const QByteArray &Argument);
QByteArray BuildExecLine(const QByteArray &Program, const QByteArrayList &Arguments);
// The reverse of BuildExecLine for a value whose string escapes are already removed; nothing when
// a quote is left open or a field code other than %% appears.
std::optional<QByteArrayList> SplitExecLine(const QByteArray &Exec);

QByteArray BuildDesktopEntry(const TDesktopEntry &Entry);

// The keys of the "[Desktop Entry]" group with their values unescaped; the first of repeated keys
// counts. Localised keys ("Name[de]") are kept under their full name.
QMap<QByteArray, QByteArray> ReadDesktopEntryGroup(const QByteArray &Text);
