#pragma once

#include "KestruneClasses.h"
#include "Settings.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcessEnvironment>
#include <QSettings>
#include <QSize>
#include <QThread>

#include <functional>
#include <memory>

// Runs the event loop until Done, or for at most Milliseconds; false when it was not done in time.
inline bool WaitUntil(const std::function<bool()> &Done, int Milliseconds)
{
    QElapsedTimer Timer;
    Timer.start();
    while (!Done()) {
        if (Timer.elapsed() > Milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

// A home of Kestrune's own for a benchmark: HOME, data, settings and runtime folders below Home,
// sites 1..Count titled "Site N" that open at Url(N) in a window of their own (no tray icon) of
// WindowSize, placed a little apart (or maximised), the
// main window shown at start and a recent update check, so that no start asks the product's server.
struct TKestruneHome
{
    QProcessEnvironment Environment;
    QHash<int, QByteArray> Links; // site number -> the link parameter that opens it

    bool Make(const QString &Home, int Count, const std::function<QByteArray(int)> &Url,
              QSize WindowSize = QSize(640, 480), bool Maximised = false)
    {
        Environment = QProcessEnvironment::systemEnvironment();
        Environment.insert(QStringLiteral("HOME"), Home);
        Environment.insert(QStringLiteral("XDG_DATA_HOME"), Home + QStringLiteral("/.local/share"));
        Environment.insert(QStringLiteral("XDG_CONFIG_HOME"), Home + QStringLiteral("/.config"));
        Environment.insert(QStringLiteral("XDG_CACHE_HOME"), Home + QStringLiteral("/.cache"));
        Environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), Home + QStringLiteral("/runtime"));
        if (!QDir().mkpath(Home + QStringLiteral("/runtime")) ||
            !QFile::setPermissions(Home + QStringLiteral("/runtime"),
                                   QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner))
            return false;
        const QString Data = Home + QStringLiteral("/.local/share/Kestrune");
        TKestrunCollection Sites;
        for (int i = 1; i <= Count; ++i) {
            auto Site = std::make_unique<TKestrunSite>();
            Site->SetTitle("Site " + QByteArray::number(i));
            Site->SetURL(Url(i));
            Site->SetBrowserChoice(1);
            Site->SetMinimizeToTaskbar(1);
            Site->SetWindowState(Maximised ? 2 : 0);
            Site->SetWindowRect({20 + i * 10, 20 + i * 10, 20 + i * 10 + WindowSize.width(),
                                 20 + i * 10 + WindowSize.height()});
            Links.insert(i, EncodeLinkParameter(*Site, false));
            Sites.Add(std::move(Site));
        }
        if (!QDir().mkpath(Data) || !SaveSites(Data, Sites))
            return false;
        QSettings Store(Home + QStringLiteral("/.config/") + SettingsOrganization + QLatin1Char('/') +
                            SettingsApplication + QStringLiteral(".conf"),
                        QSettings::IniFormat);
        Store.setValue(LastUpdateCheckKey, EncodeLastUpdateCheck(QDateTime::currentDateTime()));
        Store.setValue(RunMinimizedKey, 0);
        Store.sync();
        return Store.status() == QSettings::NoError;
    }
};
