// The first copy's side of the hand-over: the local server and its connections. Apart from the
// rest of the guard so that the launcher, which only ever hands over, needs no QtNetwork.
#include "StepTimes.h"
#include "platform/InstanceGuard.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QTimer>

namespace {

// One hand-over connection on the first copy's side: reads one record without ever blocking,
// delivers it, acknowledges, and goes. A record that is malformed or slow is dropped.
class THandOverConnection : public QObject
{
public:
    THandOverConnection(QLocalSocket *Socket, QObject *Context,
                        std::function<void(const QByteArray &)> OnParameter,
                        std::shared_ptr<const bool> Refusing, QObject *Parent)
        : QObject(Parent), FSocket(Socket), FContext(Context), FOnParameter(std::move(OnParameter)),
          FRefusing(std::move(Refusing))
    {
        FSocket->setParent(this);
        FSocket->setReadBufferSize(64 * 1024);
        FTimer.setSingleShot(true);
        connect(&FTimer, &QTimer::timeout, this, &THandOverConnection::Drop);
        connect(FSocket, &QLocalSocket::readyRead, this, &THandOverConnection::Read);
        connect(FSocket, &QLocalSocket::disconnected, this, &THandOverConnection::Gone);
        FTimer.start(HandOverReceiveTimeout);
        // What came with the connection is read from the event loop, never inside the server's
        // signal, so a handler's nested event loop has no server code below it.
        QMetaObject::invokeMethod(this, &THandOverConnection::Read, Qt::QueuedConnection);
    }

private:
    void Read()
    {
        if (FDelivering || FFinished)
            return;
        while (FSocket->bytesAvailable() > 0) {
            const QByteArray Data = FSocket->read(64 * 1024);
            if (Data.isEmpty())
                break;
            FDecoder.Feed(std::string_view(Data.constData(), size_t(Data.size())));
            if (FDecoder.Status() == THandOverDecoder::Malformed) {
                Drop();
                return;
            }
        }
        if (FDecoder.Status() == THandOverDecoder::Complete)
            Deliver();
    }

    void Deliver()
    {
        NoteStep("record-received");
        FTimer.stop();
        FDelivering = true;
        // The handler may run message boxes (nested event loops) during which this connection, its
        // server or the context can be destroyed: hold what we need locally and check after each call.
        const QPointer<THandOverConnection> Self(this);
        const QPointer<QObject> Context(FContext);
        const THandOverRecord Record = FDecoder.Record();
        const std::function<void(const QByteArray &)> OnParameter = FOnParameter;
        const std::shared_ptr<const bool> Refusing = FRefusing;
        bool Aborted = false;
        HandleCopyData(Record.Count, QByteArray::fromStdString(Record.Text),
                       [&](const QByteArray &Parameter) {
                           if (!Aborted && Self && Context && !*Refusing)
                               OnParameter(Parameter);
                           else
                               Aborted = true;
                       });
        if (!Self)
            return;
        FDelivering = false;
        FFinished = true;
        if (FSocket->state() == QLocalSocket::ConnectedState) {
            FSocket->write(Aborted ? &HandOverRefusal : &HandOverAcknowledgement, 1);
            FSocket->flush();
            NoteStep("acknowledged");
            FSocket->disconnectFromServer();
        }
        if (FSocket->state() == QLocalSocket::UnconnectedState)
            deleteLater();
        else
            FTimer.start(HandOverReceiveTimeout); // a peer that never reads its acknowledgement
    }

    void Drop()
    {
        if (FDelivering)
            return;
        FFinished = true;
        FTimer.stop();
        FSocket->abort();
        deleteLater();
    }

    void Gone()
    {
        if (FDelivering)
            return;
        const QPointer<THandOverConnection> Self(this);
        // A record that came whole before its sender left is still delivered.
        if (!FFinished)
            Read();
        if (Self && !FDelivering) {
            FFinished = true;
            FTimer.stop();
            deleteLater();
        }
    }

    QLocalSocket *FSocket;
    QPointer<QObject> FContext;
    std::function<void(const QByteArray &)> FOnParameter;
    std::shared_ptr<const bool> FRefusing;
    THandOverDecoder FDecoder;
    QTimer FTimer;
    bool FDelivering = false;
    bool FFinished = false;
};

} // namespace

bool TInstanceGuard::Listen(QObject *Context, std::function<void(const QByteArray &)> OnParameter)
{
    if (!QCoreApplication::instance() || !Context || !OnParameter || !FLock || !FLock->isLocked() || FServer)
        return false;
    // We hold the lock, so a socket file here is a leftover of a copy that died.
    const QString Socket = QFile::decodeName(FPaths.Socket.c_str());
    QLocalServer::removeServer(Socket);
    auto *Server = new QLocalServer(Context);
    Server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!Server->listen(Socket)) {
        delete Server;
        return false;
    }
    FServer = Server;
    KeepFromCleanUp(FPaths.Socket);
    QObject::connect(Server, &QLocalServer::newConnection, Server,
                     [Server, Context, OnParameter, Refusing = std::shared_ptr<const bool>(FRefusing)] {
                         while (QLocalSocket *Socket = Server->nextPendingConnection())
                             new THandOverConnection(Socket, Context, OnParameter, Refusing, Server);
                     });
    return true;
}

void TInstanceGuard::StopTakingLinks()
{
    *FRefusing = true;
    // No new connections; the socket file goes with the listening.
    if (auto *Server = qobject_cast<QLocalServer *>(FServer.data()))
        Server->close();
}
