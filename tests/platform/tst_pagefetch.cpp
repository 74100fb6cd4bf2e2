// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

// The page fetch: the page's bytes to text, and the real fetch against
// loopback servers that answer well, badly or not at all: each fetch ends in
// time with the page or with the reason there is none.
#include "chatsite.h"
#include "pagedecoder.h"
#include "pagefetch.h"
#include "pageserver.h"
#include "pollcycle.h"
#include "procstatus.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkProxy>
#include <QProcess>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <malloc.h>

using namespace Qt::StringLiterals;
using Error = FetchResult::Error;
using Script = PageServer::Script;
Q_DECLARE_METATYPE(PageServer::Step)

namespace {

constexpr int TimeoutMs = 1500;
constexpr qint64 MaxBody = 1024 * 1024;

QByteArray gzipped(const QByteArray &body)
{
    QProcess gzip;
    gzip.start(u"gzip"_s, {u"-c"_s});
    gzip.write(body);
    gzip.closeWriteChannel();
    return gzip.waitForFinished() ? gzip.readAllStandardOutput() : QByteArray();
}

// A 200 head with these extra header lines, and no body yet.
QByteArray head(const QByteArray &headers)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n" + headers + "\r\n";
}

QByteArray lengthOf(qint64 bytes)
{
    return "Content-Length: " + QByteArray::number(bytes) + "\r\n";
}

QByteArray chunk(const QByteArray &bytes)
{
    return QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n";
}

Script redirectTo(const QByteArray &location, int afterMs = 0)
{
    return {
        {.pauseMs = afterMs},
        {.bytes = "HTTP/1.1 302 Found\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n",
         .close = true}};
}

// Answers one request, as fast as the client takes it, from a thread of its
// own, so the flood does not wait for this thread: with 100 MiB of body in
// chunks, or with header lines that never end until the client goes away (or
// 6 s have passed).
class FloodServer : public QThread
{
public:
    explicit FloodServer(bool head) : m_head(head) { start(); }
    ~FloodServer() override { wait(); }
    QUrl url()
    {
        m_listening.acquire();
        return QUrl(u"http://127.0.0.1:%1/"_s.arg(m_port));
    }
    // Once the server is done: when the client went away, in ms from the
    // first byte, or -1 if it never did.
    qint64 goneAfterMs()
    {
        wait();
        return m_goneMs;
    }

private:
    void run() override
    {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost);
        m_port = server.serverPort();
        m_listening.release();
        if (!server.waitForNewConnection(5000))
            return;
        std::unique_ptr<QTcpSocket> client(server.nextPendingConnection());
        client->waitForReadyRead(5000); // the request, read so that no close turns into a reset
        client->readAll();
        QElapsedTimer clock;
        clock.start();
        const auto send = [&client](const QByteArray &bytes) {
            return client->write(bytes) > 0 && client->waitForBytesWritten(5000) &&
                   client->state() == QAbstractSocket::ConnectedState;
        };
        if (m_head) {
            const QByteArray lines =
                QByteArray("X-Flood: " + QByteArray(1000, 'x') + "\r\n").repeated(64);
            bool open = send("HTTP/1.1 200 OK\r\n");
            while (open && clock.elapsed() < 6000)
                open = send(lines);
            m_goneMs = open ? -1 : clock.elapsed();
            return;
        }
        client->write(head("Transfer-Encoding: chunked\r\n"));
        const QByteArray block = chunk(QByteArray(64 * 1024, 'x'));
        for (int i = 0; i < 1600 && send(block); ++i) {
        }
    }

    const bool m_head;
    QSemaphore m_listening;
    quint16 m_port = 0;
    qint64 m_goneMs = -1;
};

} // namespace

class TstPageFetch : public QObject
{
    Q_OBJECT
    PageServer server;
    PageServer otherHost;
    PageServer trustedTls;
    PageServer untrustedTls;

