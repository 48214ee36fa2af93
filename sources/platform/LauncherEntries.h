#pragma once

#include <QDBusContext>
#include <QHash>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVariantMap>

class QDBusArgument;

// One launcher as Query tells it: its application URI and its properties.
struct TLauncherEntryState
{
    QString AppUri;
    QVariantMap Properties;
};
Q_DECLARE_METATYPE(TLauncherEntryState)

QDBusArgument &operator<<(QDBusArgument &Argument, const TLauncherEntryState &Entry);
const QDBusArgument &operator>>(const QDBusArgument &Argument, TLauncherEntryState &Entry);

// Counts on launchers in docks and panels, through the launcher-entry API that Unity began and that
// KDE Plasma, Dash to Dock and Plank read. Each change goes out as the signal Update from an object
// path of the launcher's own; while a launcher has a count, an object at that path answers Query,
// which a dock that starts later asks. Nothing goes out without a session bus.
class TLauncherEntries : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.Unity.LauncherEntry")
    Q_CLASSINFO("D-Bus Introspection", "  <interface name=\"com.canonical.Unity.LauncherEntry\">\n"
                                       "    <method name=\"Query\">\n"
                                       "      <arg name=\"entries\" type=\"a(sa{sv})\" direction=\"out\"/>\n"
                                       "    </method>\n"
                                       "    <signal name=\"Update\">\n"
                                       "      <arg name=\"app_uri\" type=\"s\"/>\n"
                                       "      <arg name=\"properties\" type=\"a{sv}\"/>\n"
                                       "    </signal>\n"
                                       "  </interface>\n")

public:
    static const QString Interface;

    explicit TLauncherEntries(QObject *Parent = nullptr);
    // Launchers that still show a count lose it: the program's windows are gone.
    ~TLauncherEntries() override;

    // Whether DesktopId names a desktop entry file: "<name>.desktop", at most 255 bytes, without
    // '/', control characters or broken UTF-16.
    static bool IsDesktopId(const QString &DesktopId);
    // "application://<DesktopId>", as docks name launchers.
    static QString AppUri(const QString &DesktopId);
    // The launcher's object path: a fixed prefix and a checksum of its URI in decimal, stable
    // across runs (a confined program may send only from such a path).
    static QString ObjectPath(const QString &DesktopId);

    // Shows Count (above 0) on the launcher, or takes its count away. Nothing for a DesktopId that
    // names no desktop entry, and nothing when the launcher already shows that.
    void SetCount(const QString &DesktopId, int Count);
    // What the launcher shows: 0 for none.
    qint64 Count(const QString &DesktopId) const { return FCounts.value(DesktopId, 0); }

public slots:
    // Asked over the bus: the launchers with a count at the path asked (all of them when called
    // here); more than one only when two URIs share a checksum.
    Q_SCRIPTABLE QList<TLauncherEntryState> Query() const;

private:
    static QVariantMap Properties(qint64 Count);

    // By desktop id; only launchers that show a count.
    QHash<QString, qint64> FCounts;
};
