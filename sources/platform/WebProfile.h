#pragma once

#include <QHash>
#include <QPair>
#include <QSet>
#include <QString>
#include <QUrl>
#include <QWebEnginePage>

#include <memory>
#include <optional>

class QWebEngineDownloadRequest;
class QWebEngineNotification;
class QWebEngineProfile;

// A name in Folder for Wanted that names neither an existing file nor a path in Reserved:
// "name.ext", "name (1).ext", ... Wanted loses any folder part; an empty or dot-only name becomes
// "download".
QString UniqueDownloadName(const QString &Folder, const QString &Wanted, const QSet<QString> &Reserved = {});

// The browser profile of the site windows: every page made on it shares its cookies, storage and
// cache, kept in the user's data and cache folders so that logins survive a restart. It also holds
// what belongs to the run: the paths handed to downloads still under way, and the user's answers
// to the pages' permission requests.
//
// The program makes one at its start and hands it to every window. It must outlive every page made
// on it: its end deletes the engine's profile, which writes cookies and cache to the disk.
class TWebProfile
{
public:
    // Name: the engine's storage name, and the folder under the data and cache folders in which
    // the profile keeps its files ("<data>/Name/WebEngine").
    explicit TWebProfile(const QString &Name = QStringLiteral("Kestrune"));
    ~TWebProfile();
    TWebProfile(const TWebProfile &) = delete;
    TWebProfile &operator=(const TWebProfile &) = delete;

    // The engine's profile. Made on first use: the engine only starts once a page needs it.
    QWebEngineProfile *Engine();

    // The answer the user gave this run to Origin's request for Feature, if any.
    std::optional<bool> PermissionAnswer(const QUrl &Origin, QWebEnginePage::Feature Feature) const;
    void SetPermissionAnswer(const QUrl &Origin, QWebEnginePage::Feature Feature, bool Granted);

    // UniqueDownloadName, with the paths of this profile's downloads under way reserved.
    QString DownloadName(const QString &Folder, const QString &Wanted) const;

private:
    // Saved under a free name in the download folder; progress on the page's status bar, the end in
    // a box.
    void HandleDownload(QWebEngineDownloadRequest *Download);
    // Shown on the page of this profile whose origin sent it.
    void PresentNotification(std::unique_ptr<QWebEngineNotification> Notification);

    QString FName;
    // Paths handed to downloads that may not exist on disk yet.
    QSet<QString> FReservedDownloads;
    // Per origin and feature.
    QHash<QPair<QString, int>, bool> FPermissionAnswers;
    std::unique_ptr<QWebEngineProfile> FEngine;
};
