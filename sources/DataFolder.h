#pragma once

#include <QString>

// The folder that holds "sites.dat" and "Icons" (ProgramFolder), always with a trailing '/'.
// A copy unpacked into a folder the user can write, which already holds "sites.dat", keeps its data
// beside itself; every other copy (an installed one, a fresh build) keeps it in UserDataFolder.
QString ChooseProgramFolder(const QString &ExecutableFolder, const QString &UserDataFolder);

// The user's data folder: $XDG_DATA_HOME/Kestrune/ (~/.local/share/Kestrune/ when unset).
QString UserDataFolder();

// ChooseProgramFolder for the running program; creates the folder (owner only) when it is missing.
// Returns an empty string when it cannot be created.
QString ProgramFolderOf(const QString &ExecutableFolder);
