// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#include "pageserver.h"

#include <QSslServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace {

// Where the request head ends (just past its blank line), or -1. Bare LF line
// ends are taken too, as most servers do.
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

// One connection: reads the request head, then plays the script that answers it.
class Connection : public QObject
{
public:
    using Answer = std::function<PageServer::Script(const QByteArray &head)>;

    Connection(QTcpSocket *socket, Answer answer)
        : QObject(socket), m_socket(socket), m_answer(std::move(answer))
    {
        connect(socket, &QTcpSocket::readyRead, this, &Connection::onReadyRead);
        connect(socket, &QTcpSocket::bytesWritten, this, &Connection::writeOn);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        m_pause.setSingleShot(true);
        connect(&m_pause, &QTimer::timeout, this, &Connection::writeOn);
        // A client that never finishes its request or never reads the answer
        // must not hold the connection for ever.
        m_lifetime.setSingleShot(true);
        connect(&m_lifetime, &QTimer::timeout, socket, &QTcpSocket::abort);
        m_lifetime.start(PageServer::ConnectionLifetimeMs);
    }

private:
    // Kept this low, a body of any size costs the server a few hundred kilobytes.
    static constexpr qint64 HighWater = 256 * 1024;

    void onReadyRead()
    {
        if (m_answered) {
            m_socket->readAll(); // one request a connection: the rest is of no interest
            return;
        }
        m_head += m_socket->readAll();
        const qsizetype end = headEnd(m_head);
        if (end < 0 && m_head.size() <= PageServer::MaxHeadBytes)
            return;
        m_answered = true;
        if (end < 0 || end > PageServer::MaxHeadBytes)
            m_script =
                PageServer::reply(PageServer::status(431, "Request Header Fields Too Large"));
        else
            m_script = m_answer(m_head.first(end));
        m_head.clear();
        begin(0);
        writeOn();
    }

    void begin(qsizetype step)
    {
        m_step = step;
        m_paused = false;
        m_left = step < m_script.size() ? m_script.at(step).repeat : 0;
    }

    // Each step: its writes, then its pause, then its close.
    void writeOn()
    {
        while (m_step < m_script.size() && !m_pause.isActive() &&
               m_socket->state() == QAbstractSocket::ConnectedState) {
            const PageServer::Step &step = m_script.at(m_step);
            while (m_left > 0 && m_socket->bytesToWrite() < HighWater) {
                m_socket->write(step.bytes);
                --m_left;
            }
            if (m_left > 0)
                return; // on again when the client has taken some
            if (step.pauseMs > 0 && !m_paused) {
                m_paused = true;
                m_pause.start(step.pauseMs);
                return;
            }
            if (step.close) {
                m_script.clear();
                m_socket->disconnectFromHost(); // once what is written has gone
                return;
            }
            begin(m_step + 1);
        }
    }

    QTcpSocket *m_socket;
    Answer m_answer;
    QByteArray m_head;
    bool m_answered = false;
    PageServer::Script m_script;
    qsizetype m_step = 0;
    qint64 m_left = 0;
    bool m_paused = false;
    QTimer m_pause;
    QTimer m_lifetime;
};

} // namespace

PageServer::Script PageServer::reply(const QByteArray &raw)
{
    return {Step{.bytes = raw, .close = true}};
}

QByteArray PageServer::status(int code, const QByteArray &reason, const QByteArray &body,
                              const QByteArray &contentType)
{
    return "HTTP/1.1 " + QByteArray::number(code) + ' ' + reason +
           "\r\nContent-Type: " + contentType +
           "\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

PageServer::PageServer(QObject *parent) : QObject(parent)
{
    adopt(std::make_unique<QTcpServer>());
}

PageServer::~PageServer() = default;

void PageServer::useTls(const QSslConfiguration &configuration)
{
    auto tls = std::make_unique<QSslServer>();
    tls->setSslConfiguration(configuration);
    adopt(std::move(tls));
}

void PageServer::adopt(std::unique_ptr<QTcpServer> server)
{
    m_server = std::move(server);
    // A TLS connection is pending only once its handshake is done.
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this,
            &PageServer::onNewConnection);
}

bool PageServer::listen(const QHostAddress &address, quint16 port)
{
    return m_server->listen(address, port);
}

QString PageServer::hostAndPort() const
{
    return QStringLiteral("%1:%2").arg(m_server->serverAddress().toString()).arg(port());
}

void PageServer::serve(QList<Script> answers)
{
    m_responder = [answers = std::move(answers),
                   served = qsizetype(0)](const QByteArray &) mutable {
        return answers.isEmpty() ? Script{} : answers.at(std::min(served++, answers.size() - 1));
    };
}

void PageServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection())
        new Connection(socket, [this](const QByteArray &head) { return answer(head); });
}

PageServer::Script PageServer::answer(const QByteArray &head)
{
    ++m_requestCount;
    m_lastRequestLine = head.first(std::max<qsizetype>(head.indexOf('\n'), 0)).trimmed();
    if (m_responder)
        return m_responder(head);
    return reply(status(503, "Service Unavailable"));
}
