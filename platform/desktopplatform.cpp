#include "desktopplatform.h"

#include "desktopbell.h"
#include "desktopsession.h"
#include "messagebox.h"
#include "pagedecoder.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcessEnvironment>
#include <QScopedValueRollback>
#include <QSoundEffect>
#include <QSslError>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <QtEndian>

#include <zlib.h>

#include <algorithm>
#include <memory>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

FetchResult::Error errorFor(QNetworkReply::NetworkError error)
{
    using Error = FetchResult::Error;
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return Error::ConnectionRefused;
    case QNetworkReply::HostNotFoundError:
        return Error::HostNotFound;
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

bool sameSite(const QUrl &a, const QUrl &b)
{
    return a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           (b.scheme() == u"http" || b.scheme() == u"https");
}

// Qt 6.4's sound loader waits for ever for the bytes a foreign or cut-off file
// promises, and its stuck thread then hangs the clean-up of every later sound
// (at the latest when the program ends). Such a file could never play, so it
// is checked here first: a RIFF/WAVE file whose sound data is all there.
bool isCompleteWav(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(12);
    if (head.size() < 12 || !head.startsWith("RIFF") || head.sliced(8) != "WAVE")
        return false;
    for (;;) {
        const QByteArray chunk = file.read(8);
        if (chunk.size() < 8)
            return false;
        const quint32 size = qFromLittleEndian<quint32>(chunk.constData() + 4);
        if (chunk.startsWith("data"))
            return size <= file.size() - file.pos();
        // Chunks are padded to an even length.
        if (!file.seek(file.pos() + size + (size & 1)))
            return false;
    }
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
// reply has a member of its own. fetchPage() runs one per redirect.
class DesktopPlatform::PageRequest : public QObject
{
public:
    PageRequest(QNetworkAccessManager &network, const QUrl &url, const Limits &limits,
                QDeadlineTimer deadline);
    PageRequest(const PageRequest &) = delete;
    PageRequest &operator=(const PageRequest &) = delete;

    // Returns when the reply has finished or was given up. The event loop runs
    // meanwhile, so the window paints and answers.
    void wait();
    void cancel() { giveUp(Abort::Cancelled); }

    // The page, or why there is none. A redirect is Error::Redirect, with
    // location() saying where to.
    FetchResult result() const;
    QUrl location() const;

private:
    enum class Abort { None, Timeout, TooLarge, UnknownEncoding, BadGzip, Cancelled };

    void onMetaDataChanged();
    void onSslErrors(const QList<QSslError> &errors);
    void onReadyRead();
    void onFinished();
    void onDeadline();
    // Reads what has arrived, unpacking it if need be.
    void take();
    // The first reason is the one reported.
    void giveUp(Abort why);

    const qint64 m_maxBodyBytes;
    std::unique_ptr<QNetworkReply> m_reply;
    QByteArray m_body;
    std::optional<GzipStream> m_gzip;
    QByteArray m_encoding;   // a Content-Encoding we cannot read
    QStringList m_sslErrors; // why the server's certificate was not trusted
    Abort m_abort = Abort::None;
    QTimer m_deadline;
    QEventLoop m_loop;
};

DesktopPlatform::PageRequest::PageRequest(QNetworkAccessManager &network, const QUrl &url,
                                          const Limits &limits, QDeadlineTimer deadline)
    : m_maxBodyBytes(limits.maxBodyBytes)
{
    QNetworkRequest request(url);
    // Redirects are followed by fetchPage(), one request at a time, rather
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
}

void DesktopPlatform::PageRequest::wait()
{
    // exec() also returns early when the application quits.
    if (!m_reply->isFinished())
        m_loop.exec();
    if (!m_reply->isFinished())
        giveUp(Abort::Cancelled);
    take(); // what came with the finish
}

void DesktopPlatform::PageRequest::onMetaDataChanged()
{
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

void DesktopPlatform::PageRequest::onSslErrors(const QList<QSslError> &errors)
{
    for (const QSslError &error : errors)
        m_sslErrors << error.errorString();
}

void DesktopPlatform::PageRequest::onReadyRead()
{
    take();
}

void DesktopPlatform::PageRequest::onFinished()
{
    // A box opened meanwhile (the "OBS!" warning) keeps wait() from returning
    // until it is closed, maybe long after the deadline: what has come must
    // not time out then.
    m_deadline.stop();
    m_loop.quit();
}

void DesktopPlatform::PageRequest::onDeadline()
{
    giveUp(Abort::Timeout);
}

void DesktopPlatform::PageRequest::take()
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

void DesktopPlatform::PageRequest::giveUp(Abort why)
{
    if (m_abort != Abort::None)
        return;
    m_abort = why;
    m_reply->abort();
}

QUrl DesktopPlatform::PageRequest::location() const
{
    return m_reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
}

FetchResult DesktopPlatform::PageRequest::result() const
{
    using Error = FetchResult::Error;
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
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
    if (status >= 300 && status <= 399 && !location().isEmpty())
        return failure(Error::Redirect);
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
        return failure(errorFor(m_reply->error()), m_reply->errorString());
    if (m_gzip && m_gzip->cutShort())
        return failure(Error::Truncated);

    FetchResult page = FetchResult::page(PageDecoder::decode(
        m_body, m_reply->header(QNetworkRequest::ContentTypeHeader).toByteArray()));
    page.httpStatus = status;
    return page;
}

// What a fetch needs: the limits, the network and the request under way.
class DesktopPlatform::Fetcher
{
public:
    explicit Fetcher(const Limits &limits) : m_limits(limits) {}

    FetchResult fetch(const QUrl &url);
    void cancel()
    {
        if (m_request)
            m_request->cancel();
    }

private:
    const Limits m_limits;
    QNetworkAccessManager m_network;
    PageRequest *m_request = nullptr;
};

FetchResult DesktopPlatform::Fetcher::fetch(const QUrl &url)
{
    if (m_request)
        return FetchResult::failure(FetchResult::Error::Busy);

    // Bounds the whole transfer, redirects included: a server that trickles a
    // byte a second must not keep the poll waiting for ever.
    const QDeadlineTimer deadline(m_limits.transferTimeoutMs);
    QUrl target = url;
    for (int redirects = 0;; ++redirects) {
        PageRequest request(m_network, target, m_limits, deadline);
        {
            const QScopedValueRollback running(m_request, &request);
            request.wait();
        }
        FetchResult result = request.result();
        if (result.error != FetchResult::Error::Redirect)
            return result;
        const QUrl next = target.resolved(request.location());
        // Follow redirects within the chat site only, and not for ever.
        if (!sameSite(url, next) || redirects >= m_limits.maxRedirects) {
            result.detail = u"Location: "_s + next.toDisplayString();
            return result;
        }
        target = next;
    }
}

DesktopPlatform::DesktopPlatform() : DesktopPlatform(Limits{}) {}

DesktopPlatform::DesktopPlatform(Limits limits) : m_fetcher(std::make_shared<Fetcher>(limits)) {}

DesktopPlatform::~DesktopPlatform()
{
    m_fetcher->cancel();
}

void DesktopPlatform::setDialogParent(QWidget *parent)
{
    m_dialogParent = parent;
}

FetchResult DesktopPlatform::fetchPage(const QUrl &url)
{
    // Touches nothing of the platform once the fetch has begun.
    const std::shared_ptr<Fetcher> fetcher = m_fetcher;
    return fetcher->fetch(url);
}

void DesktopPlatform::cancelFetch()
{
    m_fetcher->cancel();
}

void DesktopPlatform::showMessage(const QString &text, const QString &title)
{
    MessageBox::show(text, title, m_dialogParent.data());
}

void DesktopPlatform::beep()
{
    // Only X11 has a bell of its own, sounding as the desktop's settings say.
    // Qt's other platforms, Wayland among them, make no sound at all, and
    // Xwayland's bell is nobody's to ring.
    if (QGuiApplication::platformName() == u"xcb" &&
        !DesktopSession::isWayland(QProcessEnvironment::systemEnvironment())) {
        QApplication::beep();
        return;
    }
    if (!m_bell)
        m_bell = std::make_unique<DesktopBell>();
    m_bell->ring();
}

void DesktopPlatform::playSoundFile(const QString &path)
{
    const QString file = QDir::fromNativeSeparators(path);
    if (!isCompleteWav(file))
        return; // could never play; nobody is told, as with a missing file
    if (!m_sound)
        m_sound = std::make_unique<QSoundEffect>();
    const QUrl source = QUrl::fromLocalFile(file);
    if (m_sound->source() != source)
        m_sound->setSource(source); // loads asynchronously; play() waits for it
    m_sound->stop();
    m_sound->play();
}

QString DesktopPlatform::programFolder() const
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}
