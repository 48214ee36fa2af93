#include "DataModuleUnit.h"

#include "images/ImageDecoding.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

namespace {

QPointer<TdmMain> CurrentModule;

} // namespace

QByteArray BuiltinImageData()
{
    QFile File(QStringLiteral(":/kestrune/BuiltinImages.dat"));
    if (!File.open(QIODevice::ReadOnly))
        return {};
    return File.readAll();
}

TdmMain::TdmMain(QObject *Parent) : QObject(Parent), FPrevious(CurrentModule)
{
    ImageRepository.LoadFromData(BuiltinImageData());
    DataModuleCreate();
    CurrentModule = this;
}

TdmMain::~TdmMain()
{
    if (CurrentModule == this)
        CurrentModule = FPrevious;
}

TdmMain *TdmMain::Current()
{
    if (!CurrentModule)
        new TdmMain(QCoreApplication::instance());
    return CurrentModule;
}

void TdmMain::DataModuleCreate()
{
    ilSites = TImageList(16, 16);
}

QIcon TdmMain::MainIcon() const
{
    QIcon Icon;
    ImageRepository.GetImage(Icon, QByteArrayLiteral("MAIN_ICON"));
    return Icon;
}

QString IconFolderOf(const QString &ProgramFolder)
{
    return ProgramFolder + QStringLiteral("Icons/");
}

void LoadIconFolder(const QString &Folder, TImageList &List, QStringList &Names, QStringList *Skipped)
{
    QDir Dir(Folder);
    if (!Dir.exists()) {
        QDir().mkpath(Folder);
        return;
    }
    // Names beginning with a dot are listed too: an icon saved under such a title must come back.
    const QFileInfoList Entries =
        Dir.entryInfoList({QStringLiteral("*.ico")}, QDir::Files | QDir::Hidden, QDir::Name);
    for (const QFileInfo &Entry : Entries) {
        if (Entry.size() <= 0)
            continue;
        const QIcon Icon = LoadIconFile(Entry.absoluteFilePath());
        if (Icon.isNull()) {
            if (Skipped)
                Skipped->append(Entry.fileName());
            continue;
        }
        List.Add(Icon);
        Names.append(Entry.fileName().chopped(4));
    }
}

QIcon LoadIconFile(const QString &Path)
{
    QFile File(Path);
    if (!File.open(QIODevice::ReadOnly) || File.size() > IconFileCap)
        return {};
    return DecodeIconFile(File.read(IconFileCap));
}

int IconImageIndex(const QStringList &Names, const QString &Name)
{
    for (int I = 0; I < Names.size(); ++I)
        if (Names[I].compare(Name, Qt::CaseInsensitive) == 0)
            return I;
    return -1;
}
