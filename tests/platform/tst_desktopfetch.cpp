#include "desktopplatform.h"
#include "pageserver.h"
#include "pollcycle.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <optional>

using namespace Qt::StringLiterals;
using Error = FetchResult::Error;
using Raw = QList<QByteArray>;

class TstDesktopFetch : public QObject
{
    Q_OBJECT
    std::optional<PageServer> server;
    QUrl pageUrl() const { return userListUrl(server->hostAndPort()); }

private Q_SLOTS:
    void init() { QVERIFY(server.emplace().listen()); }
    void fetchGivesTextOrNamedFailure_data()
    {
        QTest::addColumn<Raw>("responses"); // empty = a server that never answers
        QTest::addColumn<QUrl>("url");      // empty = the server's
        QTest::addColumn<Error>("error");
        QTest::addColumn<QString>("text");

        const QString names = u"<a onclick=\"valj='Åsa';\">Åsa</a><br>Björn"_s;
        for (const QByteArray &charset : {"utf-8"_ba, "windows-1252"_ba}) {
            QStringEncoder encoder(charset.data());
            const QString meta = u"<meta charset=%1>"_s.arg(QString::fromLatin1(charset)) + names;
            const auto row = [&](const char *how, const QString &text, const QByteArray &type) {
                QTest::addRow("%s %s", charset.data(), how)
                    << Raw{PageServer::ok(encoder.encode(text), type)} << QUrl() << Error::None
                    << text;
            };
            row("in header", names, "text/html; charset=" + charset);
            row("in meta", meta, "text/html");
            row("unlabelled", names, "text/html");
        }
        const QByteArray page = PageServer::ok("Bo");
        const QByteArray hop =
            "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:PORT/ny\r\nContent-Length: 0\r\n\r\n";
        QTest::newRow("404") << Raw{PageServer::status(404, "Not Found", page)} << QUrl()
                             << Error::HttpStatus << QString();
        QTest::newRow("500") << Raw{PageServer::status(500, "Oops", page)} << QUrl()
                             << Error::HttpStatus << QString();
        QTest::newRow("five redirects")
            << Raw(5, hop) + Raw{page} << QUrl() << Error::None << u"Bo"_s;
        QTest::newRow("a sixth refused")
            << Raw(6, hop) + Raw{page} << QUrl() << Error::Redirect << QString();
        QTest::newRow("silent server") << Raw() << QUrl() << Error::Timeout << QString();
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        QTest::newRow("refused") << Raw()
                                 << QUrl(u"http://127.0.0.1:%1/"_s.arg(closed.serverPort()))
                                 << Error::ConnectionRefused << QString();
        // ".invalid" never resolves; a resolver with no network says so at once.
        QTest::newRow("unknown host")
            << Raw() << QUrl(u"http://vindrik.invalid/"_s) << Error::HostNotFound << QString();
    }
    void fetchGivesTextOrNamedFailure()
    {
        QFETCH(Raw, responses);
        QFETCH(QUrl, url);
        QFETCH(Error, error);
        QFETCH(QString, text);

        QList<PageServer::Script> answers;
        for (QByteArray raw : responses)
            answers << PageServer::reply(raw.replace("PORT", QByteArray::number(server->port())));
        answers << PageServer::Script{}; // then silence
        server->serve(answers);
        DesktopPlatform::Limits limits;
        limits.transferTimeoutMs = 1500;
        QElapsedTimer clock;
        clock.start();
        const FetchResult result =
            DesktopPlatform(limits).fetchPage(url.isEmpty() ? pageUrl() : url);
        QCOMPARE(std::tuple(result.error, result.text), std::tuple(error, text));
        // The deadline may fire a little early; seconds late would be a fault.
        if (error == Error::Timeout)
            QVERIFY2(clock.elapsed() > 1350 && clock.elapsed() < 3500,
                     qPrintable(u"%1 ms"_s.arg(clock.elapsed())));
        if (error == Error::Redirect) // nothing fetched from where the sixth pointed
            QCOMPARE(server->requestCount(), 6);
    }
    void cancelOrQuitEndsStalledFetchPromptly()
    {
        for (const bool quit : {false, true}) {
            server->serve({PageServer::Script{}, PageServer::reply(PageServer::ok("hej"))});
            DesktopPlatform platform;
            FetchResult result;
            QElapsedTimer clock;
            // The fetch runs inside the application's own loop, as a poll does.
            QTimer::singleShot(0, this, [&] {
                clock.start();
                result = platform.fetchPage(pageUrl());
                QCoreApplication::quit();
            });
            QTimer::singleShot(300, this,
                               [&] { quit ? QCoreApplication::quit() : platform.cancelFetch(); });
            QApplication::exec();
            QCOMPARE(result.error, Error::Cancelled);
            QVERIFY2(clock.elapsed() < 2000, qPrintable(u"took %1 ms"_s.arg(clock.elapsed())));
            QCOMPARE(platform.fetchPage(pageUrl()).text, u"hej"_s); // and the next fetch works
        }
    }
};

QTEST_MAIN(TstDesktopFetch)
#include "tst_desktopfetch.moc"
