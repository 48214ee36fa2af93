#include "platform/LauncherEntries.h"

#include "CRC32unit.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>

#include <algorithm>

namespace {

const QString PathPrefix = QStringLiteral("/com/canonical/unity/launcherentry/");
const QString DesktopSuffix = QStringLiteral(".desktop");
// A file name's limit on Linux file systems.
constexpr qsizetype MaxDesktopIdBytes = 255;

bool IsControl(QChar C)
{
    const char16_t U = C.unicode();
    return U < 0x20 || (U >= 0x7f && U <= 0x9f);
}

} // namespace

const QString TLauncherEntries::Interface = QStringLiteral("com.canonical.Unity.LauncherEntry");

QDBusArgument &operator<<(QDBusArgument &Argument, const TLauncherEntryState &Entry)
{
    Argument.beginStructure();
    Argument << Entry.AppUri << Entry.Properties;
    Argument.endStructure();
    return Argument;
}

const QDBusArgument &operator>>(const QDBusArgument &Argument, TLauncherEntryState &Entry)
{
    Argument.beginStructure();
    Argument >> Entry.AppUri >> Entry.Properties;
    Argument.endStructure();
    return Argument;
}

TLauncherEntries::TLauncherEntries(QObject *Parent) : QObject(Parent)
{
    qDBusRegisterMetaType<TLauncherEntryState>();
    qDBusRegisterMetaType<QList<TLauncherEntryState>>();
}

TLauncherEntries::~TLauncherEntries()
{
    if (FCounts.isEmpty() || !QCoreApplication::instance())
        return;
    const QList<QString> Shown = FCounts.keys();
    for (const QString &DesktopId : Shown)
        SetCount(DesktopId, 0);
}

bool TLauncherEntries::IsDesktopId(const QString &DesktopId)
{
    if (DesktopId.size() <= DesktopSuffix.size() || !DesktopId.endsWith(DesktopSuffix) ||
        !DesktopId.isValidUtf16() || DesktopId.contains(QLatin1Char('/')) ||
        std::any_of(DesktopId.cbegin(), DesktopId.cend(), IsControl))
        return false;
    return DesktopId.toUtf8().size() <= MaxDesktopIdBytes;
}

QString TLauncherEntries::AppUri(const QString &DesktopId)
{
    return QStringLiteral("application://") + DesktopId;
}

QString TLauncherEntries::ObjectPath(const QString &DesktopId)
{
    return PathPrefix + QString::number(CRC32(AppUri(DesktopId).toUtf8()));
}

QVariantMap TLauncherEntries::Properties(qint64 Count)
{
    // Docks read the count as a 64-bit integer; GNOME's ignores any other type.
    return {{QStringLiteral("count"), QVariant::fromValue<qint64>(Count)},
            {QStringLiteral("count-visible"), Count > 0}};
}

void TLauncherEntries::SetCount(const QString &DesktopId, int Count)
{
    const qint64 Shown = qMax(Count, 0);
    if (!IsDesktopId(DesktopId) || this->Count(DesktopId) == Shown)
        return;
    QDBusConnection Bus = QDBusConnection::sessionBus();
    if (!Bus.isConnected())
        return;
    const QString Path = ObjectPath(DesktopId);
    if (Shown > 0) {
        FCounts.insert(DesktopId, Shown);
        // Our own object may stand there already for another URI of the same checksum.
        if (!Bus.objectRegisteredAt(Path))
            Bus.registerObject(Path, this, QDBusConnection::ExportScriptableSlots);
    } else {
        FCounts.remove(DesktopId);
        const QList<QString> Others = FCounts.keys();
        if (std::none_of(Others.cbegin(), Others.cend(),
                         [&Path](const QString &Other) { return ObjectPath(Other) == Path; }))
            Bus.unregisterObject(Path);
    }
    QDBusMessage Update = QDBusMessage::createSignal(Path, Interface, QStringLiteral("Update"));
    Update << AppUri(DesktopId) << Properties(Shown);
    Bus.send(Update);
}

QList<TLauncherEntryState> TLauncherEntries::Query() const
{
    const bool FromBus = calledFromDBus();
    const QString Path = FromBus ? message().path() : QString();
    QList<TLauncherEntryState> Entries;
    for (auto Entry = FCounts.cbegin(); Entry != FCounts.cend(); ++Entry) {
        if (!FromBus || ObjectPath(Entry.key()) == Path)
            Entries.append({AppUri(Entry.key()), Properties(Entry.value())});
    }
    return Entries;
}
