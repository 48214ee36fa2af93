#include "TestHttpServer.h"
#include "platform/Download.h"

#include <QTcpServer>
#include <QtTest>

namespace {

QByteArray HeaderOf(const QByteArray &Request, const QByteArray &Name)
{
    for (const QByteArray &Line : Request.split('\n'))
        if (Line.toLower().startsWith(Name.toLower() + ':'))
            return Line.mid(Name.size() + 1).trimmed();
    return {};
}

struct TDone
{
    int Calls = 0;
    bool OnGuiThread = false;
    bool HasData = false;
    QByteArray Data;
};

void RunThread(const QString &Url, TDone &Done, qint64 Cap = TDownloadOptions().BodyCap)
{
    TDownloadThread *Thread = TDownloadThread::Create(
        Url,
        [&Done](TDownloadThread *Sender) {
            ++Done.Calls;
            Done.OnGuiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
            Done.HasData = Sender->HasData();
            Sender->CopyData(Done.Data);
        },
        Cap);
    Thread->start();
    QTRY_COMPARE_WITH_TIMEOUT(Done.Calls, 1, 20000);
}

const QByteArray IconBytes = QByteArray("\0\0\1\0\1\0", 6) + QByteArray(100, 'i');

} // namespace

class TestDownload : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The platform's own view of the network must not change what these tests see.
        QByteArray Stream;
        DownloadToStream(QStringLiteral("http:///"), Stream);
    }
    void init() { DownloadTest::SetReachable(-1); }
    void cleanup() { DownloadTest::SetTimeouts(0, 0); }
    void favicon_data();
    void favicon();
    void thread_data();
    void thread();
    void requestHeaders();
    void noCookieAfterRedirect();
    void silentServerEndsAtTheTimeout();
    void refusedConnection();
    void waitingKeepsTheEventLoopTurning();
    void endingProgramCancelsRunningThreads();
    void noNetwork();
};

void TestDownload::favicon_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("body");

    const QByteArray Html = "<html><body>Not here</body></html>";
    QTest::newRow("icon served") << HttpReply("200 OK", IconBytes) << true << IconBytes;
    QTest::newRow("404 with a body is data") << HttpReply("404 Not Found", Html) << true << Html;
    QTest::newRow("empty body") << HttpReply("200 OK", QByteArray()) << true << QByteArray();
    QTest::newRow("redirect not followed")
        << HttpReply("302 Found", "moved", "Location: /elsewhere.ico\r\n") << true << QByteArray("moved");
    QTest::newRow("body of exactly the cap") << HttpReply("200 OK", QByteArray(1024 * 1024, 'x'), {}, false)
                                             << true << QByteArray(1024 * 1024, 'x');
    QTest::newRow("body over the cap, no length")
        << HttpReply("200 OK", QByteArray(1024 * 1024 + 1, 'x'), {}, false) << false << QByteArray();
    QTest::newRow("length over the cap")
        << HttpReply("200 OK", QByteArray(2 * 1024 * 1024, 'x')) << false << QByteArray();
    QTest::newRow("body cut short") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\nabc")
                                    << false << QByteArray();
}

void TestDownload::favicon()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, ok);
    QFETCH(QByteArray, body);

    TTestServer Server;
    Server.Replies["/favicon.ico"] = reply;
    Server.Replies["/elsewhere.ico"] = HttpReply("200 OK", IconBytes);
    QByteArray Stream = "before:";
    QCOMPARE(DownloadToStream(Server.Url("/favicon.ico"), Stream), ok);
    QCOMPARE(Stream, ok ? "before:" + body : QByteArray("before:"));
    QCOMPARE(Server.Requests.size(), 1);
}

void TestDownload::thread_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("hasData");
    QTest::addColumn<QByteArray>("data");

    const QByteArray Reply = "VERSION=1.0.2.0\r\nURL=http://127.0.0.1/download\r\n";
    QTest::newRow("reply") << HttpReply("200 OK", Reply) << true << Reply;
    QTest::newRow("404 with a body is data")
        << HttpReply("404 Not Found", "gone") << true << QByteArray("gone");
    QTest::newRow("empty body is no data") << HttpReply("200 OK", QByteArray()) << false << QByteArray();
    QTest::newRow("redirect followed")
        << HttpReply("301 Moved", "moved", "Location: /target\r\n") << true << QByteArray("target body");
    QTest::newRow("over the cap is no data")
        << HttpReply("200 OK", QByteArray(5000, 'x'), {}, false) << false << QByteArray();
}

void TestDownload::thread()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, hasData);
    QFETCH(QByteArray, data);

    TTestServer Server;
    Server.Replies["/update"] = reply;
    Server.Replies["/target"] = HttpReply("200 OK", "target body");
    TDone Done;
    RunThread(Server.Url("/update"), Done, 4096);
    QVERIFY(Done.OnGuiThread);
    QCOMPARE(Done.HasData, hasData);
    QCOMPARE(Done.Data, data);
    // Exactly once, also after a while.
    QTest::qWait(50);
    QCOMPARE(Done.Calls, 1);
}

