#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>

#include <ctime>

// Wall-clock milliseconds: the clock that the program's step times and the page's own
// performance.timeOrigin share.
inline double WallMilliseconds()
{
    timespec Now{};
    ::clock_gettime(CLOCK_REALTIME, &Now);
    return double(Now.tv_sec) * 1e3 + double(Now.tv_nsec) / 1e6;
}

// Pages of many sites from a server of our own on 127.0.0.1: site N is
// http://siteN.localhost:<port>/page?id=N, titled "Site N", whose onload asks for /loaded?id=N; that
// request marks the page as loaded. The page also reports its own times on the wall clock:
// navigation start, first byte of the answer and onload with /loaded, its first paint with /painted.
class TPageServer : public QObject
{
public:
    QHash<int, qint64> LoadedAt; // site number -> Clock time of its /loaded request
    // site number -> the page's steps in wall-clock ms: "navigation", "response", "onload", "paint"
    QHash<int, QHash<QString, double>> PageSteps;
    QElapsedTimer Clock;
    // Markup added to the body of every page.
    QByteArray Filler;
    // Every answer differs from the one before (a counter in the page), as a site that changes.
    bool Changing = false;

    bool Listen()
    {
        Clock.start();
        connect(&FServer, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *Socket = FServer.nextPendingConnection()) {
                Socket->setParent(this);
                connect(Socket, &QTcpSocket::readyRead, this, [this, Socket] { Serve(Socket); });
                connect(Socket, &QTcpSocket::disconnected, Socket, &QObject::deleteLater);
            }
        });
        return FServer.listen(QHostAddress::LocalHost);
    }
    QByteArray Url(int Site) const
    {
        return "http://site" + QByteArray::number(Site) +
               ".localhost:" + QByteArray::number(FServer.serverPort()) +
               "/page?id=" + QByteArray::number(Site);
    }

private:
    void Serve(QTcpSocket *Socket)
    {
        FBuffers[Socket] += Socket->readAll();
        if (!FBuffers[Socket].contains("\r\n\r\n"))
            return;
        const QByteArray Request = FBuffers.take(Socket);
        const QByteArray Target = Request.left(Request.indexOf("\r\n")).split(' ').value(1);
        const QUrl Url(QString::fromLatin1("http://x" + Target));
        const int Id = QUrlQuery(Url).queryItemValue(QStringLiteral("id")).toInt();
        QByteArray Body;
        if (Url.path() == QLatin1String("/loaded") || Url.path() == QLatin1String("/painted")) {
            if (Url.path() == QLatin1String("/loaded") && !LoadedAt.contains(Id))
                LoadedAt.insert(Id, Clock.elapsed());
            const QList<QPair<QString, QString>> Items = QUrlQuery(Url).queryItems();
            for (const auto &[Name, Value] : Items) {
                if (Name != QLatin1String("id") && !PageSteps[Id].contains(Name))
                    PageSteps[Id].insert(Name, Value.toDouble());
            }
            Body = "ok";
        } else if (Url.path() == QLatin1String("/page")) {
            Body = "<!doctype html><html><head><title>Site " + QByteArray::number(Id) + "</title><script>" +
                   PageScript(Id) + "</script></head><body><h1>Site " + QByteArray::number(Id) +
                   "</h1><p>A small page of a site, with a heading and a line of text.</p>" + Filler +
                   (Changing ? "<p>Edition " + QByteArray::number(++FEdition) + "</p>" : QByteArray()) +
                   "</body></html>";
        } else {
            Socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            Socket->disconnectFromHost();
            return;
        }
        Socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nCache-Control: no-store\r\nConnection: "
                      "close\r\nContent-Length: " +
                      QByteArray::number(Body.size()) + "\r\n\r\n" + Body);
        Socket->disconnectFromHost();
    }

    static QByteArray PageScript(int Id)
    {
        const QByteArray Site = QByteArray::number(Id);
        return "const T0 = performance.timeOrigin;"
               "new PerformanceObserver(List => { for (const E of List.getEntries()) if (E.name == "
               "'first-paint') fetch('/painted?id=" +
               Site +
               "&paint=' + (T0 + E.startTime)); }).observe({type: 'paint', buffered: true});"
               "addEventListener('load', () => { const N = performance.getEntriesByType('navigation')[0];"
               "fetch('/loaded?id=" +
               Site +
               "&navigation=' + T0 + '&response=' + (T0 + N.responseStart) + '&onload=' + (T0 + "
               "performance.now())); });";
    }

    QTcpServer FServer;
    QHash<QTcpSocket *, QByteArray> FBuffers;
    qint64 FEdition = 0;
};
