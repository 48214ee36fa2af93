#pragma once

#include "images/ImageRepositoryUnit.h"

#include <QObject>
#include <QStringList>

// The program's data module: the built-in pictures and the site image list ilSites.
class TdmMain : public QObject
{
    Q_OBJECT

public:
    // Loads the built-in set and becomes the current data module.
    explicit TdmMain(QObject *Parent = nullptr);
    ~TdmMain() override;

    // The current data module, created on first use (owned by the application) when there is none.
    static TdmMain *Current();

    TImageRepository ImageRepository;
    TImageList ilSites;

    // Makes ilSites a fresh empty list of 16 x 16 pictures.
    void DataModuleCreate();
    // The program's own picture, for its windows and its tray icon.
    QIcon MainIcon() const;

private:
    TdmMain *FPrevious = nullptr;
};

// The stored form of the built-in set, as embedded in the program.
QByteArray BuiltinImageData();

// The icon folder of a program folder (which ends with '/').
QString IconFolderOf(const QString &ProgramFolder);

// Icon files larger than this are no small site icons and are skipped.
inline constexpr qint64 IconFileCap = 4 * 1024 * 1024;

// Loads the site icons of Folder into List and Names, in step: each file that loads as an icon adds
// one picture and its name (the file name without ".ico"); an empty file, a file that is no icon or
// that cannot be read adds neither and is listed in Skipped. A missing folder is created.
void LoadIconFolder(const QString &Folder, TImageList &List, QStringList &Names,
                    QStringList *Skipped = nullptr);

// A site icon file (the browser window's icon): read up to IconFileCap bytes and decoded; a null
// icon when it is missing, too large or no icon.
QIcon LoadIconFile(const QString &Path);

// The position of Name in Names, letter case ignored; -1 when absent.
int IconImageIndex(const QStringList &Names, const QString &Name);
