#pragma once

#include "platform/DesktopServices.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <QtTest>

struct TNotification
{
    uint Id = 0;
    QString AppName, AppIcon, Summary, Body, DesktopEntry;
    QStringList Actions;
    int Timeout = 0;
};

// The session's notification service as the desktop offers it (GNOME's reads markup in the body),
// on a connection of its own, so that the messages go through the bus as they do on a desktop. It
// records what it is sent, and sends the signals that a user's click or a closed notification gives.
// It can also leave the bus, refuse notifications, or never answer them.
class TNotificationService : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    static inline const QString Path = QStringLiteral("/org/freedesktop/Notifications");
    static inline const QString Interface = QStringLiteral("org.freedesktop.Notifications");

    QList<TNotification> Received;
    // Notify answers with an error and records nothing.
    bool Refuse = false;
    // Notify records the notification and never answers.
    bool Silent = false;

    bool Start(const QString &BusAddress)
    {
        if (FStarted)
            return true;
        QDBusConnection Service = QDBusConnection::connectToBus(BusAddress, QStringLiteral("notifications"));
        FStarted = Service.registerObject(Path, this, QDBusConnection::ExportAllSlots) &&
                   Service.registerService(Interface);
        return FStarted;
    }

    // The name has no owner on the bus from now on.
    void Stop()
    {
        if (!FStarted)
            return;
        QDBusConnection Service(QStringLiteral("notifications"));
        Service.unregisterService(Interface);
        Service.unregisterObject(Path);
        FStarted = false;
    }

    // The user clicked the notification (Key "default") or one of its buttons.
    void InvokeAction(uint Id, const QString &Key) { Emit(QStringLiteral("ActionInvoked"), {Id, Key}); }
    // Reason 1: expired, 2: dismissed by the user, 3: closed by a call.
    void Close(uint Id, uint Reason = 2) { Emit(QStringLiteral("NotificationClosed"), {Id, Reason}); }
    // A signal whose arguments are not what the service's interface says.
    void EmitRaw(const QString &Name, const QVariantList &Arguments) { Emit(Name, Arguments); }

public slots:
    QStringList GetCapabilities() { return {QStringLiteral("body"), QStringLiteral("body-markup")}; }
    uint Notify(const QString &AppName, uint ReplacesId, const QString &AppIcon, const QString &Summary,
                const QString &Body, const QStringList &Actions, const QVariantMap &Hints, int Timeout)
    {
        Q_UNUSED(ReplacesId);
        if (Refuse) {
            sendErrorReply(QDBusError::Failed, QStringLiteral("Notifications are off"));
            return 0;
        }
        if (Silent)
            setDelayedReply(true);
        // Ids of a real service count up from anywhere, never from the test's positions.
        const uint Id = 7001 + uint(Received.size()) * 3;
        Received.append({Id, AppName, AppIcon, Summary, Body,
                         Hints.value(QStringLiteral("desktop-entry")).toString(), Actions, Timeout});
        return Id;
    }
    void CloseNotification(uint Id) { Close(Id, 3); }

private:
    void Emit(const QString &Name, const QVariantList &Arguments)
    {
        QDBusMessage Signal = QDBusMessage::createSignal(Path, Interface, Name);
        Signal.setArguments(Arguments);
        QDBusConnection(QStringLiteral("notifications")).send(Signal);
    }

    bool FStarted = false;
};

// Every notification that Desktop sent before this has reached Service once this returns true; the
// barrier's own is taken off the record again.
inline bool NotificationBarrier(TDesktopServices &Desktop, TNotificationService &Service)
{
    const QString Barrier = QStringLiteral("barrier");
    const qsizetype Before = Service.Received.size();
    Desktop.SendDesktopNotification(Barrier, QString(), 1000);
    const bool Arrived = QTest::qWaitFor(
        [&] {
            for (qsizetype i = Before; i < Service.Received.size(); ++i)
                if (Service.Received[i].Summary == Barrier)
                    return true;
            return false;
        },
        10000);
    Service.Received.removeIf([&](const TNotification &Got) { return Got.Summary == Barrier; });
    return Arrived;
}

// A notification whose click sets Clicked: its id at the service once the program knows it too,
// 0 when it did not arrive. Taken off the record.
inline uint SendProbeNotification(TDesktopServices &Desktop, TNotificationService &Service, bool &Clicked)
{
    const QString Probe = QStringLiteral("probe");
    Desktop.SendDesktopNotification(Probe, QString(), 1000, [&Clicked] { Clicked = true; });
    uint Id = 0;
    const bool Arrived = QTest::qWaitFor(
        [&] {
            for (const TNotification &Got : std::as_const(Service.Received))
                if (Got.Summary == Probe)
                    Id = Got.Id;
            return Id != 0;
        },
        10000);
    Service.Received.removeIf([&](const TNotification &Got) { return Got.Summary == Probe; });
    // The program learns the id from the service's answer, which follows the call it recorded.
    QTest::qWait(100);
    return Arrived ? Id : 0;
}
