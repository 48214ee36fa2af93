#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QObject>
#include <QStringList>
#include <QtTest>

// The desktop's StatusNotifierWatcher: a host is there, and every item that registers is told.
// It lives in a thread of its own, since Qt asks it for the host while the test's thread waits.
// It has to be on the bus before the first tray icon is made: Qt looks for it once per run.
class TStatusNotifierWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ IsStatusNotifierHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ ProtocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ RegisteredStatusNotifierItems)

public:
    bool IsStatusNotifierHostRegistered() const { return true; }
    int ProtocolVersion() const { return 0; }
    QStringList RegisteredStatusNotifierItems() const { return {}; }

public slots:
    void RegisterStatusNotifierItem(const QString &Service, const QDBusMessage &Message)
    {
        // An item may name itself by its path; then the bus name is the caller's.
        emit ItemRegistered(Service.startsWith(QLatin1Char('/')) ? Message.service() : Service);
    }
    void RegisterStatusNotifierHost(const QString &Service) { Q_UNUSED(Service); }

signals:
    void ItemRegistered(const QString &Service);
};

// Qt answers in this very thread: every call to the program's own items goes out without waiting.
// An empty message when no answer came within Timeout.
inline QDBusMessage CallWithoutBlocking(const QDBusMessage &Call, int Timeout = 10000)
{
    QDBusPendingCallWatcher Watcher(QDBusConnection::sessionBus().asyncCall(Call, Timeout));
    if (!QTest::qWaitFor([&Watcher] { return Watcher.isFinished(); }, Timeout + 1000))
        return QDBusMessage();
    return Watcher.reply();
}
