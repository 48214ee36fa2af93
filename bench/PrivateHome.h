#pragma once

#include <QFile>
#include <QString>

#include <initializer_list>
#include <string>
#include <unistd.h>
#include <vector>

// The environment for a program started by a benchmark in a home of its own: ours without the
// home, the XDG folders and the variables named in Drop (each a "NAME=" prefix), then HOME and the
// XDG folders below Home.
inline std::vector<std::string> PrivateHomeEnvironment(const QString &Home,
                                                       std::initializer_list<const char *> Drop)
{
    std::vector<std::string> Env;
    for (char **E = environ; *E; ++E) {
        const std::string Entry = *E;
        bool Keep = Entry.rfind("HOME=", 0) != 0 && Entry.rfind("XDG_", 0) != 0;
        for (const char *Prefix : Drop)
            Keep = Keep && Entry.rfind(Prefix, 0) != 0;
        if (Keep)
            Env.push_back(Entry);
    }
    const std::string Path = QFile::encodeName(Home).toStdString();
    Env.push_back("HOME=" + Path);
    Env.push_back("XDG_RUNTIME_DIR=" + Path + "/run");
    Env.push_back("XDG_DATA_HOME=" + Path + "/data");
    Env.push_back("XDG_CONFIG_HOME=" + Path + "/config");
    Env.push_back("XDG_CACHE_HOME=" + Path + "/cache");
    return Env;
}