    QUrl pageUrl() const { return userListUrl(server.hostAndPort()); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(server.listen());
        QVERIFY2(otherHost.listen(QHostAddress(u"127.0.0.2"_s)), "127.0.0.2 is not loopback here");
        otherHost.serve(PageServer::ok(ChatSite::userListPage({u"Fel"_s})));
        // tls/: one key for 127.0.0.1 with two certificates, one signed by a
        // CA that this process alone trusts, one by a CA nobody trusts. Made
        // once with openssl, valid until 2126; the CAs' keys were thrown away.
        const auto pem = [](const char *name) {
            QFile file(QFINDTESTDATA(u"tls/"_s + QLatin1StringView(name)));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        for (PageServer *site : {&trustedTls, &untrustedTls}) {
            QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
            tls.setLocalCertificate(
                QSslCertificate(pem(site == &trustedTls ? "trusted.pem" : "untrusted.pem")));
            tls.setPrivateKey(QSslKey(pem("server.key"), QSsl::Ec));
            QVERIFY(!tls.localCertificate().isNull() && !tls.privateKey().isNull());
            site->useTls(tls);
            QVERIFY(site->listen());
            site->setResponder([](const QByteArray &head) {
                return head.startsWith("GET /hop ") ? redirectTo("/login/chat/users.asp")
                                                    : PageServer::reply(PageServer::ok("Bo"));
            });
        }
        // Trusted by this process only, never by the system.
        QSslConfiguration client = QSslConfiguration::defaultConfiguration();
        client.addCaCertificates(QSslCertificate::fromData(pem("ca.pem")));
        QSslConfiguration::setDefaultConfiguration(client);
    }

    // The UTF-8 bytes below are also valid windows-1252, so a row only passes when
    // the charset came from the source it names.
    void decodesAsLabelledOrSniffed_data()
    {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");

        const QByteArray utf8 = "\xC3\x85sa";
        const QString misread = u"Ã…sa"_s; // the UTF-8 bytes read as windows-1252
        QTest::newRow("BOM outranks the header and is dropped")
            << "text/html; charset=windows-1252"_ba
            << "\xEF\xBB\xBF" + utf8 << u"Åsa"_s;
        QTest::newRow("header outranks meta")
            << "text/html; Charset=\"windows-1252\""_ba
            << "<meta charset=utf-8>" + utf8 << u"<meta charset=utf-8>"_s + misread;
        QTest::newRow("meta used without a header label")
            << "text/html"_ba
            << "<meta charset=cp1252>" + utf8 << u"<meta charset=cp1252>"_s + misread;
        QTest::newRow("unknown label counts as none")
            << "text/html; charset=bogus"_ba << utf8 << u"Åsa"_s;
        QTest::newRow("unknown label on a windows-1252 page") << "text/html; charset=bogus"_ba
                                                              << "G\xF6ran"_ba << u"Göran"_s;
        QTest::newRow("not UTF-8: windows-1252") << QByteArray() << "\xC5sa \x80"_ba << u"Åsa €"_s;
        QTest::newRow("latin1 read as windows-1252") << "text/html; charset=latin1"_ba
                                                     << "\x80 \x96"_ba << u"€ –"_s;
        // A meta tag read as ASCII cannot truly name an encoding that reads ASCII otherwise.
        QTest::newRow("meta claiming utf-16 on an ASCII page")
            << QByteArray() << "<meta charset=utf-16>Bo"_ba << u"<meta charset=utf-16>Bo"_s;
        // UTF-16 with no mark and no label, plainly so by its NULs.
        const QString page = u"\n<li>Åsa</li><li>Bo</li>"_s;
        const QByteArray le = QStringEncoder(QStringConverter::Utf16LE).encode(page);
        const QByteArray be = QStringEncoder(QStringConverter::Utf16BE).encode(page);
        QTest::newRow("UTF-16LE by its NULs") << "text/html"_ba << le << page;
        QTest::newRow("UTF-16BE by its NULs") << QByteArray() << be << page;
        QTest::newRow("a NUL now and then is no UTF-16")
            << QByteArray() << "B\0o\0 \xC3\x85sa"_ba << u"B\0o\0 Åsa"_s;
    }
    void decodesAsLabelledOrSniffed()
    {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        QCOMPARE(PageDecoder::decode(body, contentType), expected);
    }
    void givesThePageOrSaysWhyNot_data()
    {
        QTest::addColumn<QList<Script>>("answers"); // request n gets answer n, later ones the last
        QTest::addColumn<Error>("error");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ownLimits"); // as the program runs: no limits passed
        QTest::addColumn<QString>("proxy");  // host:port the fetch goes through

        const auto page = [](const char *row, const QList<Script> &answers, const QString &text) {
            QTest::newRow(row) << answers << Error::None << text << false << QString();
        };
        const auto fails = [](const char *row, const QList<Script> &answers, Error error) {
            QTest::newRow(row) << answers << error << QString() << false << QString();
        };
        const auto reply = [](const QByteArray &raw) {
            return QList<Script>{PageServer::reply(raw)};
        };

        // The header wins over what the bytes look like: valid UTF-8 labelled
        // windows-1252 is read as windows-1252.
        page("charset from the header",
             reply(PageServer::ok("\xC3\x85sa", "text/html; charset=windows-1252")), u"Ã…sa"_s);
        fails("404 with a page", reply(PageServer::status(404, "Not Found", "Åsa")),
              Error::HttpStatus);

        // Names enough to unpack to several blocks of 64 KiB.
        QStringList names;
        for (int i = 0; i < 3000; ++i)
            names << u"Gäst%1"_s.arg(i);
        const QByteArray big = ChatSite::userListPage(names);
        const QByteArray packed = gzipped(big);
        const QByteArray gzip = "Content-Encoding: gzip\r\n";
        page("gzip page of many blocks", reply(head(gzip + lengthOf(packed.size())) + packed),
             QString::fromUtf8(big));
        // Hardly compressible, so many 64 KiB blocks of it wait at one read notification.
        QByteArray noise(600 * 1024, Qt::Uninitialized);
        QRandomGenerator random(7);
        for (char &c : noise)
            c = char('!' + random.bounded(90));
        const QByteArray packedNoise = gzipped(noise);
        page("gzip arriving faster than it is read",
             reply(head(gzip + lengthOf(packedNoise.size())) + packedNoise),
             QString::fromLatin1(noise));
        const QByteArray two = gzipped("Åsa ") + gzipped("Bo");
        page("gzip in two members", reply(head(gzip + lengthOf(two.size())) + two), u"Åsa Bo"_s);
        const QByteArray half = packed.first(packed.size() / 2);
        fails("gzip cut short, then a last chunk",
              reply(head(gzip + "Transfer-Encoding: chunked\r\n") + chunk(half) + chunk({})),
              Error::Truncated);
        fails("not gzip though it says so", reply(head(gzip + lengthOf(4)) + "Åsa"),
              Error::BadGzip);
        fails("UTF-16 labelled utf-8 is no page",
              reply(PageServer::ok(QByteArray("<\0l\0i\0>\0B\0o\0", 12))), Error::Unreadable);
        fails("an encoding not asked for",
              reply(head("Content-Encoding: deflate\r\n" + lengthOf(4)) + "Åsa"),
              Error::UnknownEncoding);

        const QByteArray hop = "/login/chat/users.asp?hop";
        page("five redirects within the site",
             {redirectTo(hop), redirectTo(hop), redirectTo(hop), redirectTo(hop), redirectTo(hop),
              PageServer::reply(PageServer::ok("Bo"))},
             u"Bo"_s);
        fails("a sixth is refused", {redirectTo(hop)}, Error::Redirect);
        fails("to another host", {redirectTo(userListUrl(otherHost.hostAndPort()).toEncoded())},
              Error::Redirect);
        fails("to a host whose name merely ends in the chat's",
              {redirectTo("http://x" + server.hostAndPort().toLatin1() + "/")}, Error::Redirect);
        fails("redirects that take the whole time between them",
              {redirectTo(hop, TimeoutMs / 3 + 100)}, Error::Timeout);

        Script trickle{{.bytes = head(lengthOf(10))}};
        for (int i = 0; i < 10; ++i)
            trickle << PageServer::Step{.bytes = "x", .pauseMs = TimeoutMs / 4};
        fails("a byte now and then", {trickle}, Error::Timeout);
        fails("body cut short", reply(head(lengthOf(100)) + "Åsa"), Error::Truncated);
        fails("a length past the limit, then nothing",
              {{{.bytes = head(lengthOf(MaxBody + 1)) + "Å"}}}, Error::TooLarge);

        // Most chat sites answer http with a redirect to https on the same host.
        const auto https = [](const PageServer &site, const char *path) {
            return QList<Script>{redirectTo("https://" + site.hostAndPort().toLatin1() + path)};
        };
        page("http redirected to https, then a relative Location read on https",
             https(trustedTls, "/hop"), u"Bo"_s);
        fails("a certificate nobody here trusts", https(untrustedTls, "/"), Error::Certificate);

        const QByteArray block = chunk(QByteArray(64 * 1024, 'x'));
        const auto ownLimit = [&](const char *row, const QByteArray &more, Error error) {
            const Script body{{.bytes = head("Transfer-Encoding: chunked\r\n")},
                              {.bytes = block, .repeat = 128}, // 8 MiB
                              {.bytes = more + chunk({}), .close = true}};
            QTest::newRow(row) << QList<Script>{body} << error
                               << (error == Error::None ? QString(8 << 20, u'x') : QString())
                               << true << QString();
        };
        ownLimit("8 MiB is read", {}, Error::None);
        ownLimit("a byte more is refused", chunk("x"), Error::TooLarge);
        QTest::newRow("silence ends after 10 s")
            << QList<Script>{Script{}} << Error::Timeout << QString() << true << QString();

        QTcpServer closed; // a free port, closed again
        closed.listen(QHostAddress::LocalHost);
        closed.close();
        fails("refused",
              {redirectTo("http://127.0.0.1:" + QByteArray::number(closed.serverPort()))},
              Error::ConnectionRefused);
        fails("unknown host", {}, Error::HostNotFound);

        // The chat's server plays a proxy for a chat only the proxy can reach.
        const auto proxied = [](const char *row, const QByteArray &answer, Error error,
                                const QString &text, const QString &proxy) {
            QTest::newRow(row) << QList<Script>{PageServer::reply(answer)} << error << text << false
                               << proxy;
        };
        proxied("through a working proxy", PageServer::ok("Bo"), Error::None, u"Bo"_s,
                server.hostAndPort());
        proxied("a proxy that wants a login",
                "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic "
                "realm=\"firma\"\r\nContent-Length: 0\r\nConnection: close\r\n\r\n",
                Error::ProxyLogin, {}, server.hostAndPort());
        proxied("no proxy there", {}, Error::ProxyUnreachable, {},
                u"127.0.0.1:%1"_s.arg(closed.serverPort()));
    }
    void givesThePageOrSaysWhyNot()
    {
        QFETCH(QList<Script>, answers);
        QFETCH(Error, error);
        QFETCH(QString, text);
        QFETCH(bool, ownLimits);
        QFETCH(QString, proxy);
        server.serve(answers);
        const int served = server.requestCount();
        const int otherServed = otherHost.requestCount();

        QElapsedTimer clock;
        clock.start();
        // ".invalid" never resolves; a resolver with no network says so at once.
        QUrl url = error == Error::HostNotFound ? QUrl(u"http://vindrik.invalid/"_s) : pageUrl();
        PageFetcher fetcher(ownLimits ? PageFetcher::Limits{}
                                      : PageFetcher::Limits{TimeoutMs, MaxBody});
        if (!proxy.isEmpty()) {
            fetcher.setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, proxy.section(u':', 0, 0),
                                           proxy.section(u':', 1).toUShort()));
            url = QUrl(u"http://chat.invalid/"_s);
        }
        const FetchResult result = fetcher.fetch(url);
        const qint64 took = clock.elapsed();

