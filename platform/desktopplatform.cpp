#include "desktopplatform.h"

#include "pagedecoder.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSoundEffect>
#include <QTimer>

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

} // namespace

DesktopPlatform::DesktopPlatform() : DesktopPlatform(Limits{}) {}

DesktopPlatform::DesktopPlatform(Limits limits)
    : m_limits(limits), m_network(new QNetworkAccessManager)
{
}

DesktopPlatform::~DesktopPlatform()
{
    cancelFetch();
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

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(m_limits.maxRedirects);
    // The user list must be fresh on every poll.
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setRawHeader("Cache-Control", "no-cache");

    m_cancelled = false;
    QNetworkReply *reply = m_network->get(request);
    m_reply = reply;

    QByteArray body;
    bool tooLarge = false;
    bool timedOut = false;
    QEventLoop loop;

    // Follow redirects within the chat site only.
    QObject::connect(reply, &QNetworkReply::redirected, reply, [reply, url](const QUrl &to) {
        if (sameSite(url, reply->url().resolved(to)))
            Q_EMIT reply->redirectAllowed();
        else
            reply->abort();
    });
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

    // Bounds the whole transfer: a server that trickles a byte a second must
    // not keep the poll waiting for ever.
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, reply, [&] {
        timedOut = true;
        reply->abort();
    });
    deadline.start(m_limits.transferTimeoutMs);

    // Waiting here keeps the window painting and answering. exec() also
    // returns early when the application quits.
    if (!reply->isFinished())
        loop.exec();
    deadline.stop();

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
    const QByteArray contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    m_reply = nullptr;
    reply->disconnect();
    reply->deleteLater();

    if (m_cancelled || !finished)
        return FetchResult::failure(Error::Cancelled);
    if (timedOut)
        return FetchResult::failure(Error::Timeout, status);
    if (tooLarge)
        return FetchResult::failure(Error::TooLarge, status);
    // The only other abort is ours, refusing a redirect off the chat site.
    if (netError == QNetworkReply::OperationCanceledError ||
        netError == QNetworkReply::TooManyRedirectsError ||
        netError == QNetworkReply::InsecureRedirectError)
        return FetchResult::failure(Error::Redirect, status);
    if (status != 0 && (status < 200 || status > 299))
        return FetchResult::failure(Error::HttpStatus, status);
    if (netError != QNetworkReply::NoError)
        return FetchResult::failure(errorFor(netError), status, detail);

    FetchResult result = FetchResult::page(PageDecoder::decode(body, contentType));
    result.httpStatus = status;
    return result;
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
    if (!m_sound)
        m_sound = new QSoundEffect;
    const QUrl source = QUrl::fromLocalFile(QDir::fromNativeSeparators(path));
    if (m_sound->source() != source)
        m_sound->setSource(source); // loads asynchronously; play() waits for it
    m_sound->stop();
    m_sound->play();
}

QString DesktopPlatform::programFolder() const
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}
