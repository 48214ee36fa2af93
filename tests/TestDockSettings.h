#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

// GSettings of a test's own: GNOME Shell's "favorite-apps" schema written and compiled into Folder,
// the memory backend, and no schemas of the machine's (XDG_DATA_DIRS points at Folder too), so that
// nothing reaches the user's settings. Cinnamon's schema is left out on purpose: a desktop that
// names Cinnamon stands for one whose schema is not installed. GLib reads these once per process:
// call this before anything touches GSettings. Returns an error text, empty on success.
inline QString UsePrivateDockSettings(const QString &Folder, const QByteArray &Desktop = "GNOME")
{
    QFile Schema(Folder + QStringLiteral("/org.gnome.shell.gschema.xml"));
    if (!Schema.open(QIODevice::WriteOnly))
        return Schema.errorString();
    Schema.write("<schemalist>\n"
                 "  <schema id=\"org.gnome.shell\" path=\"/org/gnome/shell/\">\n"
                 "    <key name=\"favorite-apps\" type=\"as\">\n"
                 "      <default>['firefox-esr.desktop', 'org.gnome.Nautilus.desktop']</default>\n"
                 "    </key>\n"
                 "  </schema>\n"
                 "</schemalist>\n");
    Schema.close();
    const QString Compiler = QStandardPaths::findExecutable(QStringLiteral("glib-compile-schemas"));
    if (Compiler.isEmpty())
        return QStringLiteral("glib-compile-schemas is not installed (libglib2.0-bin)");
    QProcess Compile;
    Compile.start(Compiler, {Folder});
    if (!Compile.waitForFinished(30000) || Compile.exitCode() != 0)
        return QString::fromLocal8Bit(Compile.readAllStandardError());
    qputenv("GSETTINGS_SCHEMA_DIR", QFile::encodeName(Folder));
    qputenv("GSETTINGS_BACKEND", "memory");
    qputenv("XDG_DATA_DIRS", QFile::encodeName(Folder));
    qputenv("XDG_CURRENT_DESKTOP", Desktop);
    return QString();
}
