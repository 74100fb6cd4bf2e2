// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#include "pagefetch.h"

#include "pagedecoder.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QScopedValueRollback>
#include <QSslError>
#include <QStringList>
#include <QTimer>

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

// Through a plain HTTP proxy Qt connects to the proxy alone, and reports its
// failures as the server's.
FetchResult::Error errorFor(QNetworkReply::NetworkError error, bool viaProxy)
{
    using Error = FetchResult::Error;
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
        if (viaProxy)
            return Error::ProxyUnreachable;
        return error == QNetworkReply::HostNotFoundError ? Error::HostNotFound
                                                         : Error::ConnectionRefused;
    case QNetworkReply::ProxyAuthenticationRequiredError:
        return Error::ProxyLogin;
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
        return Error::ProxyUnreachable;
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::UnknownProxyError:
        return Error::Proxy;
    case QNetworkReply::TimeoutError:
        return Error::Timeout;
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::ProtocolFailure:
        return Error::Truncated;
    case QNetworkReply::SslHandshakeFailedError:
        return Error::Tls;
    default:
        return Error::Network;
    }
}

// Qt 6.4 reads a response's head a byte at a time in its network thread, and
// reads on for as long as bytes keep coming, however many. A server that never
// ends its head keeps that thread in the loop long after abort(): nothing sent
// to it runs meanwhile (the abort, a cleared connection cache, even its own
// end), so the connection stays open, the head grows, and no later request is
// sent. Shut down under it, the connection gives that loop its end of data,
// and the thread then closes it. Only the fetch talks to that port from this
// process, so its connections are found by their peer's port.
QList<int> connectionsTo(quint16 port)
{
    QList<int> found;
    const QStringList fds =
        QDir(u"/proc/self/fd"_s).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : fds) {
        bool isNumber = false;
        const int fd = name.toInt(&isNumber);
        int type = 0;
        socklen_t typeSize = sizeof type;
        sockaddr_storage peer{};
        socklen_t peerSize = sizeof peer;
        if (!isNumber || getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeSize) != 0 ||
            type != SOCK_STREAM ||
            getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerSize) != 0)
            continue;
        if ((peer.ss_family == AF_INET &&
             ntohs(reinterpret_cast<const sockaddr_in &>(peer).sin_port) == port) ||
            (peer.ss_family == AF_INET6 &&
             ntohs(reinterpret_cast<const sockaddr_in6 &>(peer).sin6_port) == port))
            found << fd;
    }
    return found;
}

void shutDown(const QList<int> &connections)
{
    for (const int fd : connections) {
        // Reset when Qt closes it, so that a server that only writes hears of it too.
        const linger reset{.l_onoff = 1, .l_linger = 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        shutdown(fd, SHUT_RDWR);
    }
}

qint64 bytesReceived(int fd)
{
    tcp_info info{};
    socklen_t size = sizeof info;
    return getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) == 0
               ? qint64(info.tcpi_bytes_received)
               : 0;
}

bool sameSite(const QUrl &a, const QUrl &b)
{
    return a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           (b.scheme() == u"http" || b.scheme() == u"https");
}

// Unpacks a gzip body as it arrives. Qt unpacks by itself only when it asks
// for compression itself, and then (Qt 6.4) it forgets the compressed length
// and takes a body cut off mid-transfer for a whole, shorter page.
class GzipStream
{
public:
    GzipStream() { m_ready = inflateInit2(&m_z, 16 + MAX_WBITS) == Z_OK; }
    ~GzipStream()
    {
        if (m_ready)
            inflateEnd(&m_z);
    }
    GzipStream(const GzipStream &) = delete;
    GzipStream &operator=(const GzipStream &) = delete;

