#pragma once

#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

// A raw HTTP reply; without WithLength the body ends when the connection closes.
inline QByteArray HttpReply(const QByteArray &Status, const QByteArray &Body,
                            const QByteArray &Headers = QByteArray(), bool WithLength = true)
{
    QByteArray Out = "HTTP/1.1 " + Status + "\r\nConnection: close\r\n" + Headers;
    if (WithLength)
        Out += "Content-Length: " + QByteArray::number(Body.size()) + "\r\n";
    return Out + "\r\n" + Body;
}

// A small HTTP server on 127.0.0.1: answers each path with its canned reply and closes; a path
// without a reply gets no answer at all.
class TTestServer : public QObject
{
public:
    TTestServer()
    {
        QVERIFY(Server.listen(QHostAddress::LocalHost, 0));
        connect(&Server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *Socket = Server.nextPendingConnection()) {
                auto *Received = new QByteArray;
                connect(Socket, &QObject::destroyed, this, [Received] { delete Received; });
                connect(Socket, &QTcpSocket::disconnected, Socket, &QObject::deleteLater);
                connect(Socket, &QTcpSocket::readyRead, this, [this, Socket, Received] {
                    Received->append(Socket->readAll());
                    if (!Received->contains("\r\n\r\n"))
                        return;
                    Requests.append(*Received);
                    const QByteArray Path = Received->split(' ').value(1);
                    Received->clear();
                    if (Replies.contains(Path)) {
                        Socket->write(Replies.value(Path));
                        Socket->disconnectFromHost();
                    }
                });
            }
        });
    }

    QString Url(const QByteArray &Path) const
    {
        return QStringLiteral("http://127.0.0.1:%1").arg(Server.serverPort()) + QString::fromLatin1(Path);
    }

    QTcpServer Server;
    QHash<QByteArray, QByteArray> Replies;
    QList<QByteArray> Requests;
};
