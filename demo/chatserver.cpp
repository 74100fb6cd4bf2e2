#include "chatserver.h"

#include "chatsite.h"

#include <QDateTime>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace {

// Where the request head ends (just past its blank line), or -1. Bare LF line
// ends are accepted too, as most servers do.
qsizetype headEnd(const QByteArray &buffer)
{
    const qsizetype crlf = buffer.indexOf("\r\n\r\n");
    const qsizetype lf = buffer.indexOf("\n\n");
    if (crlf < 0)
        return lf < 0 ? -1 : lf + 2;
    if (lf < 0)
        return crlf + 4;
    return std::min(crlf + 4, lf + 2);
}

} // namespace

ChatServer::ChatServer(Clock clock, QObject *parent) : QObject(parent), m_clock(std::move(clock))
{
    connect(&m_server, &QTcpServer::newConnection, this, &ChatServer::onNewConnection);
}

bool ChatServer::listen(const QHostAddress &address, quint16 port)
{
    return m_server.listen(address, port);
}

qint64 ChatServer::systemClock()
{
    return QDateTime::currentSecsSinceEpoch();
}

void ChatServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto head = std::make_shared<QByteArray>();
        auto answered = std::make_shared<bool>(false);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, head, answered] {
            if (*answered)
                socket->readAll(); // one request a connection: the rest is of no interest
            else
                *answered = answerWhenComplete(socket, *head);
        });
        // A client that never finishes its request, or never reads the answer,
        // must not hold the connection for ever.
        auto *deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, socket, &QTcpSocket::abort);
        deadline->start(ConnectionTimeoutMs);
    }
}

bool ChatServer::answerWhenComplete(QTcpSocket *socket, QByteArray &head)
{
    head += socket->readAll();
    QByteArray answer;
    if (const qsizetype end = headEnd(head); end >= 0 && end <= MaxHeadBytes)
        answer = ChatSite::respond(QByteArrayView(head).first(end), m_clock());
    else if (head.size() > MaxHeadBytes)
        answer = ChatSite::headTooLargeResponse();
    if (answer.isEmpty())
        return false;
    head.clear();
    socket->write(answer);
    socket->disconnectFromHost(); // closes once the answer is written
    return true;
}