    // Appends what the bytes unpack to, stopping once out holds more than
    // limit bytes, so a small body that unpacks to gigabytes costs no more
    // than the limit. False on data that is not gzip.
    bool unpack(QByteArrayView packed, QByteArray &out, qint64 limit)
    {
        if (!m_ready)
            return false;
        if (packed.isEmpty())
            return true;
        m_started = true;
        m_z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(packed.data()));
        m_z.avail_in = uInt(packed.size());
        while (out.size() <= limit) {
            if (m_ended) {
                // A gzip body may be several members, one after the other.
                if (m_z.avail_in == 0)
                    return true;
                if (inflateReset(&m_z) != Z_OK)
                    return false;
                m_ended = false;
            }
            const qsizetype at = out.size();
            const qsizetype room = qsizetype(std::min<qint64>(64 * 1024, limit + 1 - at));
            out.resize(at + room);
            m_z.next_out = reinterpret_cast<Bytef *>(out.data() + at);
            m_z.avail_out = uInt(room);
            const int rc = inflate(&m_z, Z_NO_FLUSH);
            out.resize(at + room - qsizetype(m_z.avail_out));
            if (rc == Z_STREAM_END) {
                m_ended = true;
                continue;
            }
            if (rc == Z_BUF_ERROR || (rc == Z_OK && m_z.avail_in == 0 && m_z.avail_out > 0))
                return true; // all taken; the rest is still on its way
            if (rc != Z_OK)
                return false;
        }
        return true;
    }
    // Data came, and the last member did not end: the body was cut short.
    bool cutShort() const { return m_started && !m_ended; }

private:
    z_stream m_z{};
    bool m_ready = false;
    bool m_started = false;
    bool m_ended = false;
};

} // namespace

// One GET of one address, as an object: the reply, the bytes read so far, the
// deadline, and the one reason it was given up, if it was. Each signal of the
// reply has a member of its own. fetch() runs one per redirect.
class PageFetcher::PageRequest : public QObject
{
public:
    PageRequest(QNetworkAccessManager &network, const QUrl &url, const QNetworkProxy &proxy,
                const Limits &limits, QDeadlineTimer deadline);
    PageRequest(const PageRequest &) = delete;
    PageRequest &operator=(const PageRequest &) = delete;

    // Returns when the reply has finished or was given up. The event loop runs
    // meanwhile, so the window paints and answers.
    void wait();
    void cancel() { giveUp(Abort::Cancelled); }

    // A redirect, with location() saying where to; else result() is the
    // page, or why there is none.
    bool isRedirect() const;
    QUrl location() const;
    int status() const;
    FetchResult result() const;

private:
    enum class Abort { None, Timeout, TooLarge, UnknownEncoding, BadGzip, Cancelled };

    void onMetaDataChanged();
    void onSslErrors(const QList<QSslError> &errors);
    void onReadyRead();
    void onFinished();
    void onDeadline();
    void onHeadWatch();
    // Reads what has arrived, unpacking it if need be.
    void take();
    // The first reason is the one reported.
    void giveUp(Abort why);

    const qint64 m_maxBodyBytes;
    const bool m_viaProxy;
    const quint16 m_port; // of the server or proxy the connection goes to
    bool m_headRead = false;
    std::unique_ptr<QNetworkReply> m_reply;
    QByteArray m_body;
    std::optional<GzipStream> m_gzip;
    QByteArray m_encoding;   // a Content-Encoding we cannot read
    QStringList m_sslErrors; // why the server's certificate was not trusted
    Abort m_abort = Abort::None;
    QTimer m_deadline;
    // Qt holds a head whole, whatever its size: it is counted here instead,
    // from the kernel's figures, for as long as the head takes.
    QTimer m_headWatch;
    QHash<int, qint64> m_receivedBefore; // per connection, at the watch's first look
    bool m_watching = false;
    QEventLoop m_loop;
};

