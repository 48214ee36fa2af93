#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

// Starts a D-Bus session bus of the test's own and makes it the session bus of the process: call it
// before anything asks for the session bus. Returns its address, or an empty text when dbus-daemon
// is missing or gave no address within 20 s.
inline QString StartPrivateSessionBus(QProcess &Bus)
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        return QString();
    Bus.start(QStringLiteral("dbus-daemon"),
              {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!Bus.waitForStarted(10000))
        return QString();
    QDeadlineTimer Deadline(20000);
    QByteArray Line;
    while (!Line.contains('\n') && !Deadline.hasExpired() && Bus.state() == QProcess::Running) {
        Bus.waitForReadyRead(200);
        Line += Bus.readAllStandardOutput();
    }
    if (!Line.contains('\n'))
        return QString();
    qputenv("DBUS_SESSION_BUS_ADDRESS", Line.trimmed());
    return QString::fromLatin1(Line.trimmed());
}

inline void StopPrivateSessionBus(QProcess &Bus)
{
    if (Bus.state() == QProcess::Running) {
        Bus.terminate();
        if (!Bus.waitForFinished(5000))
            Bus.kill();
    }
}
