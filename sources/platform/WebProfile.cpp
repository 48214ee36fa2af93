#include "platform/WebProfile.h"

#include "StepTimes.h"
#include "platform/DesktopNotification.h"
#include "platform/EmbeddedWB.h"
#include "platform/MessageBoxes.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QStandardPaths>
#include <QWebEngineDownloadRequest>
#include <QWebEngineNotification>
#include <QWebEngineProfile>

#include <algorithm>

namespace {

// Notifications whose showing is still awaited; past this the oldest is closed unseen.
constexpr std::size_t MaxUnconfirmedNotifications = 32;

QUrl OriginOf(const QUrl &Url)
{
    return Url.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo);
}

QString OriginKey(const QUrl &Url)
{
    const QString Origin = PermissionOrigin(Url);
    return Origin.isEmpty() ? OriginOf(Url).toString() : Origin;
}

QPair<QString, int> PermissionKey(const QUrl &Origin, QWebEnginePage::Feature Feature)
{
    return qMakePair(OriginKey(Origin), int(Feature));
}

// The feature's name in the kept answers; empty for those asked anew at every run: a page that
// once saw the screen or took the pointer must not do so unasked later.
QString KeptFeatureName(QWebEnginePage::Feature Feature)
{
    switch (Feature) {
    case QWebEnginePage::Notifications:
        return QStringLiteral("notifications");
    case QWebEnginePage::Geolocation:
        return QStringLiteral("geolocation");
    case QWebEnginePage::MediaAudioCapture:
        return QStringLiteral("microphone");
    case QWebEnginePage::MediaVideoCapture:
        return QStringLiteral("camera");
    case QWebEnginePage::MediaAudioVideoCapture:
        return QStringLiteral("camera-microphone");
    case QWebEnginePage::MouseLock:
    case QWebEnginePage::DesktopVideoCapture:
    case QWebEnginePage::DesktopAudioVideoCapture:
        break;
    }
    return QString();
}

} // namespace

QString UniqueDownloadName(const QString &Folder, const QString &Wanted, const QSet<QString> &Reserved)
{
    QString Name = QFileInfo(Wanted).fileName().trimmed();
    while (Name.startsWith(QLatin1Char('.')))
        Name.remove(0, 1);
    if (Name.isEmpty())
        Name = QStringLiteral("download");
    const QDir Dir(Folder);
    QString Base = Name;
    QString Extension;
    const qsizetype Dot = Name.lastIndexOf(QLatin1Char('.'));
    if (Dot > 0) {
        Base = Name.left(Dot);
        Extension = Name.mid(Dot);
    }
    QString Candidate = Name;
    for (int i = 1; QFileInfo::exists(Dir.filePath(Candidate)) || Reserved.contains(Dir.filePath(Candidate));
         ++i)
        Candidate = QStringLiteral("%1 (%2)%3").arg(Base).arg(i).arg(Extension);
    return Candidate;
}

TWebProfile::TWebProfile(const QString &Name, const QString &PermissionFolder)
    : FName(Name), FPermissions(PermissionFolder)
{
    FSpareTimer.setSingleShot(true);
    FSpareTimer.setInterval(SparePageDelay);
    // Started only while a taken page is open, and stopped when the last one goes.
    QObject::connect(&FSpareTimer, &QTimer::timeout, &FSpareTimer, [this] { PreparePageNow(); });
}

void TWebProfile::PreparePageNow()
{
    if (FSpare)
        return;
    FSpare = new QWebEnginePage(Engine());
    // Asking the empty first document for its text makes the page start its renderer process.
    // Running a script would do too, but the script context it makes is dropped at the first
    // navigation, and the garbage collection that follows keeps the renderer busy for a while.
    FSpare->toPlainText([](const QString &) {});
}

TWebProfile::~TWebProfile()
{
    *FAlive = false;
    FSpareTimer.stop();
    delete FSpare.data();
    FUnconfirmed.clear();
    // The engine's profile first: downloads it cancels as it goes still find their reservations.
    FEngine.reset();
}

QWebEngineProfile *TWebProfile::Engine()
{
    if (FEngine)
        return FEngine.get();
    NoteStep("profile-asked");
    FEngine = std::make_unique<QWebEngineProfile>(FName);
    const QString Data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString Cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    FEngine->setPersistentStoragePath(Data + QLatin1Char('/') + FName + QStringLiteral("/WebEngine"));
    FEngine->setCachePath(Cache + QLatin1Char('/') + FName + QStringLiteral("/WebEngine"));
    FEngine->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
    FEngine->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
    FEngine->setNotificationPresenter([this](std::unique_ptr<QWebEngineNotification> Notification) {
        PresentNotification(std::move(Notification));
    });
    QObject::connect(FEngine.get(), &QWebEngineProfile::downloadRequested, FEngine.get(),
                     [this](QWebEngineDownloadRequest *Download) { HandleDownload(Download); });
    NoteStep("profile-made");
    return FEngine.get();
}

QWebEnginePage *TWebProfile::TakePage(QObject *Parent)
{
    ++FPagesTaken;
    QWebEnginePage *Page = FSpare.data();
    FSpare = nullptr;
    if (Page)
        Page->setParent(Parent);
    else
        Page = new QWebEnginePage(Engine(), Parent);
    return Page;
}

void TWebProfile::PageClosed()
{
    if (FPagesTaken > 0 && --FPagesTaken == 0) {
        FSpareTimer.stop();
        delete FSpare.data();
    }
}

void TWebProfile::PrepareNextPage()
{
    if (!FSpare && FPagesTaken > 0 && !FSpareTimer.isActive())
        FSpareTimer.start();
}