PageFetcher::PageRequest::PageRequest(QNetworkAccessManager &network, const QUrl &url,
                                      const QNetworkProxy &proxy, const Limits &limits,
                                      QDeadlineTimer deadline)
    : m_maxBodyBytes(limits.maxBodyBytes), m_viaProxy(proxy.type() != QNetworkProxy::NoProxy),
      m_port(m_viaProxy ? proxy.port() : quint16(url.port(url.scheme() == u"https" ? 443 : 80)))
{
    QNetworkRequest request(url);
    // Redirects are followed by fetch(), one request at a time, rather
    // than by Qt: its own following lost track of a chain of them (Qt 6.4).
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    // The user list must be fresh on every poll.
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setRawHeader("Cache-Control", "no-cache");
    // Asking for it ourselves keeps the unpacking ours (see GzipStream).
    request.setRawHeader("Accept-Encoding", "gzip");

    m_reply.reset(network.get(request));
    // Otherwise Qt's network thread reads on as fast as the server sends,
    // however far the body is past the limit, and holds it all until this
    // thread gets round to it.
    m_reply->setReadBufferSize(256 * 1024);
    connect(m_reply.get(), &QNetworkReply::metaDataChanged, this, &PageRequest::onMetaDataChanged);
    connect(m_reply.get(), &QNetworkReply::readyRead, this, &PageRequest::onReadyRead);
    connect(m_reply.get(), &QNetworkReply::sslErrors, this, &PageRequest::onSslErrors);
    connect(m_reply.get(), &QNetworkReply::finished, this, &PageRequest::onFinished);

    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &PageRequest::onDeadline);
    m_deadline.start(int(std::max<qint64>(deadline.remainingTime(), 0)));
    connect(&m_headWatch, &QTimer::timeout, this, &PageRequest::onHeadWatch);
    m_headWatch.start(100);
}

void PageFetcher::PageRequest::wait()
{
    // exec() also returns early when the application quits.
    if (!m_reply->isFinished())
        m_loop.exec();
    if (!m_reply->isFinished())
        giveUp(Abort::Cancelled);
    take(); // what came with the finish
}

void PageFetcher::PageRequest::onMetaDataChanged()
{
    m_headRead = true;
    m_headWatch.stop();
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() > m_maxBodyBytes) {
        giveUp(Abort::TooLarge);
        return;
    }
    const QByteArray encoding = m_reply->rawHeader("Content-Encoding").trimmed().toLower();
    if (encoding == "gzip" || encoding == "x-gzip") {
        if (!m_gzip)
            m_gzip.emplace();
    } else if (!encoding.isEmpty() && encoding != "identity") {
        m_encoding = encoding; // not asked for; its bytes would read as nonsense
        giveUp(Abort::UnknownEncoding);
    }
}

void PageFetcher::PageRequest::onSslErrors(const QList<QSslError> &errors)
{
    for (const QSslError &error : errors)
        m_sslErrors << error.errorString();
}

void PageFetcher::PageRequest::onReadyRead()
{
    take();
}

void PageFetcher::PageRequest::onFinished()
{
    // A box opened meanwhile (the "OBS!" warning) keeps wait() from returning
    // until it is closed, maybe long after the deadline: what has come must
    // not time out then.
    m_deadline.stop();
    m_headWatch.stop();
    m_loop.quit();
}

void PageFetcher::PageRequest::onDeadline()
{
    giveUp(Abort::Timeout);
}

void PageFetcher::PageRequest::onHeadWatch()
{
    qint64 received = 0;
    for (const int fd : connectionsTo(m_port)) {
        const qint64 now = bytesReceived(fd);
        if (!m_watching)
            m_receivedBefore.insert(fd, now);
        received += now - m_receivedBefore.value(fd);
    }
    m_watching = true;
    if (received > m_maxBodyBytes)
        giveUp(Abort::TooLarge);
}

void PageFetcher::PageRequest::take()
{
    // Read as it arrives, so a huge body costs no more memory than the limit.
    while (m_abort == Abort::None && m_reply->bytesAvailable() > 0) {
        if (!m_gzip) {
            m_body += m_reply->read(m_maxBodyBytes + 1 - m_body.size());
        } else if (!m_gzip->unpack(m_reply->read(64 * 1024), m_body, m_maxBodyBytes)) {
            giveUp(Abort::BadGzip);
            return;
        }
        if (m_body.size() > m_maxBodyBytes)
            giveUp(Abort::TooLarge);
    }
}

void PageFetcher::PageRequest::giveUp(Abort why)
{
    if (m_abort != Abort::None)
        return;
    m_abort = why;
    m_reply->abort();
    if (!m_headRead)
        shutDown(connectionsTo(m_port));
}

QUrl PageFetcher::PageRequest::location() const
{
    return m_reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
}

