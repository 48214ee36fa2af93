#include "platform/Download.h"

#include "Favicon.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkInformation>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSslConfiguration>
#include <QTimer>

namespace {

constexpr int DefaultConnectTimeout = 5000;
constexpr int DefaultReceiveTimeout = 50000;
constexpr qint64 ReadSize = 1024;

std::atomic<int> ConnectTimeout{DefaultConnectTimeout};
std::atomic<int> ReceiveTimeout{DefaultReceiveTimeout};

// The download threads not yet finished; touched on the GUI thread only.
QList<QPointer<TDownloadThread>> &RunningDownloads()
{
    static QList<QPointer<TDownloadThread>> Threads;
    return Threads;
}

// -1 unknown (no platform information), 0 disconnected, 1 connected.
std::atomic<int> Reachable{-1};

// Sends no cookie and keeps none.
class TNoCookies : public QNetworkCookieJar
{
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    QList<QNetworkCookie> cookiesForUrl(const QUrl &) const override { return {}; }
    bool setCookiesFromUrl(const QList<QNetworkCookie> &, const QUrl &) override { return false; }
};

// The proxies the system is set up with (the environment's http_proxy and no_proxy here).
class TSystemProxies : public QNetworkProxyFactory
{
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &Query) override
    {
        return systemProxyForQuery(Query);
    }
};

bool IsLocalHost(const QUrl &Url)
{
    const QString Host = Url.host();
    if (Host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress Address(Host);
    return !Address.isNull() && Address.isLoopback();
}

void UpdateReachability(QNetworkInformation::Reachability Value)
{
    Reachable = Value == QNetworkInformation::Reachability::Disconnected ? 0 : 1;
    if (Value == QNetworkInformation::Reachability::Unknown)
        Reachable = -1;
}

// A reply that carries an HTTP status came from the server: its body is data whatever the status.
bool ServerAnswered(QNetworkReply *Reply)
{
    return Reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
}

} // namespace

void DownloadTest::SetTimeouts(int ConnectMs, int ReceiveMs)
{
    ConnectTimeout = ConnectMs > 0 ? ConnectMs : DefaultConnectTimeout;
    ReceiveTimeout = ReceiveMs > 0 ? ReceiveMs : DefaultReceiveTimeout;
}

void DownloadTest::SetReachable(int Value)
{
    Reachable = Value;
}

void InitNetworkInformation()
{
    static bool Tried = false;
    const QCoreApplication *App = QCoreApplication::instance();
    if (Tried || !App || QThread::currentThread() != App->thread())
        return;
    Tried = true;
    if (!QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability))
        return;
    QNetworkInformation *Info = QNetworkInformation::instance();
    UpdateReachability(Info->reachability());
    QObject::connect(Info, &QNetworkInformation::reachabilityChanged, Info, &UpdateReachability);
}

bool IsConnected(const QUrl &Url)
{
    if (Url.isValid() && IsLocalHost(Url))
        return true;
    return Reachable != 0;
}

