#include "desktopplatform.h"

#include "desktopbell.h"
#include "pagedecoder.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSoundEffect>
#include <QTimer>
#include <QtEndian>

#include <zlib.h>

#include <algorithm>
#include <memory>

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

DesktopPlatform::DesktopPlatform() : DesktopPlatform(Limits{}) {}

DesktopPlatform::DesktopPlatform(Limits limits)
    : m_limits(limits), m_network(new QNetworkAccessManager)
{
}

DesktopPlatform::~DesktopPlatform()
{
    if (m_reply) {
        m_cancelled = true;
        m_reply->abort();
    }
    delete m_sound;
    delete m_network;
}

void DesktopPlatform::setDialogParent(QWidget *parent)
{
    m_dialogParent = parent;
}

FetchResult DesktopPlatform::fetchPage(const QUrl &url)
{
    using Error = FetchResult::Error;
    if (m_reply)
        return FetchResult::failure(Error::Network, 0, QStringLiteral("busy"));

    m_cancelled = false;
    // Bounds the whole transfer, redirects included: a server that trickles a
    // byte a second must not keep the poll waiting for ever.
    const QDeadlineTimer deadline(m_limits.transferTimeoutMs);
    QUrl target = url;
    for (int redirects = 0;; ++redirects) {
        QNetworkRequest request(target);
        // Redirects are followed here, one request at a time, rather than by
        // Qt: its own following lost track of a chain of them (Qt 6.4).
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::ManualRedirectPolicy);
        // The user list must be fresh on every poll.
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                             QNetworkRequest::AlwaysNetwork);
        request.setRawHeader("Cache-Control", "no-cache");
        // Asking for it ourselves keeps the unpacking ours (see GzipStream).
        request.setRawHeader("Accept-Encoding", "gzip");

        QNetworkReply *reply = m_network->get(request);
        // Otherwise Qt's network thread reads on as fast as the server sends,
        // however far the body is past the limit, and holds it all until this
        // thread gets round to it.
        reply->setReadBufferSize(256 * 1024);
        m_reply = reply;

        QByteArray body;
        bool tooLarge = false;
        bool timedOut = false;
        std::unique_ptr<GzipStream> gzip;
        QByteArray unknownEncoding;
        bool badGzip = false;
        QEventLoop loop;

        auto refuse = [&] {
            tooLarge = true;
            reply->abort();
        };
        QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [&] {
            const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
            if (length.isValid() && length.toLongLong() > m_limits.maxBodyBytes) {
                refuse();
                return;
            }
            const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
            if (encoding == "gzip" || encoding == "x-gzip") {
                if (!gzip)
                    gzip = std::make_unique<GzipStream>();
            } else if (!encoding.isEmpty() && encoding != "identity") {
                unknownEncoding = encoding; // not asked for; its bytes would read as nonsense
                reply->abort();
            }
        });
        // Read as it arrives so a huge body costs no more memory than the limit.
        auto take = [&] {
            if (!gzip) {
                body += reply->read(m_limits.maxBodyBytes + 1 - body.size());
            } else {
                while (reply->bytesAvailable() > 0 && body.size() <= m_limits.maxBodyBytes &&
                       !badGzip)
                    badGzip = !gzip->unpack(reply->read(64 * 1024), body, m_limits.maxBodyBytes);
            }
            tooLarge = tooLarge || body.size() > m_limits.maxBodyBytes;
        };
        QObject::connect(reply, &QNetworkReply::readyRead, reply, [&] {
            take();
            if (tooLarge || badGzip)
                reply->abort();
        });
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);

        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, reply, [&] {
            timedOut = true;
            reply->abort();
        });
        timer.start(int(deadline.remainingTime()));

        // Waiting here keeps the window painting and answering. exec() also
        // returns early when the application quits.
        if (!reply->isFinished())
            loop.exec();
        timer.stop();

        const bool finished = reply->isFinished();
        if (!finished)
            reply->abort();
        if (finished && reply->bytesAvailable() > 0 && !tooLarge && !badGzip)
            take();

        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QNetworkReply::NetworkError netError = reply->error();
        const QString detail = reply->errorString();
        const QByteArray contentType =
            reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
        const QUrl location = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
        m_reply = nullptr;
        reply->disconnect();
        reply->deleteLater();

        if (m_cancelled || !finished)
            return FetchResult::failure(Error::Cancelled);
        if (timedOut)
            return FetchResult::failure(Error::Timeout, status);
        if (tooLarge)
            return FetchResult::failure(Error::TooLarge, status);
        if (status >= 300 && status <= 399 && !location.isEmpty()) {
            const QUrl next = target.resolved(location);
            // Follow redirects within the chat site only, and not for ever.
            if (!sameSite(url, next) || redirects >= m_limits.maxRedirects)
                return FetchResult::failure(Error::Redirect, status);
            target = next;
            continue;
        }
        if (status != 0 && (status < 200 || status > 299))
            return FetchResult::failure(Error::HttpStatus, status);
        if (!unknownEncoding.isEmpty())
            return FetchResult::failure(Error::Network, status,
                                        QStringLiteral("okänd innehållskodning %1")
                                            .arg(QString::fromLatin1(unknownEncoding)));
        if (badGzip)
            return FetchResult::failure(Error::Network, status,
                                        QStringLiteral("trasigt gzip-innehåll"));
        if (netError != QNetworkReply::NoError)
            return FetchResult::failure(errorFor(netError), status, detail);
        if (gzip && gzip->cutShort())
            return FetchResult::failure(Error::Truncated, status);

        FetchResult result = FetchResult::page(PageDecoder::decode(body, contentType));
        result.httpStatus = status;
        return result;
    }
}

void DesktopPlatform::cancelFetch()
{
    if (!m_reply)
        return;
    m_cancelled = true;
    m_reply->abort();
}

void DesktopPlatform::showMessage(const QString &text, const QString &title)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, m_dialogParent.data());
    // Names come from a web page; "<b>Bo</b>" must be shown as typed, not rendered.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void DesktopPlatform::beep()
{
    // Only X11 has a bell of its own, sounding as the desktop's settings say.
    // Qt's other platforms, Wayland among them, make no sound at all.
    if (QGuiApplication::platformName() == u"xcb") {
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
        m_sound = new QSoundEffect;
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
