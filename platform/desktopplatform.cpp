#include "desktopplatform.h"

#include "pagedecoder.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSoundEffect>
#include <QTimer>
#include <QtEndian>

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

        QNetworkReply *reply = m_network->get(request);
        m_reply = reply;

        QByteArray body;
        bool tooLarge = false;
        bool timedOut = false;
        QEventLoop loop;

        auto refuse = [&] {
            tooLarge = true;
            reply->abort();
        };
        QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [&] {
            const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
            if (length.isValid() && length.toLongLong() > m_limits.maxBodyBytes)
                refuse();
        });
        QObject::connect(reply, &QNetworkReply::readyRead, reply, [&] {
            // Read as it arrives so a huge body costs no more memory than the limit.
            body += reply->read(m_limits.maxBodyBytes + 1 - body.size());
            if (body.size() > m_limits.maxBodyBytes)
                refuse();
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
        if (finished && reply->bytesAvailable() > 0 && !tooLarge)
            body += reply->read(m_limits.maxBodyBytes + 1 - body.size());
        if (body.size() > m_limits.maxBodyBytes)
            tooLarge = true;

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
        if (netError != QNetworkReply::NoError)
            return FetchResult::failure(errorFor(netError), status, detail);

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
    QApplication::beep();
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
