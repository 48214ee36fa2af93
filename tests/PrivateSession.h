#pragma once

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>

// Starts an X server of its own on a free display; returns its name (":N"), or an empty text when
// Xvfb is missing or gave no display within 20 s.
inline QString StartPrivateXServer(QProcess &Server)
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        return QString();
    // The server picks a free display and writes its number once it accepts clients. It keeps its
    // state when its last client goes (as between two copies of the program that a test starts):
    // a server reset re-makes its listening sockets, which another server starting meanwhile may
    // have disturbed.
    Server.start(QStringLiteral("Xvfb"),
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                  QStringLiteral("0"), QStringLiteral("800x600x24"), QStringLiteral("-nolisten"),
                  QStringLiteral("tcp"), QStringLiteral("-noreset")});
    if (!Server.waitForStarted(10000))
        return QString();
    QByteArray Number;
    QDeadlineTimer Deadline(20000);
    while (!Number.contains('\n') && !Deadline.hasExpired() && Server.state() == QProcess::Running) {
        Server.waitForReadyRead(200);
        Number += Server.readAllStandardOutput();
    }
    return Number.contains('\n') ? QLatin1Char(':') + QString::fromLatin1(Number.trimmed()) : QString();
}

inline void StopPrivateXServer(QProcess &Server)
{
    if (Server.state() == QProcess::Running) {
        Server.terminate();
        if (!Server.waitForFinished(5000))
            Server.kill();
    }
}

// The environment of a program started by a test, on Display, with HOME and the XDG folders below
// Home (data/, config/, cache/, runtime/); empty when the runtime folder cannot be made.
inline QProcessEnvironment PrivateSessionEnvironment(const QTemporaryDir &Home, const QString &Display)
{
    if (!QDir(Home.path()).mkpath(QStringLiteral("runtime")))
        return {};
    QFile::setPermissions(Home.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    Environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    Environment.insert(QStringLiteral("DISPLAY"), Display);
    Environment.insert(QStringLiteral("HOME"), Home.path());
    Environment.insert(QStringLiteral("XDG_DATA_HOME"), Home.filePath(QStringLiteral("data")));
    Environment.insert(QStringLiteral("XDG_CONFIG_HOME"), Home.filePath(QStringLiteral("config")));
    Environment.insert(QStringLiteral("XDG_CACHE_HOME"), Home.filePath(QStringLiteral("cache")));
    Environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), Home.filePath(QStringLiteral("runtime")));
    return Environment;
}
