#include "PermissionStore.h"

#include "KestruneClasses.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

const QString OriginsKey = QStringLiteral("origins");

bool IsKeptOrigin(const QString &Origin)
{
    return !Origin.isEmpty() && Origin.size() <= MaxPermissionOriginLength &&
           PermissionOrigin(QUrl(Origin, QUrl::StrictMode)) == Origin;
}

} // namespace

QString PermissionOrigin(const QUrl &Url)
{
    if (!Url.isValid())
        return QString();
    const QString Scheme = Url.scheme().toLower();
    int DefaultPort = 0;
    if (Scheme == QLatin1String("http"))
        DefaultPort = 80;
    else if (Scheme == QLatin1String("https"))
        DefaultPort = 443;
    else
        return QString();
    const QString Host = Url.host(QUrl::FullyEncoded).toLower();
    if (Host.isEmpty())
        return QString();
    QUrl Origin;
    Origin.setScheme(Scheme);
    Origin.setHost(Host);
    if (Url.port() >= 0 && Url.port() != DefaultPort)
        Origin.setPort(Url.port());
    return Origin.isValid() ? Origin.toString(QUrl::FullyEncoded) : QString();
}

TPermissionAnswers ParsePermissionFile(const QByteArray &Data, bool *Damaged)
{
    if (Damaged)
        *Damaged = false;
    const QJsonDocument Document =
        Data.size() <= MaxPermissionFileSize ? QJsonDocument::fromJson(Data) : QJsonDocument();
    const QJsonValue Origins = Document.isObject() ? Document.object().value(OriginsKey) : QJsonValue();
    if (!Origins.isObject()) {
        if (Damaged)
            *Damaged = true;
        return {};
    }
    TPermissionAnswers Answers;
    const QJsonObject Table = Origins.toObject();
    for (auto Entry = Table.begin(); Entry != Table.end() && Answers.size() < MaxPermissionOrigins; ++Entry) {
        if (!IsKeptOrigin(Entry.key()) || !Entry.value().isObject())
            continue;
        QMap<QString, bool> Features;
        const QJsonObject Given = Entry.value().toObject();
        for (auto Feature = Given.begin(); Feature != Given.end(); ++Feature) {
            if (PermissionFeatureNames.contains(Feature.key()) && Feature.value().isBool())
                Features.insert(Feature.key(), Feature.value().toBool());
        }
        if (!Features.isEmpty())
            Answers.insert(Entry.key(), Features);
    }
    return Answers;
}

QByteArray PermissionFileData(const TPermissionAnswers &Answers)
{
    QJsonObject Origins;
    for (auto Entry = Answers.begin(); Entry != Answers.end(); ++Entry) {
        QJsonObject Features;
        for (auto Feature = Entry->begin(); Feature != Entry->end(); ++Feature)
            Features.insert(Feature.key(), Feature.value());
        if (!Features.isEmpty())
            Origins.insert(Entry.key(), Features);
    }
    return QJsonDocument(QJsonObject{{OriginsKey, Origins}}).toJson();
}

TPermissionStore::TPermissionStore(const QString &Folder) : FFolder(Folder)
{
    if (FFolder.isEmpty())
        return;
    const QString Path = FilePath();
    const QFileInfo Info(Path);
    if (!Info.exists() && !Info.isSymLink())
        return;
    // Neither a folder nor a pipe of that name is opened: reading a pipe would wait for a writer.
    QFile File(Path);
    bool Damaged = !Info.isFile() || Info.size() > MaxPermissionFileSize || !File.open(QIODevice::ReadOnly);
    if (!Damaged)
        FAnswers = ParsePermissionFile(File.read(MaxPermissionFileSize + 1), &Damaged);
    File.close();
    if (Damaged)
        FKeptAside = KeepFileAside(Path);
}

QString TPermissionStore::FilePath() const
{
    return FFolder.isEmpty() ? QString() : QDir(FFolder).filePath(PermissionFileName);
}

std::optional<bool> TPermissionStore::Answer(const QString &Origin, const QString &Feature) const
{
    const auto Known = FAnswers.constFind(Origin);
    if (Known == FAnswers.constEnd())
        return std::nullopt;
    const auto Answer = Known->constFind(Feature);
    if (Answer == Known->constEnd())
        return std::nullopt;
    return *Answer;
}

bool TPermissionStore::SetAnswer(const QString &Origin, const QString &Feature, bool Granted)
{
    if (!IsKeptOrigin(Origin) || !PermissionFeatureNames.contains(Feature))
        return false;
    if (!FAnswers.contains(Origin) && FAnswers.size() >= MaxPermissionOrigins)
        return false;
    FAnswers[Origin].insert(Feature, Granted);
    return Save();
}

int TPermissionStore::Forget(const QString &Origin)
{
    const int Count = int(FAnswers.value(Origin).size());
    if (FAnswers.remove(Origin) > 0)
        Save();
    return Count;
}

bool TPermissionStore::Save() const
{
    if (FFolder.isEmpty())
        return false;
    QSaveFile File(FilePath());
    if (!File.open(QIODevice::WriteOnly))
        return false;
    File.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    File.write(PermissionFileData(FAnswers));
    return File.commit();
}
