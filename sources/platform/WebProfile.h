#pragma once

#include "PermissionStore.h"

#include <QHash>
#include <QPair>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>

#include <map>
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
// the user's answers to the pages' permission requests (kept across runs where the profile has a
// permission folder), and what belongs to the run: the paths handed to downloads still under way.
//
// The program makes one at its start and hands it to every window. It must outlive every page made
// on it: its end deletes the engine's profile, which writes cookies and cache to the disk.
class TWebProfile
{
public:
    // Name: the engine's storage name, and the folder under the data and cache folders in which
    // the profile keeps its files ("<data>/Name/WebEngine"). PermissionFolder: where the answers
    // to permission requests are kept ("permissions.json"); without it, for the run.
    explicit TWebProfile(const QString &Name = QStringLiteral("Kestrune"),
                         const QString &PermissionFolder = QString());
    ~TWebProfile();
    TWebProfile(const TWebProfile &) = delete;
    TWebProfile &operator=(const TWebProfile &) = delete;

    // The engine's profile. Made on first use: the engine only starts once a page needs it.
    QWebEngineProfile *Engine();

    // The page of a new site window, owned by Parent: the one made ahead, whose renderer process
    // has started and holds nothing but the empty first document, else a new one. The first site
    // it loads locks that process to its site, as any new page's would be: pages of different
    // sites never share a process. Every page taken is given back with PageClosed when it goes.
    // Pages that another page's window request fills (popups) are never taken here: they must
    // not have started.
    QWebEnginePage *TakePage(QObject *Parent);
    void PageClosed();
    // Once a taken page has loaded, the next one is made ahead, after SparePageDelay, while any
    // page taken here is open; it goes when the last of them closes. One renderer process kept
    // ready costs its memory (about 12 MiB) and spares the next window its start.
    void PrepareNextPage();
    // Makes the next page at once (starting the engine if need be), for a window about to open.
    void PreparePageNow();
    static constexpr int SparePageDelay = 250;
    bool HasSparePage() const { return FSpare != nullptr; }

    // The answer the user gave to Origin's request for Feature, this run or, for the features and
    // origins that are kept, in an earlier one.
    std::optional<bool> PermissionAnswer(const QUrl &Origin, QWebEnginePage::Feature Feature) const;
    void SetPermissionAnswer(const QUrl &Origin, QWebEnginePage::Feature Feature, bool Granted);
    // Forgets every answer for the origin of Page, kept or of this run: the next request asks
    // again. The number of answers forgotten.
    int ForgetPermissions(const QUrl &Page);
    const TPermissionStore &Permissions() const { return FPermissions; }

    // UniqueDownloadName, with the paths of this profile's downloads under way reserved.
    QString DownloadName(const QString &Folder, const QString &Wanted) const;

private:
    // Saved under a free name in the download folder; progress on the page's status bar, the end in
    // a box.
    void HandleDownload(QWebEngineDownloadRequest *Download);
    // Handed to the page of this profile whose origin sent it; the page hears that it showed only
    // once a balloon or the desktop's notification service has shown it.
    void PresentNotification(std::unique_ptr<QWebEngineNotification> Notification);
    void NotificationShown(quint64 Id, bool Shown);

    QString FName;
    // Paths handed to downloads that may not exist on disk yet.
    QSet<QString> FReservedDownloads;
    // This run's answers, per origin and feature; the kept ones are in FPermissions as well.
    QHash<QPair<QString, int>, bool> FPermissionAnswers;
    TPermissionStore FPermissions;
    // Notifications handed to their windows whose showing is not known yet, oldest first.
    std::map<quint64, std::unique_ptr<QWebEngineNotification>> FUnconfirmed;
    quint64 FLastNotification = 0;
    std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
    std::unique_ptr<QWebEngineProfile> FEngine;
    // The next site window's page, made ahead; deleted before the engine's profile.
    QPointer<QWebEnginePage> FSpare;
    QTimer FSpareTimer;
    int FPagesTaken = 0;
};
