#include "desktopplatform.h"
#include "httptestserver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <memory>

using namespace Qt::StringLiterals;
using Error = FetchResult::Error;
using Response = HttpTestServer::Response;

Q_DECLARE_METATYPE(HttpTestServer::Response)

char *toString(FetchResult::Error error)
{
    static constexpr const char *names[] = {
        "None",         "HttpStatus", "Timeout",  "TooLarge",  "ConnectionRefused",
        "HostNotFound", "Truncated",  "Redirect", "Cancelled", "Network"};
    return qstrdup(names[int(error)]);
}

namespace {

constexpr int TimeoutMs = 1500;
constexpr qint64 MaxBody = 64 * 1024;

DesktopPlatform::Limits testLimits(int timeoutMs = TimeoutMs)
{
    DesktopPlatform::Limits limits;
    limits.transferTimeoutMs = timeoutMs;
    limits.maxBodyBytes = MaxBody;
    return limits;
}

QString namesPage(const QString &meta)
{
    return u"<html><head>"_s + meta +
           u"</head><body>\n<a href=\"#\" onclick=\"valj='Åsa';\" >Åsa</a><br>\n"
           u"<a href=\"#\" onclick=\"valj='Björn';\" >Björn</a><br>\n</body></html>\n"_s;
}

QByteArray cp1252(const QString &text)
{
    QStringEncoder encoder("windows-1252");
    return encoder.encode(text);
}

QByteArray chunked(const QByteArray &body, qsizetype chunkSize)
{
    QByteArray raw = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                     "Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
    for (qsizetype at = 0; at < body.size(); at += chunkSize) {
        const QByteArray part = body.mid(at, chunkSize);
        raw += QByteArray::number(part.size(), 16) + "\r\n" + part + "\r\n";
    }
    return raw + "0\r\n\r\n";
}

// No Content-Length: the body ends when the server closes the connection.
QByteArray untilClose(const QByteArray &body)
{
    return "HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n" + body;
}

quint32 crc32(QByteArrayView data)
{
    quint32 crc = 0xFFFFFFFF;
    for (char c : data) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray gzipped(const QByteArray &body)
{
    // qCompress gives a 4-byte size, then a zlib stream: 2-byte header, raw
    // deflate, 4-byte Adler-32. gzip wraps the same raw deflate differently.
    const QByteArray zlib = qCompress(body, 9);
    QByteArray member("\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\xff", 10);
    member += zlib.sliced(6, zlib.size() - 10);
    char trailer[8];
    qToLittleEndian<quint32>(crc32(body), trailer);
    qToLittleEndian<quint32>(quint32(body.size()), trailer + 4);
    return member + QByteArray(trailer, 8);
}

QByteArray gzipResponse(const QByteArray &body)
{
    const QByteArray packed = gzipped(body);
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Encoding: gzip\r\n"
           "Content-Length: " +
           QByteArray::number(packed.size()) + "\r\nConnection: close\r\n\r\n" + packed;
}

QByteArray redirectTo(const QByteArray &location)
{
    return "HTTP/1.1 302 Found\r\nLocation: " + location +
           "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

Response stall()
{
    Response response;
    response.mode = Response::Mode::Stall;
    return response;
}

} // namespace

class TstDesktopFetch : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void pageArrivesAsText_data();
    void pageArrivesAsText();
    void brokenAnswerIsFailureNotPage_data();
    void brokenAnswerIsFailureNotPage();
    void bodyOverLimitIsRefused_data();
    void bodyOverLimitIsRefused();
    void slowServerTimesOutNearLimit_data();
    void slowServerTimesOutNearLimit();
    void redirectsStayOnHost_data();
    void redirectsStayOnHost();
    void refusedConnectionIsReported();
    void unknownHostIsReported();
    void cancelEndsStalledFetchAndNextFetchWorks();
    void quittingEndsFetch_data();
    void quittingEndsFetch();
    void eventLoopKeepsTurningDuringFetch();
    void secondFetchDuringFetchFailsWithoutHarmingFirst();

private:
    std::unique_ptr<HttpTestServer> server;
};

void TstDesktopFetch::init()
{
    server = std::make_unique<HttpTestServer>();
    QVERIFY(server->listen());
}

void TstDesktopFetch::cleanup()
{
    server.reset();
}

void TstDesktopFetch::pageArrivesAsText_data()
{
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<QString>("expected");

    const QString plain = namesPage({});
    const QString metaUtf8 = namesPage(u"<meta charset=\"utf-8\">"_s);
    const QString metaCp1252 = namesPage(
        u"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">"_s);

    QTest::newRow("UTF-8, charset in header")
        << HttpTestServer::ok(plain.toUtf8(), "text/html; charset=utf-8") << plain;
    QTest::newRow("UTF-8, charset in meta")
        << HttpTestServer::ok(metaUtf8.toUtf8(), "text/html") << metaUtf8;
    QTest::newRow("UTF-8, no charset") << HttpTestServer::ok(plain.toUtf8(), "text/html") << plain;
    QTest::newRow("windows-1252, charset in header")
        << HttpTestServer::ok(cp1252(plain), "text/html; charset=windows-1252") << plain;
    QTest::newRow("windows-1252 labelled iso-8859-1 in header")
        << HttpTestServer::ok(cp1252(plain), "text/html; charset=iso-8859-1") << plain;
    QTest::newRow("windows-1252, charset in meta")
        << HttpTestServer::ok(cp1252(metaCp1252), "text/html") << metaCp1252;
    QTest::newRow("windows-1252, no charset")
        << HttpTestServer::ok(cp1252(plain), "text/html") << plain;
    QTest::newRow("HTTP/1.0 body ended by closing the connection")
        << untilClose(plain.toUtf8()) << plain;
    QTest::newRow("chunked body") << chunked(plain.toUtf8(), 7) << plain;
    QTest::newRow("gzip body") << gzipResponse(plain.toUtf8()) << plain;
    QTest::newRow("body exactly at the size limit")
        << HttpTestServer::ok(QByteArray(MaxBody, 'x')) << QString(MaxBody, u'x');
}

void TstDesktopFetch::pageArrivesAsText()
{
    QFETCH(QByteArray, response);
    QFETCH(QString, expected);

    server->enqueue(response);
    DesktopPlatform platform(testLimits());
    const FetchResult result = platform.fetchPage(server->url());
    QCOMPARE(result.error, Error::None);
    QCOMPARE(result.httpStatus, 200);
    QCOMPARE(result.text, expected);
    QCOMPARE(server->requests().value(0), "GET /login/chat/users.asp HTTP/1.1"_ba);
}

void TstDesktopFetch::brokenAnswerIsFailureNotPage_data()
{
    QTest::addColumn<Response>("response");
    QTest::addColumn<Error>("expected");
    QTest::addColumn<int>("httpStatus");

    const QByteArray errorPage = "<html><body>Sidan finns inte</body></html>";
    QTest::newRow("404 is a failure, not a page")
        << Response{HttpTestServer::status(404, "Not Found", errorPage)} << Error::HttpStatus
        << 404;
    QTest::newRow("500 is a failure, not a page")
        << Response{HttpTestServer::status(500, "Internal Server Error", errorPage)}
        << Error::HttpStatus << 500;
    QTest::newRow("302 with no Location")
        << Response{"HTTP/1.1 302 Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"}
        << Error::HttpStatus << 302;
    QTest::newRow("Content-Length longer than the body sent")
        << Response{"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 1000\r\n\r\n" +
                    QByteArray(100, 'x')}
        << Error::Truncated << 200;
    Response closeNow;
    closeNow.mode = Response::Mode::CloseNow;
    QTest::newRow("connection closed without a word") << closeNow << Error::Truncated << 0;
}

void TstDesktopFetch::brokenAnswerIsFailureNotPage()
{
    QFETCH(Response, response);
    QFETCH(Error, expected);
    QFETCH(int, httpStatus);

    // As the fallback, so a retry by the network stack meets the same answer.
    server->setFallback(response);
    DesktopPlatform platform(testLimits());
    const FetchResult result = platform.fetchPage(server->url());
    QCOMPARE(result.error, expected);
    QCOMPARE(result.httpStatus, httpStatus);
    QVERIFY(result.text.isEmpty());
}

void TstDesktopFetch::bodyOverLimitIsRefused_data()
{
    QTest::addColumn<QByteArray>("response");

    const QByteArray big(MaxBody + 1, 'x');
    QTest::newRow("Content-Length one byte over the limit") << HttpTestServer::ok(big);
    QTest::newRow("chunked body growing past the limit")
        << chunked(QByteArray(4 * MaxBody, 'x'), 4096);
    QTest::newRow("body until close growing past the limit") << untilClose(big);
    QTest::newRow("small gzip body unpacking past the limit")
        << gzipResponse(QByteArray(16 * MaxBody, 'x'));
}

void TstDesktopFetch::bodyOverLimitIsRefused()
{
    QFETCH(QByteArray, response);

    server->enqueue(response);
    DesktopPlatform platform(testLimits());
    const FetchResult result = platform.fetchPage(server->url());
    QCOMPARE(result.error, Error::TooLarge);
    QVERIFY(result.text.isEmpty());
}

void TstDesktopFetch::slowServerTimesOutNearLimit_data()
{
    QTest::addColumn<Response>("response");

    QTest::newRow("server never answers") << stall();
    Response headersOnly{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n"};
    headersOnly.closeAfter = false;
    QTest::newRow("headers sent, body never comes") << headersOnly;
    // Bytes keep coming, but the whole transfer is what is bounded.
    Response trickle{HttpTestServer::ok(QByteArray(500, 'x'))};
    trickle.mode = Response::Mode::Trickle;
    trickle.trickleMs = 20;
    QTest::newRow("server trickles past the deadline") << trickle;
}

void TstDesktopFetch::slowServerTimesOutNearLimit()
{
    QFETCH(Response, response);

    server->setFallback(response);
    DesktopPlatform platform(testLimits());
    QElapsedTimer clock;
    clock.start();
    const FetchResult result = platform.fetchPage(server->url());
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(result.error, Error::Timeout);
    QVERIFY(result.text.isEmpty());
    // The deadline timer may fire a little early; seconds late would be a fault.
    QVERIFY2(elapsed >= TimeoutMs * 9 / 10 && elapsed < TimeoutMs + 2000,
             qPrintable(u"gave up after %1 ms"_s.arg(elapsed)));
}

void TstDesktopFetch::redirectsStayOnHost_data()
{
    QTest::addColumn<QByteArray>("location"); // PORT stands for the server's port
    QTest::addColumn<int>("hops");
    QTest::addColumn<Error>("expected");

    QTest::newRow("same host, absolute Location is followed")
        << "http://127.0.0.1:PORT/login/chat/ny.asp"_ba << 1 << Error::None;
    QTest::newRow("same host, relative Location is followed")
        << "/login/chat/ny.asp"_ba << 1 << Error::None;
    QTest::newRow("five redirects are followed") << "/login/chat/ny.asp"_ba << 5 << Error::None;
    QTest::newRow("a sixth redirect is refused") << "/login/chat/ny.asp"_ba << 6 << Error::Redirect;
    QTest::newRow("redirect loop is refused")
        << "/login/chat/users.asp"_ba << 50 << Error::Redirect;
    // The same server under another name: following it would fetch a page.
    QTest::newRow("another host is refused")
        << "http://localhost:PORT/login/chat/users.asp"_ba << 1 << Error::Redirect;
    QTest::newRow("a local file is refused") << "file:///etc/hostname"_ba << 1 << Error::Redirect;
}

void TstDesktopFetch::redirectsStayOnHost()
{
    QFETCH(QByteArray, location);
    QFETCH(int, hops);
    QFETCH(Error, expected);

    location.replace("PORT", QByteArray::number(server->port()));
    for (int i = 0; i < hops; ++i)
        server->enqueue(redirectTo(location));
    const QString page = namesPage({});
    server->enqueue(HttpTestServer::ok(page.toUtf8()));

    DesktopPlatform platform(testLimits());
    const FetchResult result = platform.fetchPage(server->url());
    QCOMPARE(result.error, expected);
    if (expected == Error::None) {
        QCOMPARE(result.text, page);
        QCOMPARE(server->requests().size(), hops + 1);
    } else {
        QVERIFY(result.text.isEmpty());
        // Nothing was fetched from where the last redirect pointed.
        QCOMPARE_LE(server->requests().size(), std::min(hops, 6));
    }
}

void TstDesktopFetch::refusedConnectionIsReported()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();

    DesktopPlatform platform(testLimits());
    const FetchResult result =
        platform.fetchPage(QUrl(u"http://127.0.0.1:%1/login/chat/users.asp"_s.arg(port)));
    QCOMPARE(result.error, Error::ConnectionRefused);
    QVERIFY(result.text.isEmpty());
}

void TstDesktopFetch::unknownHostIsReported()
{
    // ".invalid" never resolves; a resolver with no network says so at once.
    DesktopPlatform platform(testLimits(5000));
    const FetchResult result =
        platform.fetchPage(QUrl(u"http://no-such-host.invalid/login/chat/users.asp"_s));
    QCOMPARE(result.error, Error::HostNotFound);
    QVERIFY(result.text.isEmpty());
}

void TstDesktopFetch::cancelEndsStalledFetchAndNextFetchWorks()
{
    server->enqueue(stall());
    server->enqueue(HttpTestServer::ok("<html>hej</html>"));
    DesktopPlatform platform(testLimits(5000));
    QTimer::singleShot(200, this, [&] { platform.cancelFetch(); });
    QElapsedTimer clock;
    clock.start();
    const FetchResult cancelled = platform.fetchPage(server->url());
    QCOMPARE(cancelled.error, Error::Cancelled);
    QVERIFY(cancelled.text.isEmpty());
    QVERIFY2(clock.elapsed() < 2000, qPrintable(u"took %1 ms"_s.arg(clock.elapsed())));

    const FetchResult next = platform.fetchPage(server->url());
    QCOMPARE(next.error, Error::None);
    QCOMPARE(next.text, u"<html>hej</html>"_s);
}

void TstDesktopFetch::quittingEndsFetch_data()
{
    QTest::addColumn<bool>("useExit");

    QTest::newRow("QCoreApplication::quit") << false;
    QTest::newRow("QCoreApplication::exit") << true;
}

void TstDesktopFetch::quittingEndsFetch()
{
    QFETCH(bool, useExit);

    server->setFallback(stall());
    DesktopPlatform platform(testLimits(5000));
    std::optional<FetchResult> result;
    qint64 elapsed = -1;
    // The fetch runs inside the application's own loop, as a poll does.
    QTimer::singleShot(0, this, [&] {
        QElapsedTimer clock;
        clock.start();
        result = platform.fetchPage(server->url());
        elapsed = clock.elapsed();
    });
    QTimer::singleShot(300, this, [useExit] {
        if (useExit)
            QCoreApplication::exit(0);
        else
            QCoreApplication::quit();
    });
    QApplication::exec();

    QVERIFY(result.has_value());
    QCOMPARE(result->error, Error::Cancelled);
    QVERIFY2(elapsed < 2000, qPrintable(u"took %1 ms"_s.arg(elapsed)));
}

void TstDesktopFetch::eventLoopKeepsTurningDuringFetch()
{
    Response slow{"HTTP/1.0 200 OK\r\n\r\nhej"};
    slow.mode = Response::Mode::Trickle;
    slow.trickleMs = 20; // about half a second in all
    server->enqueue(slow);

    int paints = 0;
    QTimer repaint;
    connect(&repaint, &QTimer::timeout, this, [&] { ++paints; });
    repaint.start(20);

    DesktopPlatform platform(testLimits(5000));
    const FetchResult result = platform.fetchPage(server->url());
    QCOMPARE(result.error, Error::None);
    QCOMPARE(result.text, u"hej"_s);
    QCOMPARE_GE(paints, 5);
}

void TstDesktopFetch::secondFetchDuringFetchFailsWithoutHarmingFirst()
{
    Response slow{"HTTP/1.0 200 OK\r\n\r\nhej"};
    slow.mode = Response::Mode::Trickle;
    slow.trickleMs = 20;
    server->enqueue(slow);
    server->setFallback(stall());

    DesktopPlatform platform(testLimits(5000));
    std::optional<FetchResult> inner;
    qint64 innerMs = -1;
    QTimer::singleShot(100, this, [&] {
        QElapsedTimer clock;
        clock.start();
        inner = platform.fetchPage(server->url());
        innerMs = clock.elapsed();
    });
    const FetchResult outer = platform.fetchPage(server->url());

    QCOMPARE(outer.error, Error::None);
    QCOMPARE(outer.text, u"hej"_s);
    QVERIFY(inner.has_value());
    QVERIFY(!inner->ok());
    QVERIFY(inner->error != Error::Cancelled); // it must not pass for the window closing
    QVERIFY2(innerMs < 500, qPrintable(u"second fetch took %1 ms"_s.arg(innerMs)));
}

QTEST_MAIN(TstDesktopFetch)
#include "tst_desktopfetch.moc"