        QCOMPARE(result.error, error);
        QCOMPARE(result.proxy, proxy);
        QVERIFY2(result.text == text, qPrintable(result.text.left(80)));
        // The deadline bounds the whole transfer; a coarse timer may be 5% early.
        const int limitMs = ownLimits ? 10'000 : TimeoutMs;
        QVERIFY2(took < limitMs + 1000, qPrintable(u"took %1 ms"_s.arg(took)));
        if (error == Error::Timeout)
            QVERIFY2(took > limitMs * 0.94, qPrintable(u"gave up after %1 ms"_s.arg(took)));
        if (error == Error::Redirect) // nothing fetched from where the last one pointed
            QVERIFY(server.requestCount() - served <= 6 && otherHost.requestCount() == otherServed);
    }
    // A box opened during the fetch (its own event loop, here a wait) and
    // held open past the deadline, while the page came at once.
    void aBoxOpenPastTheDeadlineLosesNoPage()
    {
        server.serve(PageServer::ok("Bo"));
        QTimer::singleShot(0, this, [] { QTest::qWait(1000); });
        QCOMPARE(PageFetcher({500, MaxBody}).fetch(pageUrl()).text, u"Bo"_s);
    }
    void aFloodIsCutOffAndCostsNoMoreMemoryThanTheLimit_data()
    {
        QTest::addColumn<bool>("head");
        QTest::addColumn<Error>("error");
        QTest::newRow("100 MiB of body") << false << Error::TooLarge;
        QTest::newRow("a head that never ends") << true << Error::TooLarge;
    }
    // The connection closed when the fetch gives up, so the server stops
    // sending, memory stops growing and the next fetch is read on time.
    void aFloodIsCutOffAndCostsNoMoreMemoryThanTheLimit()
    {
        QFETCH(bool, head);
        QFETCH(Error, error);
        // Qt reads a head a byte at a time: a limit that a busy machine reaches in time.
        PageFetcher fetcher({TimeoutMs, head ? MaxBody / 4 : MaxBody});
        QCOMPARE(fetcher.fetch(FloodServer(false).url()).error,
                 Error::TooLarge); // set-up not counted
        // Resets the peak (VmHWM) to the current size.
        QFile clearRefs(u"/proc/self/clear_refs"_s);
        QVERIFY(clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1);
        clearRefs.close();
        const qint64 before = procStatusKiB("VmRSS");
        // This thread busy for a moment, as with an alert box being laid out:
        // meanwhile the network thread must not read on without bound.
        QTimer::singleShot(0, this, [] { QThread::msleep(500); });
        FloodServer flood(head);
        QCOMPARE(fetcher.fetch(flood.url()).error, error);
        server.serve(PageServer::ok("Bo"));
        QElapsedTimer clock;
        clock.start();
        const FetchResult after = fetcher.fetch(pageUrl());
        const qint64 next = clock.elapsed();
        const qint64 gone = flood.goneAfterMs();
        const qint64 growth = procStatusKiB("VmHWM") - before;
        qInfo("memory +%lld KiB, the server saw the client go at %lld ms, the next fetch took %lld "
              "ms",
              growth, gone, next);
        QCOMPARE(after.text, u"Bo"_s);
        QVERIFY2(next < 1000, qPrintable(u"the next fetch took %1 ms"_s.arg(next)));
        if (head)
            QVERIFY2(gone >= 0 && gone < TimeoutMs + 1000,
                     qPrintable(u"gone after %1 ms"_s.arg(gone)));
        if (VINDRIK_MEMORY_FIGURES_REAL) // AddressSanitizer's figures say nothing of the program
            QVERIFY2(growth < 8 * 1024, qPrintable(u"peak memory grew by %1 KiB"_s.arg(growth)));
    }
    void finishedRepliesAreFreed()
    {
        server.serve(PageServer::ok(ChatSite::userListPage({u"Åsa"_s, u"Bo"_s})));
        PageFetcher fetcher({});
        const auto heapInUse = [] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return qint64(mallinfo2().uordblks);
        };
        for (int i = 0; i < 20; ++i)
            QVERIFY(fetcher.fetch(pageUrl()).ok());
        const qint64 before = heapInUse();
        for (int i = 0; i < 200; ++i)
            QVERIFY(fetcher.fetch(pageUrl()).ok());
        const qint64 growth = heapInUse() - before;
        qInfo("200 fetches: heap in use grew by %lld bytes", growth);
        if (VINDRIK_MEMORY_FIGURES_REAL)
            QVERIFY2(growth < 100 * 1024, qPrintable(u"200 fetches kept %1 bytes"_s.arg(growth)));
    }
};

QTEST_GUILESS_MAIN(TstPageFetch)
#include "tst_pagefetch.moc"