int PageFetcher::PageRequest::status() const
{
    return m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

bool PageFetcher::PageRequest::isRedirect() const
{
    // Given up early, it is no redirect, whatever the head said.
    const bool heard =
        m_abort == Abort::None || m_abort == Abort::UnknownEncoding || m_abort == Abort::BadGzip;
    return heard && status() >= 300 && status() <= 399 && !location().isEmpty();
}

FetchResult PageFetcher::PageRequest::result() const
{
    using Error = FetchResult::Error;
    const int status = this->status();
    const auto failure = [status](Error error, QString detail = {}) {
        return FetchResult::failure(error, status, std::move(detail));
    };
    switch (m_abort) {
    case Abort::Cancelled:
        return FetchResult::failure(Error::Cancelled);
    case Abort::Timeout:
        return failure(Error::Timeout);
    case Abort::TooLarge:
        return failure(Error::TooLarge);
    case Abort::None:
    case Abort::UnknownEncoding:
    case Abort::BadGzip:
        break; // the status line says more
    }
    const Error transport = errorFor(m_reply->error(), m_viaProxy);
    // A proxy's own refusal (407) is no answer of the chat's.
    if (transport == Error::ProxyLogin || transport == Error::ProxyUnreachable ||
        transport == Error::Proxy)
        return failure(transport, m_reply->errorString());
    if (status != 0 && (status < 200 || status > 299))
        return failure(Error::HttpStatus,
                       m_reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString());
    if (m_abort == Abort::UnknownEncoding)
        return failure(Error::UnknownEncoding,
                       u"Content-Encoding: "_s + QString::fromLatin1(m_encoding));
    if (m_abort == Abort::BadGzip)
        return failure(Error::BadGzip, u"Content-Encoding: gzip"_s);
    if (!m_sslErrors.isEmpty())
        return failure(Error::Certificate, m_sslErrors.join(u"; "_s));
    if (m_reply->error() != QNetworkReply::NoError)
        return failure(transport, m_reply->errorString());
    if (m_gzip && m_gzip->cutShort())
        return failure(Error::Truncated);

    FetchResult page = FetchResult::page(PageDecoder::decode(
        m_body, m_reply->header(QNetworkRequest::ContentTypeHeader).toByteArray()));
    // It must not pass for a chat with nobody in.
    if (PageDecoder::isUnreadable(page.text))
        return failure(Error::Unreadable,
                       u"Content-Type: "_s +
                           m_reply->header(QNetworkRequest::ContentTypeHeader).toString());
    page.httpStatus = status;
    return page;
}

PageFetcher::PageFetcher(const Limits &limits)
    : m_limits(limits), m_network(std::make_unique<QNetworkAccessManager>())
{
}

PageFetcher::~PageFetcher()
{
    cancel();
}

void PageFetcher::cancel()
{
    if (m_request)
        m_request->cancel();
}

void PageFetcher::setProxy(const QNetworkProxy &proxy)
{
    m_network->setProxy(proxy);
}

QNetworkProxy PageFetcher::proxyFor(const QUrl &url) const
{
    QNetworkProxy proxy = m_network->proxy();
    if (proxy.type() == QNetworkProxy::DefaultProxy)
        proxy = QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(url)).value(0);
    return proxy.type() == QNetworkProxy::DefaultProxy ? QNetworkProxy(QNetworkProxy::NoProxy)
                                                       : proxy;
}

FetchResult PageFetcher::fetch(const QUrl &url)
{
    // Bounds the whole transfer, redirects included: a server that trickles a
    // byte a second must not keep the poll waiting for ever.
    const QDeadlineTimer deadline(m_limits.transferTimeoutMs);
    QUrl target = url;
    for (int redirects = 0;; ++redirects) {
        const QNetworkProxy proxy = proxyFor(target);
        PageRequest request(*m_network, target, proxy, m_limits, deadline);
        {
            const QScopedValueRollback running(m_request, &request);
            request.wait();
        }
        const QUrl next = target.resolved(request.location());
        // Follow redirects within the chat site only, and not for ever.
        if (request.isRedirect() && sameSite(url, next) && redirects < m_limits.maxRedirects) {
            target = next;
            continue;
        }
        FetchResult result =
            request.isRedirect()
                ? FetchResult::failure(FetchResult::Error::Redirect, request.status(),
                                       u"Location: "_s + next.toDisplayString())
                : request.result();
        if (proxy.type() != QNetworkProxy::NoProxy)
            result.proxy = u"%1:%2"_s.arg(proxy.hostName()).arg(proxy.port());
        return result;
    }
}
