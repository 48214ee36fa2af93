#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// The user's answers to the pages' permission requests (notifications, location, camera and
// microphone), kept across runs per origin and feature in "permissions.json" in the data folder:
//
//   {"origins": {"https://mail.example.com": {"notifications": true, "geolocation": false}}}
//
// Origins are "scheme://host" or "scheme://host:port" of http and https pages, in lower case.

inline const QString PermissionFileName = QStringLiteral("permissions.json");
// A few thousand origins with every feature fit in a fraction of this.
inline constexpr qsizetype MaxPermissionFileSize = 1024 * 1024;
inline constexpr qsizetype MaxPermissionOrigins = 4096;
inline constexpr qsizetype MaxPermissionOriginLength = 512;

// The features whose answers are kept, by their names in the file.
inline const QStringList PermissionFeatureNames{
    QStringLiteral("notifications"), QStringLiteral("geolocation"),       QStringLiteral("microphone"),
    QStringLiteral("camera"),        QStringLiteral("camera-microphone"),
};

// Origin -> feature -> granted.
using TPermissionAnswers = QMap<QString, QMap<QString, bool>>;

// The origin under which Url's answers are kept; empty for anything but an http or https address
// with a host.
QString PermissionOrigin(const QUrl &Url);

// The file's answers. Entries that are not well formed (an origin that is not one as
// PermissionOrigin writes it, an unknown feature, a value that is not true or false) are left out;
// a file that is not this file at all (not JSON, another shape, too big) gives none and Damaged true.
TPermissionAnswers ParsePermissionFile(const QByteArray &Data, bool *Damaged = nullptr);
QByteArray PermissionFileData(const TPermissionAnswers &Answers);

// The answers of Folder/permissions.json, saved at each change, atomically and for the user alone.
// Without a folder they are kept for the run only.
class TPermissionStore
{
public:
    // Reads the file. One that cannot be read as this file is moved aside (KeptAside), so that the
    // next save does not write over it unseen.
    explicit TPermissionStore(const QString &Folder = QString());

    QString FilePath() const;
    // Where a damaged file was moved at the start; empty when there was none.
    const QString &KeptAside() const { return FKeptAside; }

    std::optional<bool> Answer(const QString &Origin, const QString &Feature) const;
    // False when the answer could not be kept (an origin or feature that is not kept, or the file
    // could not be written); it then holds for the run.
    bool SetAnswer(const QString &Origin, const QString &Feature, bool Granted);
    // Forgets every answer of Origin; the number of answers forgotten.
    int Forget(const QString &Origin);

private:
    bool Save() const;

    QString FFolder;
    QString FKeptAside;
    TPermissionAnswers FAnswers;
};
