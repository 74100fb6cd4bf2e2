#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QQueue>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;

// A loopback HTTP server on a free port that answers each request with the
// next canned response from its queue (or the fallback when the queue is
// empty). Responses are raw bytes, so tests can send anything: broken status
// lines, bodies cut short, nothing at all.
class HttpTestServer : public QObject
{
    Q_OBJECT
public:
    struct Response {
        enum class Mode {
            Send,         // write all of raw, then close if closeAfter
            Stall,        // read the request, never answer
            Trickle,      // write raw one byte every trickleMs
            CloseNow,     // close the connection without a word
        };
        QByteArray raw;
        Mode mode = Mode::Send;
        bool closeAfter = true;
        int trickleMs = 1000;
    };

    explicit HttpTestServer(QObject *parent = nullptr);
    ~HttpTestServer() override;

    bool listen(); // 127.0.0.1, a free port
    quint16 port() const { return m_server.serverPort(); }
    QString hostAndPort() const;
    QUrl url(const QString &path = QStringLiteral("/login/chat/users.asp")) const;

    // A complete 200 response with the given body and Content-Type.
    static QByteArray ok(const QByteArray &body,
                         const QByteArray &contentType = "text/html; charset=utf-8");
    static QByteArray status(int code, const QByteArray &reason, const QByteArray &body = {});
    // A page in the chat's user-list format, one link per name.
    static QByteArray userListPage(const QStringList &names);

    void enqueue(const Response &response) { m_responses.enqueue(response); }
    void enqueue(const QByteArray &raw) { m_responses.enqueue(Response{raw}); }
    void setFallback(const Response &response) { m_fallback = response; }

    // The request lines received ("GET /login/chat/users.asp HTTP/1.1").
    QList<QByteArray> requests() const { return m_requests; }
    QList<QByteArray> requestHeaders() const { return m_headers; }

private:
    void onNewConnection();
    void serve(QTcpSocket *socket, const Response &response);

    QTcpServer m_server;
    QQueue<Response> m_responses;
    Response m_fallback{status(503, "Service Unavailable")};
    QList<QByteArray> m_requests;
    QList<QByteArray> m_headers;
};