void TestDownload::requestHeaders()
{
    TTestServer Server;
    Server.Replies["/favicon.ico"] = HttpReply("200 OK", IconBytes);
    QByteArray Stream;
    QVERIFY(DownloadToStream(Server.Url("/favicon.ico"), Stream));
    QCOMPARE(Server.Requests.size(), 1);
    const QByteArray Request = Server.Requests[0];
    QVERIFY(Request.startsWith("GET /favicon.ico HTTP/1.1\r\n"));
    QCOMPARE(HeaderOf(Request, "User-Agent"), QByteArray("Microsoft Internet Explorer"));
    QCOMPARE(HeaderOf(Request, "Pragma"), QByteArray("no-cache"));
    QCOMPARE(HeaderOf(Request, "Cookie"), QByteArray());
}

void TestDownload::noCookieAfterRedirect()
{
    TTestServer Server;
    Server.Replies["/start"] =
        HttpReply("302 Found", "", "Location: /next\r\nSet-Cookie: session=secret; Path=/\r\n");
    Server.Replies["/next"] = HttpReply("200 OK", "done");
    TDone Done;
    RunThread(Server.Url("/start"), Done);
    QCOMPARE(Done.Data, QByteArray("done"));
    QCOMPARE(Server.Requests.size(), 2);
    QCOMPARE(HeaderOf(Server.Requests[1], "Cookie"), QByteArray());
    QCOMPARE(HeaderOf(Server.Requests[1], "User-Agent"), QByteArray("Microsoft Internet Explorer"));
    QCOMPARE(HeaderOf(Server.Requests[1], "Pragma"), QByteArray("no-cache"));
}

void TestDownload::silentServerEndsAtTheTimeout()
{
    DownloadTest::SetTimeouts(300, 400);
    TTestServer Server;
    QByteArray Stream;
    QVERIFY(!DownloadToStream(Server.Url("/silent"), Stream));
    QVERIFY(Stream.isEmpty());

    TDone Done;
    RunThread(Server.Url("/silent"), Done);
    QVERIFY(!Done.HasData);
    QCOMPARE(Server.Requests.size(), 2);
}

void TestDownload::refusedConnection()
{
    quint16 Port = 0;
    {
        QTcpServer Closed;
        QVERIFY(Closed.listen(QHostAddress::LocalHost, 0));
        Port = Closed.serverPort();
    }
    const QString Url = QStringLiteral("http://127.0.0.1:%1/favicon.ico").arg(Port);
    QByteArray Stream;
    QVERIFY(!DownloadToStream(Url, Stream));
    TDone Done;
    RunThread(Url, Done);
    QVERIFY(!Done.HasData);
    // Not an address at all, and a scheme that is no web address.
    QVERIFY(!DownloadToStream(QStringLiteral("http:///favicon.ico"), Stream));
    QVERIFY(!DownloadToStream(QStringLiteral("file:///etc/passwd"), Stream));
    QVERIFY(Stream.isEmpty());
}

void TestDownload::waitingKeepsTheEventLoopTurning()
{
    DownloadTest::SetTimeouts(300, 600);
    TTestServer Server;
    int Ticks = 0;
    QTimer Ticker;
    connect(&Ticker, &QTimer::timeout, this, [&Ticks] { ++Ticks; });
    Ticker.start(20);
    QByteArray Stream;
    QVERIFY(!DownloadToStream(Server.Url("/silent"), Stream));
    QVERIFY(Ticks > 0);
}

void TestDownload::endingProgramCancelsRunningThreads()
{
    TTestServer Server;
    int Calls = 0;
    TDownloadThread *Thread =
        TDownloadThread::Create(Server.Url("/silent"), [&Calls](TDownloadThread *) { ++Calls; });
    QPointer<TDownloadThread> Watch(Thread);
    Thread->start();
    QTRY_COMPARE(Server.Requests.size(), 1);
    CancelRunningDownloads();
    QVERIFY(Thread->isFinished());
    QTRY_VERIFY(Watch.isNull());
    QCOMPARE(Calls, 0);
}

void TestDownload::noNetwork()
{
    DownloadTest::SetReachable(0);
    QVERIFY(!IsConnected(QUrl(QStringLiteral("http://example.invalid/"))));
    QByteArray Stream;
    QVERIFY(!DownloadToStream(QStringLiteral("http://example.invalid/favicon.ico"), Stream));
    TDone Done;
    RunThread(QStringLiteral("http://example.invalid/update"), Done);
    QVERIFY(!Done.HasData);

    // This machine needs no network.
    TTestServer Server;
    Server.Replies["/favicon.ico"] = HttpReply("200 OK", IconBytes);
    QVERIFY(IsConnected(QUrl(Server.Url("/"))));
    QVERIFY(IsConnected(QUrl(QStringLiteral("http://localhost:1/"))));
    QVERIFY(DownloadToStream(Server.Url("/favicon.ico"), Stream));
    QCOMPARE(Stream, IconBytes);

    DownloadTest::SetReachable(1);
    QVERIFY(IsConnected(QUrl(QStringLiteral("http://example.invalid/"))));
}

QTEST_MAIN(TestDownload)
#include "tst_download.moc"
