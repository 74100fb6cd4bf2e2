#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QQueue>
#include <QTcpServer>
#include <QUrl>

#include <functional>

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
            Send,     // write all of raw, then close if closeAfter
            Stall,    // read the request, never answer
            Trickle,  // write raw one byte every trickleMs
            CloseNow, // close the connection without a word
            Stream,   // write raw (the head), then a body of streamBytes made on the fly
        };
        QByteArray raw;
        Mode mode = Mode::Send;
        bool closeAfter = true;
        int trickleMs = 1000;
        // Trickle: how many bytes of raw go out at once before the trickle starts.
        qsizetype trickleAfter = 0;
        // Stream: the body is streamPattern repeated up to streamBytes, written
        // only as fast as the client takes it, so a body of any size costs the
        // server a few hundred kilobytes. Sent in chunks if streamChunked; then
        // the connection is closed.
        qint64 streamBytes = 0;
        QByteArray streamPattern = "x";
        bool streamChunked = false;
    };
    // Makes the answer to a request when the queue is empty, from its request
    // line ("GET /a HTTP/1.1"); for servers whose answer changes every time.
    using Responder = std::function<Response(const QByteArray &requestLine)>;

    explicit HttpTestServer(QObject *parent = nullptr);
    ~HttpTestServer() override;

    bool listen(); // 127.0.0.1, a free port
    // Another loopback address (127.0.0.2 is "another host" on this machine).
    bool listen(const QHostAddress &address);
    quint16 port() const { return m_server.serverPort(); }
    QString hostAndPort() const; // "127.0.0.1:port", or the address listen() was given
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
    // Used before the fallback while set; an empty function unsets it.
    void setResponder(Responder responder) { m_responder = std::move(responder); }

    // The request lines received ("GET /login/chat/users.asp HTTP/1.1").
    QList<QByteArray> requests() const { return m_requests; }
    QList<QByteArray> requestHeaders() const { return m_headers; }
    // Forgets the requests seen so far; a long run would otherwise keep them all.
    void clearRequests()
    {
        m_requests.clear();
        m_headers.clear();
    }

private:
    void onNewConnection();
    void serve(QTcpSocket *socket, const Response &response);
    static void stream(QTcpSocket *socket, const Response &response);

    QTcpServer m_server;
    QQueue<Response> m_responses;
    Response m_fallback{status(503, "Service Unavailable")};
    Responder m_responder;
    QList<QByteArray> m_requests;
    QList<QByteArray> m_headers;
};
