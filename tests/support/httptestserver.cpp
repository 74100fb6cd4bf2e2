#include "httptestserver.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

HttpTestServer::HttpTestServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &HttpTestServer::onNewConnection);
}

HttpTestServer::~HttpTestServer() = default;

bool HttpTestServer::listen()
{
    return listen(QHostAddress(QHostAddress::LocalHost));
}

bool HttpTestServer::listen(const QHostAddress &address)
{
    return m_server.listen(address, 0);
}

QString HttpTestServer::hostAndPort() const
{
    return QStringLiteral("%1:%2").arg(m_server.serverAddress().toString()).arg(port());
}

QUrl HttpTestServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://%1%2").arg(hostAndPort(), path));
}

QByteArray HttpTestServer::ok(const QByteArray &body, const QByteArray &contentType)
{
    QByteArray raw = "HTTP/1.1 200 OK\r\n";
    if (!contentType.isEmpty())
        raw += "Content-Type: " + contentType + "\r\n";
    raw += "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n";
    return raw + body;
}

QByteArray HttpTestServer::status(int code, const QByteArray &reason, const QByteArray &body)
{
    return "HTTP/1.1 " + QByteArray::number(code) + ' ' + reason +
           "\r\nContent-Type: text/html\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

QByteArray HttpTestServer::userListPage(const QStringList &names)
{
    QByteArray page = "<html><head><title>Inne i chatten</title></head><body>\n";
    for (const QString &name : names)
        page += "<a href=\"#\" onclick=\"valj='" + name.toUtf8() + "';\" >" + name.toUtf8() +
                "</a><br>\n";
    page += "</body></html>\n";
    return page;
}

void HttpTestServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto request = std::make_shared<QByteArray>();
        auto answered = std::make_shared<bool>(false);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, request, answered] {
            if (*answered) {
                socket->readAll(); // one request a connection; ignore the rest
                return;
            }
            *request += socket->readAll();
            const qsizetype end = request->indexOf("\r\n\r\n");
            if (end < 0)
                return;
            *answered = true;
            request->truncate(end + 4);
            m_requests << request->left(request->indexOf("\r\n"));
            m_headers << *request;
            Response response = m_fallback;
            if (!m_responses.isEmpty())
                response = m_responses.dequeue();
            else if (m_responder)
                response = m_responder(m_requests.back());
            serve(socket, response);
        });
    }
}

void HttpTestServer::serve(QTcpSocket *socket, const Response &response)
{
    using Mode = Response::Mode;
    switch (response.mode) {
    case Mode::Stall:
        return;
    case Mode::CloseNow:
        socket->disconnectFromHost();
        return;
    case Mode::Send:
        socket->write(response.raw);
        if (response.closeAfter)
            socket->disconnectFromHost();
        return;
    case Mode::Stream:
        stream(socket, response);
        return;
    case Mode::Trickle: {
        auto *timer = new QTimer(socket);
        auto sent = std::make_shared<qsizetype>(
            std::clamp<qsizetype>(response.trickleAfter, 0, response.raw.size()));
        socket->write(response.raw.left(*sent));
        QPointer<QTcpSocket> guard(socket);
        connect(timer, &QTimer::timeout, socket, [guard, timer, sent, response] {
            if (!guard)
                return;
            if (*sent >= response.raw.size()) {
                timer->stop();
                guard->disconnectFromHost();
                return;
            }
            guard->write(response.raw.mid(*sent, 1));
            ++*sent;
        });
        timer->start(response.trickleMs);
        return;
    }
    }
}

void HttpTestServer::stream(QTcpSocket *socket, const Response &response)
{
    // Writes on only while little is waiting in the socket, so the body is made
    // as the client reads it and never piles up here.
    static constexpr qint64 BlockSize = 64 * 1024;
    static constexpr qint64 HighWater = 256 * 1024;
    QByteArray block;
    const QByteArray pattern = response.streamPattern.isEmpty() ? "x" : response.streamPattern;
    while (block.size() < BlockSize)
        block += pattern;
    block.truncate(BlockSize);

    socket->write(response.raw);
    auto left = std::make_shared<qint64>(std::max<qint64>(response.streamBytes, 0));
    auto finished = std::make_shared<bool>(false);
    QPointer<QTcpSocket> guard(socket);
    const bool chunked = response.streamChunked;
    auto pump = [guard, left, finished, block, chunked] {
        if (!guard || *finished || guard->state() != QAbstractSocket::ConnectedState)
            return;
        while (*left > 0 && guard->bytesToWrite() < HighWater) {
            const qint64 n = std::min(*left, BlockSize);
            if (chunked)
                guard->write(QByteArray::number(n, 16) + "\r\n");
            guard->write(block.constData(), n);
            if (chunked)
                guard->write("\r\n");
            *left -= n;
        }
        if (*left == 0) {
            *finished = true;
            if (chunked)
                guard->write("0\r\n\r\n");
            guard->disconnectFromHost();
        }
    };
    connect(socket, &QTcpSocket::bytesWritten, socket, pump);
    pump();
}