TDownloadResult HttpGet(const QUrl &Url, QByteArray &Stream, const TDownloadOptions &Options)
{
    const auto Cancelled = [&Options] { return Options.Cancel && Options.Cancel->load(); };
    if (Cancelled())
        return TDownloadResult::Cancelled;
    if (!IsConnected(Url))
        return TDownloadResult::NoNetwork;
    const QString Scheme = Url.scheme().toLower();
    if (!Url.isValid() || Url.host().isEmpty() ||
        (Scheme != QLatin1String("http") && Scheme != QLatin1String("https")) ||
        (Options.SecureOnly && Scheme != QLatin1String("https")))
        return TDownloadResult::Failed;

    QNetworkAccessManager Manager;
    Manager.setCookieJar(new TNoCookies(&Manager));
    Manager.setProxyFactory(new TSystemProxies);

    QNetworkRequest Request(Url);
    Request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("Microsoft Internet Explorer"));
    Request.setRawHeader("Pragma", "no-cache");
    Request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    Request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    Request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    Request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    Request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    // NoLessSafe: never from https down to http.
    Request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         Options.FollowRedirects ? QNetworkRequest::NoLessSafeRedirectPolicy
                                                 : QNetworkRequest::ManualRedirectPolicy);
    if (!Options.ExtraAuthorities.isEmpty()) {
        QSslConfiguration Tls = QSslConfiguration::defaultConfiguration();
        Tls.addCaCertificates(Options.ExtraAuthorities);
        Request.setSslConfiguration(Tls);
    }
    Request.setTransferTimeout(ReceiveTimeout);

    QNetworkReply *Reply = Manager.get(Request);
    // Keeps the socket from reading far ahead of us, so the cap bounds the memory as well.
    Reply->setReadBufferSize(64 * 1024);

    QEventLoop Loop;
    QByteArray Body;
    bool TooLarge = false;
    bool WasCancelled = false;
    bool Connected = false;

    QTimer ConnectTimer;
    ConnectTimer.setSingleShot(true);
    QObject::connect(&ConnectTimer, &QTimer::timeout, Reply, [Reply, &Connected] {
        if (!Connected)
            Reply->abort();
    });
    ConnectTimer.start(ConnectTimeout);
    const auto MarkConnected = [&Connected, &ConnectTimer] {
        Connected = true;
        ConnectTimer.stop();
    };
    QObject::connect(Reply, &QNetworkReply::requestSent, &Loop, MarkConnected);
    QObject::connect(Reply, &QNetworkReply::metaDataChanged, &Loop, [&, Reply] {
        MarkConnected();
        const QVariant Length = Reply->header(QNetworkRequest::ContentLengthHeader);
        if (Length.isValid() && Length.toLongLong() > Options.BodyCap) {
            TooLarge = true;
            Reply->abort();
        }
    });
    const auto Drain = [&, Reply] {
        char Buffer[ReadSize];
        while (!TooLarge && Reply->isOpen()) {
            const qint64 Got = Reply->read(Buffer, ReadSize);
            if (Got <= 0)
                break;
            if (Body.size() + Got > Options.BodyCap) {
                TooLarge = true;
                Reply->abort();
                break;
            }
            Body.append(Buffer, Got);
        }
    };
    QObject::connect(Reply, &QNetworkReply::readyRead, &Loop, Drain);
    QObject::connect(Reply, &QNetworkReply::finished, &Loop, &QEventLoop::quit);

    QTimer CancelPoll;
    if (Options.Cancel) {
        QObject::connect(&CancelPoll, &QTimer::timeout, Reply, [&, Reply] {
            if (Cancelled()) {
                WasCancelled = true;
                Reply->abort();
            }
        });
        CancelPoll.start(100);
    }

    if (!Reply->isFinished())
        Loop.exec(Options.ExcludeUserInput ? QEventLoop::ExcludeUserInputEvents : QEventLoop::AllEvents);
    ConnectTimer.stop();
    CancelPoll.stop();
    Drain();

    const QNetworkReply::NetworkError Error = Reply->error();
    const bool Answered = ServerAnswered(Reply);
    delete Reply;
    if (TooLarge)
        return TDownloadResult::TooLarge;
    if (WasCancelled || Cancelled())
        return TDownloadResult::Cancelled;
    // HTTP errors (404, 500...) are replies like any other; failures of the connection are not.
    const bool HttpError =
        Error >= QNetworkReply::ContentAccessDenied && Error <= QNetworkReply::UnknownServerError;
    if (Error != QNetworkReply::NoError && !(Answered && HttpError))
        return TDownloadResult::Failed;
    Stream.append(Body);
    return TDownloadResult::Done;
}

bool DownloadToStream(const QString &URL, QByteArray &Stream)
{
    InitNetworkInformation();
    TDownloadOptions Options;
    Options.FollowRedirects = false;
    Options.BodyCap = FaviconBodyCap;
    Options.ExcludeUserInput = true;
    return HttpGet(QUrl(URL), Stream, Options) == TDownloadResult::Done;
}

TDownloadThread *TDownloadThread::Create(const QString &URL, TDoneEvent OnDone, qint64 BodyCap)
{
    InitNetworkInformation();
    static bool Watching = false;
    if (!Watching && QCoreApplication::instance()) {
        Watching = true;
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
                         QCoreApplication::instance(), &CancelRunningDownloads);
    }
    auto *Thread = new TDownloadThread(URL, std::move(OnDone), BodyCap);
    RunningDownloads().removeAll(nullptr);
    RunningDownloads().append(Thread);
    return Thread;
}

void CancelRunningDownloads()
{
    // A worker left running would call into a program that is being taken down.
    const QList<QPointer<TDownloadThread>> Threads = RunningDownloads();
    for (const QPointer<TDownloadThread> &Thread : Threads)
        if (Thread)
            Thread->Cancel();
    for (const QPointer<TDownloadThread> &Thread : Threads)
        if (Thread)
            Thread->wait(5000);
}

TDownloadThread::TDownloadThread(const QString &URL, TDoneEvent OnDone, qint64 BodyCap)
    : FURL(URL), FOnDone(std::move(OnDone)), FBodyCap(BodyCap)
{
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void TDownloadThread::run()
{
    try {
        TDownloadOptions Options;
        Options.FollowRedirects = true;
        Options.BodyCap = FBodyCap;
        Options.ExcludeUserInput = false;
        Options.Cancel = &FCancel;
        Options.SecureOnly = FSecureOnly;
        Options.ExtraAuthorities = FExtraAuthorities;
        FResult = HttpGet(QUrl(FURL), FData, Options);
        if (FResult != TDownloadResult::Done || isInterruptionRequested())
            FData.clear();
    } catch (...) {
        FData.clear();
        FResult = TDownloadResult::Failed;
    }
    // Cancelled means the program is ending: nobody is left to hear of it.
    if (FCancel)
        return;
    // The handler runs on the GUI thread (this object lives there) while this thread waits.
    QMetaObject::invokeMethod(this, &TDownloadThread::DoDone, Qt::BlockingQueuedConnection);
}

void TDownloadThread::DoDone()
{
    if (!FOnDone)
        return;
    try {
        FOnDone(this);
    } catch (...) {
        // A failing handler must not leave the thread waiting for ever.
    }
}
