#pragma once

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QThread>
#include <QUrl>

#include <atomic>
#include <functional>

// HTTP GET into memory, as the program's two downloads need it: agent "Microsoft Internet Explorer",
// no cookies sent or kept, no cache, the "Pragma: no-cache" header, a connect timeout of 5 s and a
// receive timeout of 50 s, the body read 1024 bytes at a time. The HTTP status is not looked at: an
// error page is data too. A body larger than the cap ends the download as a failure.

struct TDownloadOptions
{
    bool FollowRedirects = true;
    qint64 BodyCap = 4 * 1024 * 1024;
    // Keeps the calling window repainting while it takes no input (synchronous use only).
    bool ExcludeUserInput = true;
    // Polled during the transfer; when it becomes true the transfer ends.
    const std::atomic<bool> *Cancel = nullptr;
    // https only, redirects included; a certificate the system does not trust fails the transfer.
    bool SecureOnly = false;
    // Trusted beside the system's authorities (a test's own).
    QList<QSslCertificate> ExtraAuthorities;
};

enum class TDownloadResult
{
    Done,      // the body (possibly empty) is in the stream
    NoNetwork, // the system reports no connection
    Failed,    // no connection to the server, a timeout, a bad address, an error while reading
    TooLarge,  // the body grew beyond the cap
    Cancelled,
};

// Runs its own event loop until the transfer ends; appends the body to Stream only on success.
TDownloadResult HttpGet(const QUrl &Url, QByteArray &Stream, const TDownloadOptions &Options);

// The favourite-icon fetch: synchronous on the calling (GUI) thread, redirects not followed, a 1 MiB
// cap. True when a reply (any status) was read whole; Stream then holds its body.
bool DownloadToStream(const QString &URL, QByteArray &Stream);

// False only when the platform positively reports no network connection. Addresses on this machine
// are always reachable.
bool IsConnected(const QUrl &Url = QUrl());
// Starts following the platform's network information (on the GUI thread only; the downloads call
// it themselves).
void InitNetworkInformation();

// Fetches one URL on a thread of its own and reports the end of the transfer through OnDone on the
// GUI thread, while the worker waits. The object deletes itself once OnDone has returned.
class TDownloadThread : public QThread
{
    Q_OBJECT

public:
    using TDoneEvent = std::function<void(TDownloadThread *Sender)>;

    // Created suspended: call start(). Create it on the GUI thread.
    static TDownloadThread *Create(const QString &URL, TDoneEvent OnDone,
                                   qint64 BodyCap = TDownloadOptions().BodyCap);

    // Before start(): the transfer goes over https only, trusting ExtraAuthorities beside the
    // system's authorities.
    void SetSecureOnly(const QList<QSslCertificate> &ExtraAuthorities)
    {
        FSecureOnly = true;
        FExtraAuthorities = ExtraAuthorities;
    }

    QString URL() const { return FURL; }
    bool HasData() const { return !FData.isEmpty(); }
    // Appends the whole body to Dest.
    void CopyData(QByteArray &Dest) const { Dest.append(FData); }
    const QByteArray &Data() const { return FData; }
    TDownloadResult Result() const { return FResult; }

    // Ends a running transfer; its data is dropped and OnDone is not called.
    void Cancel()
    {
        FCancel = true;
        requestInterruption();
    }

protected:
    void run() override;

private:
    TDownloadThread(const QString &URL, TDoneEvent OnDone, qint64 BodyCap);
    void DoDone();

    QString FURL;
    TDoneEvent FOnDone;
    qint64 FBodyCap;
    QByteArray FData;
    TDownloadResult FResult = TDownloadResult::Failed;
    std::atomic<bool> FCancel{false};
    bool FSecureOnly = false;
    QList<QSslCertificate> FExtraAuthorities;
};

// Ends every download thread still running and waits for them, without calling their handlers: the
// program is ending. Runs by itself when the application is about to quit.
void CancelRunningDownloads();

// Tests only: shorter timeouts (0 restores the program's own).
namespace DownloadTest {
void SetTimeouts(int ConnectMs, int ReceiveMs);
// Pretends the platform reports a connection (1), none (0), or nothing at all (-1).
void SetReachable(int Value);
} // namespace DownloadTest
