// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTcpServer>

#include <functional>
#include <memory>

class QSslConfiguration;

// A small HTTP server on loopback, or HTTPS once given a certificate: one
// request a connection, answered once its head is in by a script of writes,
// pauses and a close. The demo chat site answers with its user list; tests
// script servers that misbehave (a body cut short, a byte a second, silence).
class PageServer : public QObject
{
public:
    struct Step {
        QByteArray bytes{}; // written `repeat` times, only as fast as the client reads
        qint64 repeat = 1;
        int pauseMs = 0;    // then a wait
        bool close = false; // then the connection is closed
    };
    // A script that ends without a close leaves the client waiting.
    using Script = QList<Step>;
    // The answer to one request head (request line, header lines, blank line).
    using Responder = std::function<Script(const QByteArray &head)>;

    static constexpr qsizetype MaxHeadBytes = 16 * 1024;
    // No connection lives longer, whatever the client or the script does.
    static constexpr int ConnectionLifetimeMs = 10'000;

    // raw, then a close.
    static Script reply(const QByteArray &raw);
    // A whole response that closes the connection.
    static QByteArray status(int code, const QByteArray &reason, const QByteArray &body = {},
                             const QByteArray &contentType = "text/html; charset=utf-8");
    static QByteArray ok(const QByteArray &body,
                         const QByteArray &contentType = "text/html; charset=utf-8")
    {
        return status(200, "OK", body, contentType);
    }

    explicit PageServer(QObject *parent = nullptr);
    ~PageServer() override;

    // From the next listen() on, connections are TLS with this certificate and key.
    void useTls(const QSslConfiguration &configuration);
    bool listen(const QHostAddress &address = QHostAddress(QHostAddress::LocalHost),
                quint16 port = 0);
    quint16 port() const { return m_server->serverPort(); }
    QString hostAndPort() const; // "127.0.0.1:port"
    QString errorString() const { return m_server->errorString(); }

    void setResponder(Responder responder) { m_responder = std::move(responder); }
    // Answers request n with answers[n], and every later one with the last.
    void serve(QList<Script> answers);
    void serve(const QByteArray &raw) { serve({reply(raw)}); }

    int requestCount() const { return m_requestCount; }
    QByteArray lastRequestLine() const { return m_lastRequestLine; }

private:
    void adopt(std::unique_ptr<QTcpServer> server);
    void onNewConnection();
    Script answer(const QByteArray &head);

    std::unique_ptr<QTcpServer> m_server;
    Responder m_responder;
    int m_requestCount = 0;
    QByteArray m_lastRequestLine;
};
