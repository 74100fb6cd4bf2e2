#pragma once

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

#include <functional>

class QTcpSocket;

// Serves the demo chat's pages over HTTP/1.1: one request per connection,
// answered once its head is complete, then the connection is closed.
class ChatServer : public QObject
{
    Q_OBJECT
public:
    // Seconds since the epoch; tests pass their own to step through the slots.
    using Clock = std::function<qint64()>;

    static constexpr qsizetype MaxHeadBytes = 16 * 1024;
    static constexpr int ConnectionTimeoutMs = 10'000;

    explicit ChatServer(Clock clock = systemClock, QObject *parent = nullptr);

    bool listen(const QHostAddress &address, quint16 port);
    quint16 port() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }

    static qint64 systemClock();

private:
    void onNewConnection();
    // Answers once the request head is complete; false while it is not.
    bool answerWhenComplete(QTcpSocket *socket, QByteArray &head);

    QTcpServer m_server;
    Clock m_clock;
};
