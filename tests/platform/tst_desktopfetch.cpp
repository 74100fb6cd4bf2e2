#include "desktopplatform.h"
#include "httptestserver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace Qt::StringLiterals;
using Error = FetchResult::Error;
using Response = HttpTestServer::Response;

namespace {

constexpr int TimeoutMs = 1500;
constexpr qint64 MaxBody = 64 * 1024;
const Response Stall{{}, Response::Mode::Stall};

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

} // namespace

// Hostile and broken answers are met through the real window in
// tst_hostileserver; here is what only the fetch itself shows.
class TstDesktopFetch : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();

    void pageArrivesAsText_data();
    void pageArrivesAsText();
    void silentServerTimesOutNearLimit();
    void sameHostRedirectsFollowedUpToFive_data();
    void sameHostRedirectsFollowedUpToFive();
    void unreachableServerIsNamed_data();
    void unreachableServerIsNamed();
    void cancelOrQuitEndsStalledFetchPromptly_data();
    void cancelOrQuitEndsStalledFetchPromptly();

private:
    std::unique_ptr<HttpTestServer> server;
};

void TstDesktopFetch::init()
{
    server = std::make_unique<HttpTestServer>();
    QVERIFY(server->listen());
}

void TstDesktopFetch::pageArrivesAsText_data()
{
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("httpStatus"); // anything but 200 must give no page

    QStringEncoder toCp1252("windows-1252");
    const QString plain = namesPage({});
    const QByteArray plainCp1252 = toCp1252.encode(plain);
    const QString metaUtf8 = namesPage(u"<meta charset=\"utf-8\">"_s);
    const QString metaCp1252 = namesPage(
        u"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">"_s);

    QTest::newRow("UTF-8, charset in header")
        << HttpTestServer::ok(plain.toUtf8(), "text/html; charset=utf-8") << plain << 200;
    QTest::newRow("UTF-8, charset in meta")
        << HttpTestServer::ok(metaUtf8.toUtf8(), "text/html") << metaUtf8 << 200;
    QTest::newRow("UTF-8, no charset")
        << HttpTestServer::ok(plain.toUtf8(), "text/html") << plain << 200;
    QTest::newRow("windows-1252, charset in header")
        << HttpTestServer::ok(plainCp1252, "text/html; charset=windows-1252") << plain << 200;
    QTest::newRow("windows-1252, charset in meta")
        << HttpTestServer::ok(toCp1252.encode(metaCp1252), "text/html") << metaCp1252 << 200;
    QTest::newRow("windows-1252, no charset")
        << HttpTestServer::ok(plainCp1252, "text/html") << plain << 200;
    QTest::newRow("body exactly at the size limit")
        << HttpTestServer::ok(QByteArray(MaxBody, 'x')) << QString(MaxBody, u'x') << 200;
    QTest::newRow("404 is a failure, not a page")
        << HttpTestServer::status(404, "Not Found", plain.toUtf8()) << QString() << 404;
    QTest::newRow("500 is a failure, not a page")
        << HttpTestServer::status(500, "Internal Server Error", plain.toUtf8()) << QString() << 500;
}

void TstDesktopFetch::pageArrivesAsText()
{
    QFETCH(QByteArray, response);
    QFETCH(QString, expected);
    QFETCH(int, httpStatus);

    server->enqueue(response);
    DesktopPlatform platform(testLimits());
    const FetchResult result = platform.fetchPage(server->url());
    QCOMPARE(result.error, httpStatus == 200 ? Error::None : Error::HttpStatus);
    QCOMPARE(result.httpStatus, httpStatus);
    QCOMPARE(result.text, expected);
    QCOMPARE(server->requests().value(0), "GET /login/chat/users.asp HTTP/1.1"_ba);
}

void TstDesktopFetch::silentServerTimesOutNearLimit()
{
    server->setFallback(Stall);
    DesktopPlatform platform(testLimits());
    QElapsedTimer clock;
    clock.start();
    const FetchResult result = platform.fetchPage(server->url());
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(result.error, Error::Timeout);
    // The deadline timer may fire a little early; seconds late would be a fault.
    QVERIFY2(elapsed >= TimeoutMs * 9 / 10 && elapsed < TimeoutMs + 2000,
             qPrintable(u"gave up after %1 ms"_s.arg(elapsed)));
}

void TstDesktopFetch::sameHostRedirectsFollowedUpToFive_data()
{
    QTest::addColumn<QByteArray>("location"); // PORT stands for the server's port
    QTest::addColumn<int>("hops");

    QTest::newRow("relative Location, once") << "/login/chat/ny.asp"_ba << 1;
    QTest::newRow("absolute Location, five times")
        << "http://127.0.0.1:PORT/login/chat/ny.asp"_ba << 5;
    QTest::newRow("a sixth is refused") << "/login/chat/ny.asp"_ba << 6;
}

void TstDesktopFetch::sameHostRedirectsFollowedUpToFive()
{
    QFETCH(QByteArray, location);
    QFETCH(int, hops);

    location.replace("PORT", QByteArray::number(server->port()));
    for (int i = 0; i < hops; ++i)
        server->enqueue("HTTP/1.1 302 Found\r\nLocation: " + location +
                        "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    const QString page = namesPage({});
    server->enqueue(HttpTestServer::ok(page.toUtf8()));

    DesktopPlatform platform(testLimits());
    const FetchResult result = platform.fetchPage(server->url());
    QCOMPARE(result.error, hops <= 5 ? Error::None : Error::Redirect);
    QCOMPARE(result.text, hops <= 5 ? page : QString());
    // Nothing is fetched from where a refused redirect pointed.
    QCOMPARE(server->requests().size(), std::min(hops + 1, 6));
}

void TstDesktopFetch::unreachableServerIsNamed_data()
{
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<Error>("expected");

    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    QTest::newRow("connection refused")
        << QUrl(u"http://127.0.0.1:%1/login/chat/users.asp"_s.arg(closed.serverPort()))
        << Error::ConnectionRefused;
    // ".invalid" never resolves; a resolver with no network says so at once.
    QTest::newRow("unknown host") << QUrl(u"http://no-such-host.invalid/login/chat/users.asp"_s)
                                  << Error::HostNotFound;
}

void TstDesktopFetch::unreachableServerIsNamed()
{
    QFETCH(QUrl, url);
    QFETCH(Error, expected);

    DesktopPlatform platform(testLimits(5000));
    QCOMPARE(platform.fetchPage(url).error, expected);
}

void TstDesktopFetch::cancelOrQuitEndsStalledFetchPromptly_data()
{
    QTest::addColumn<bool>("quit");

    QTest::newRow("cancelFetch, then the next fetch works") << false;
    QTest::newRow("QCoreApplication::quit") << true;
}

void TstDesktopFetch::cancelOrQuitEndsStalledFetchPromptly()
{
    QFETCH(bool, quit);

    server->enqueue(Stall);
    server->enqueue(HttpTestServer::ok("<html>hej</html>"));
    DesktopPlatform platform(testLimits(5000));
    std::optional<FetchResult> result;
    qint64 elapsed = -1;
    // The fetch runs inside the application's own loop, as a poll does.
    QTimer::singleShot(0, this, [&] {
        QElapsedTimer clock;
        clock.start();
        result = platform.fetchPage(server->url());
        elapsed = clock.elapsed();
        QCoreApplication::quit();
    });
    QTimer::singleShot(300, this, [&] {
        if (quit)
            QCoreApplication::quit();
        else
            platform.cancelFetch();
    });
    QApplication::exec();

    QVERIFY(result.has_value());
    QCOMPARE(result->error, Error::Cancelled);
    QVERIFY2(elapsed < 2000, qPrintable(u"took %1 ms"_s.arg(elapsed)));
    if (!quit)
        QCOMPARE(platform.fetchPage(server->url()).text, u"<html>hej</html>"_s);
}

QTEST_MAIN(TstDesktopFetch)
#include "tst_desktopfetch.moc"