std::optional<bool> TWebProfile::PermissionAnswer(const QUrl &Origin, QWebEnginePage::Feature Feature) const
{
    const auto Known = FPermissionAnswers.constFind(PermissionKey(Origin, Feature));
    if (Known != FPermissionAnswers.constEnd())
        return *Known;
    const QString Kept = KeptFeatureName(Feature);
    if (Kept.isEmpty())
        return std::nullopt;
    return FPermissions.Answer(PermissionOrigin(Origin), Kept);
}

void TWebProfile::SetPermissionAnswer(const QUrl &Origin, QWebEnginePage::Feature Feature, bool Granted)
{
    FPermissionAnswers.insert(PermissionKey(Origin, Feature), Granted);
    if (const QString Kept = KeptFeatureName(Feature); !Kept.isEmpty())
        FPermissions.SetAnswer(PermissionOrigin(Origin), Kept, Granted);
}

int TWebProfile::ForgetPermissions(const QUrl &Page)
{
    const QString Key = OriginKey(Page);
    const auto Before = FPermissionAnswers.size();
    FPermissionAnswers.removeIf([&Key](const auto &Answer) { return Answer.key().first == Key; });
    const int RunOnly = int(Before - FPermissionAnswers.size());
    const int Kept = FPermissions.Forget(PermissionOrigin(Page));
    // A kept answer that was given this run is counted once.
    return std::max(RunOnly, Kept);
}

QString TWebProfile::DownloadName(const QString &Folder, const QString &Wanted) const
{
    return UniqueDownloadName(Folder, Wanted, FReservedDownloads);
}

void TWebProfile::PresentNotification(std::unique_ptr<QWebEngineNotification> Notification)
{
    const QUrl Origin = OriginOf(Notification->origin());
    TEmbeddedWB *Target = nullptr;
    const QWidgetList Widgets = QApplication::allWidgets();
    for (QWidget *Widget : Widgets) {
        auto *View = qobject_cast<TEmbeddedWB *>(Widget);
        if (View && &View->Profile() == this && OriginOf(View->url()) == Origin) {
            Target = View;
            break;
        }
    }
    if (!Target) {
        // Nobody to show it: the page hears that it closed, never that it showed.
        Notification->close();
        return;
    }
    const quint64 Id = ++FLastNotification;
    const QString Title = Notification->title();
    const QString Message = Notification->message();
    FUnconfirmed.emplace(Id, std::move(Notification));
    while (FUnconfirmed.size() > MaxUnconfirmedNotifications) {
        FUnconfirmed.begin()->second->close();
        FUnconfirmed.erase(FUnconfirmed.begin());
    }
    // The report may come at once or after the desktop has answered; the page hears of it after
    // the engine's call into us has returned.
    std::weak_ptr<bool> Alive = FAlive;
    emit Target->WebNotification(
        Title, Message, ReportOnce([this, Alive, Id, Engine = QPointer<QObject>(FEngine.get())](bool Shown) {
            if (!Engine)
                return;
            QMetaObject::invokeMethod(
                Engine,
                [this, Alive, Id, Shown] {
                    if (const auto Flag = Alive.lock(); Flag && *Flag)
                        NotificationShown(Id, Shown);
                },
                Qt::QueuedConnection);
        }));
}

void TWebProfile::NotificationShown(quint64 Id, bool Shown)
{
    const auto Found = FUnconfirmed.find(Id);
    if (Found == FUnconfirmed.end())
        return;
    const std::unique_ptr<QWebEngineNotification> Notification = std::move(Found->second);
    FUnconfirmed.erase(Found);
    if (Shown)
        Notification->show();
    else
        Notification->close();
}

void TWebProfile::HandleDownload(QWebEngineDownloadRequest *Download)
{
    QString Folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (Folder.isEmpty())
        Folder = QDir::homePath();
    QDir().mkpath(Folder);
    const QString Name = DownloadName(Folder, Download->downloadFileName());
    const QString Path = QDir(Folder).filePath(Name);
    FReservedDownloads.insert(Path);
    Download->setDownloadDirectory(Folder);
    Download->setDownloadFileName(Name);

    QPointer<TEmbeddedWB> View = TEmbeddedWB::ForPage(Download->page());
    auto Report = [View](const QString &Text) {
        if (View)
            emit View->StatusMessage(Text);
    };
    QObject::connect(
        Download, &QWebEngineDownloadRequest::receivedBytesChanged, Download, [Download, Name, Report] {
            const qint64 Total = Download->totalBytes();
            Report(Total > 0
                       ? QStringLiteral("Downloading %1: %2%")
                             .arg(Name)
                             .arg(Download->receivedBytes() * 100 / Total)
                       : QStringLiteral("Downloading %1: %2 bytes").arg(Name).arg(Download->receivedBytes()));
        });
    // The download belongs to the engine's profile, which this object owns: it cannot outlive us.
    QObject::connect(Download, &QWebEngineDownloadRequest::isFinishedChanged, Download,
                     [this, Download, Name, Path, Report, View] {
                         if (!Download->isFinished())
                             return;
                         FReservedDownloads.remove(Path);
                         QWidget *Parent = View ? View->window() : nullptr;
                         if (Download->state() == QWebEngineDownloadRequest::DownloadCompleted) {
                             Report(QStringLiteral("Downloaded %1").arg(Name));
                             ShowMessage(Parent, TMsgKind::Information,
                                         QStringLiteral("Download saved as \"%1\".").arg(Path));
                         } else if (Download->state() == QWebEngineDownloadRequest::DownloadInterrupted) {
                             Report(QStringLiteral("Download of %1 failed").arg(Name));
                             ShowMessage(Parent, TMsgKind::Error,
                                         QStringLiteral("Download of \"%1\" failed: %2")
                                             .arg(Name, Download->interruptReasonString()));
                         } else {
                             Report(QString());
                         }
                     });
    Download->accept();
}
