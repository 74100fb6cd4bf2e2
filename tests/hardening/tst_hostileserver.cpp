// The real window on the real desktop platform against servers that misbehave
// or answer in odd but valid ways. Each poll must end within the transfer
// limit, say on the status line what happened, raise no alert from garbage,
// and leave watching on with the next poll coming on time.

#include "hardeningsupport.h"
#include "httptestserver.h"
#include "timer.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QStringEncoder>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using namespace Hardening;
using Response = HttpTestServer::Response;

Q_DECLARE_METATYPE(HttpTestServer::Response)

namespace {

constexpr int TimeoutMs = 2000;
constexpr qint64 MaxBody = 1024 * 1024;
// A poll may overrun the transfer limit by this much, for the work around it.
constexpr int MarginMs = 1500;
const QString StopCaption = u"&Stoppa programmet"_s;
const QString Suffix = u" har kommit in på Vindriks chatt"_s;
const QString Fragment = u"Mär"_s;

DesktopPlatform::Limits limits(qint64 maxBody = MaxBody)
{
    DesktopPlatform::Limits l;
    l.transferTimeoutMs = TimeoutMs;
    l.maxBodyBytes = maxBody;
    l.maxRedirects = 5;
    return l;
}

QByteArray utf8Head(const QByteArray &extra = {})
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n" + extra;
}

const QByteArray GoodPage = pageOf({link("Åsa"), link("Björn"), link("Märta"), link("Göran")});
const QStringList GoodNames{u"Åsa"_s, u"Björn"_s, u"Märta"_s, u"Göran"_s};

// Names the traps of every window match: an empty name (row 0), a fragment
// (row 1) and a real one (row 2). Any of them listed from a failed fetch
// raises an alert.
const QByteArray TrapPage = pageOf({link(""), link("Mär"), link("Märta")});
// Stops in the middle of "Märta", after an empty name.
const QByteArray CutPage =
    pageOf({link(""), link("Åsa")}).chopped(15) + "<a href=\"#\" onclick=\"valj='x';\" >Mär";

QByteArray cp1252(const QString &text)
{
    QStringEncoder encoder("windows-1252");
    return encoder.encode(text);
}

Response sent(const QByteArray &raw)
{
    return Response{raw};
}

Response redirect(const QByteArray &location)
{
    return sent("HTTP/1.1 302 Found\r\nLocation: " + location +
                "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
}

} // namespace

class TstHostileServer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void failingServerNeitherHangsNorAlertsAndWatchingGoesOn_data();
    void failingServerNeitherHangsNorAlertsAndWatchingGoesOn();
    void oddButValidBodyListsTheRealNamesOnly_data();
    void oddButValidBodyListsTheRealNamesOnly();
    void hundredThousandNamesAreAllListedCountedAndWalked();
    void megabyteNameIsListedIntactAndLongNickMatchesItsName();

private:
    // Serves the script in turn, over and over, on the main server.
    void serve(const QList<Response> &script);
    // Runs one poll against the script with the traps set, checks it ended in
    // time and on the given status, then checks that watching went on: the
    // next tick of Timer1 comes within the interval from the box and lists the
    // good page. Returns the alerts the first poll raised.
    void pollThenRecover(const QList<Response> &script, const QString &statusRegex, bool timesOut,
                         QStringList *firstPollBoxes, int *beeps, int *sounds,
                         QStringList *firstPollListed);

    std::unique_ptr<HttpTestServer> m_server;
    std::unique_ptr<HttpTestServer> m_otherHost;
};

void TstHostileServer::initTestCase()
{
    quietHeadlessNoise();
    m_server = std::make_unique<HttpTestServer>();
    QVERIFY(m_server->listen());
    m_otherHost = std::make_unique<HttpTestServer>();
    QVERIFY2(m_otherHost->listen(QHostAddress(u"127.0.0.2"_s)), "127.0.0.2 is not loopback here");
    // Were a redirect there followed, this would list the trap names.
    m_otherHost->setFallback(sent(HttpTestServer::ok(TrapPage)));
}

void TstHostileServer::cleanup()
{
    QStringList open;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible())
            open << QString::fromLatin1(widget->metaObject()->className());
    }
    QVERIFY2(open.isEmpty(), qPrintable(open.join(u", ")));
    m_server->setResponder({});
    m_server->clearRequests();
    m_otherHost->clearRequests();
}

void TstHostileServer::serve(const QList<Response> &script)
{
    auto served = std::make_shared<qsizetype>(0);
    m_server->setResponder(
        [script, served](const QByteArray &) { return script.at((*served)++ % script.size()); });
}

void TstHostileServer::pollThenRecover(const QList<Response> &script, const QString &statusRegex,
                                       bool timesOut, QStringList *firstPollBoxes, int *beeps,
                                       int *sounds, QStringList *firstPollListed)
{
    serve(script);
    Window window(userListUrl(m_server->hostAndPort()), limits());
    QVERIFY(window.timer1 && window.status && window.list && window.button && window.combo);
    window.watch(0, QString(), {"chkPopup", "chkPip"});
    window.watch(1, Fragment, {"chkPopup", "ChkLjud"});
    window.watch(2, u"Märta"_s, {"chkPopup"});
    window.combo->setEditText(u"1"_s);
    window.clickStartStop();
    BoxDismisser boxes;

    const qint64 took = window.tick();

    QVERIFY2(took < TimeoutMs + MarginMs, qPrintable(u"the poll took %1 ms"_s.arg(took)));
    if (timesOut) {
        // The deadline timer may fire a little early, never much.
        QVERIFY2(took >= TimeoutMs * 9 / 10, qPrintable(u"gave up after %1 ms"_s.arg(took)));
    }
    QVERIFY2(QRegularExpression(statusRegex).match(window.status->text()).hasMatch(),
             qPrintable(window.status->text()));
    *firstPollBoxes = boxes.texts();
    *beeps = window.platform.beeps;
    *sounds = window.platform.sounds;
    *firstPollListed = listed(window.list);

    // Watching goes on, at the pace the box asks for.
    QCOMPARE(window.button->text(), StopCaption);
    QVERIFY(window.timer1->isRunning());
    QCOMPARE(window.timer1->interval(), 1000);

    const qsizetype served = m_server->requests().size();
    m_server->setResponder([](const QByteArray &) { return sent(HttpTestServer::ok(GoodPage)); });
    boxes.seen.clear();
    window.platform.beeps = window.platform.sounds = 0;
    // The next tick falls due at most one interval after this poll ended.
    QTRY_VERIFY_WITH_TIMEOUT(m_server->requests().size() > served, 1000 + 600);
    QTRY_VERIFY2_WITH_TIMEOUT(QRegularExpression(statusPattern(u"4 personer online"_s))
                                  .match(window.status->text())
                                  .hasMatch(),
                              qPrintable(window.status->text()), 1000);
    QCOMPARE(listed(window.list), GoodNames);
    QCOMPARE(boxes.texts(), QStringList{u"Märta"_s + Suffix});
    QCOMPARE(window.platform.beeps, 0);
    QCOMPARE(window.platform.sounds, 0);
    QVERIFY(window.timer1->isRunning());

    window.clickStartStop();
    QVERIFY(!window.timer1->isRunning());
}

void TstHostileServer::failingServerNeitherHangsNorAlertsAndWatchingGoesOn_data()
{
    QTest::addColumn<QList<Response>>("script");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("timesOut");

    const QByteArray trapResponse = HttpTestServer::ok(TrapPage);
    Response everyByteSlow{trapResponse, Response::Mode::Trickle};
    everyByteSlow.trickleMs = 1000;
    QTest::newRow("server trickles one byte a second from the first")
        << QList<Response>{everyByteSlow} << u"tidsgränsen överskreds"_s << true;

    Response bodySlow = everyByteSlow;
    bodySlow.trickleAfter = trapResponse.indexOf("\r\n\r\n") + 4 + 40;
    QTest::newRow("head at once, then the body one byte a second")
        << QList<Response>{bodySlow} << u"tidsgränsen överskreds"_s << true;

    QTest::newRow("body cut off in the middle of a name")
        << QList<Response>{sent(utf8Head("Content-Length: " +
                                         QByteArray::number(CutPage.size() + 200) + "\r\n\r\n") +
                                CutPage)}
        << u"svaret bröts av i förtid"_s << false;

    QTest::newRow("chunked body cut off in the middle of a name")
        << QList<Response>{sent(utf8Head("Transfer-Encoding: chunked\r\n\r\n") +
                                chunkedBody(CutPage, 16).chopped(5))}
        << u"svaret bröts av i förtid"_s << false;

    // Long enough that the first half of it unpacks to the trap names.
    QList<QByteArray> manyLinks{link(""), link("Mär")};
    for (int i = 0; i < 300; ++i)
        manyLinks << link("Gäst" + QByteArray::number(i * 7919 % 10007));
    const QByteArray packed = gzipped(pageOf(manyLinks));
    QTest::newRow("gzip body cut off in the middle")
        << QList<Response>{sent(utf8Head("Content-Encoding: gzip\r\nContent-Length: " +
                                         QByteArray::number(packed.size()) + "\r\n\r\n") +
                                packed.first(packed.size() / 2))}
        << u"svaret bröts av i förtid"_s << false;
    QTest::newRow("gzip body ended by close in the middle")
        << QList<Response>{sent("HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                                "Content-Encoding: gzip\r\n\r\n" +
                                packed.first(packed.size() / 2))}
        << u"svaret bröts av i förtid"_s << false;
    QTest::newRow("body labelled gzip that is not")
        << QList<Response>{sent(utf8Head("Content-Encoding: gzip\r\nContent-Length: " +
                                         QByteArray::number(TrapPage.size()) + "\r\n\r\n") +
                                TrapPage)}
        << u"nätverksfel (trasigt gzip-innehåll)"_s << false;
    QTest::newRow("encoding that was not asked for")
        << QList<Response>{sent(utf8Head("Content-Encoding: br\r\nContent-Length: " +
                                         QByteArray::number(TrapPage.size()) + "\r\n\r\n") +
                                TrapPage)}
        << u"nätverksfel (okänd innehållskodning br)"_s << false;

    QTest::newRow("redirect loop")
        << QList<Response>{redirect("/a"), redirect("/login/chat/users.asp")}
        << u"sidan omdirigerades för många gånger eller till en annan värd"_s << false;

    QTest::newRow("redirect to another host")
        << QList<Response>{redirect(m_otherHost->url().toEncoded())}
        << u"sidan omdirigerades för många gånger eller till en annan värd"_s << false;

    QTest::newRow("error status with a page of names")
        << QList<Response>{sent(HttpTestServer::status(500, "Internal Server Error", TrapPage))}
        << u"servern svarade med HTTP-status 500"_s << false;

    Response overLimit{utf8Head("Connection: close\r\n\r\n"), Response::Mode::Stream};
    overLimit.streamBytes = MaxBody + 1;
    overLimit.streamPattern = TrapPage;
    QTest::newRow("body one byte over the size limit, no length given")
        << QList<Response>{overLimit} << u"sidan var för stor"_s << false;

    QTest::newRow("server closes without a word")
        << QList<Response>{Response{{}, Response::Mode::CloseNow}} << u"svaret bröts av i förtid"_s
        << false;
}

void TstHostileServer::failingServerNeitherHangsNorAlertsAndWatchingGoesOn()
{
    QFETCH(QList<Response>, script);
    QFETCH(QString, reason);
    QFETCH(bool, timesOut);

    QStringList boxes;
    QStringList names;
    int beeps = -1;
    int sounds = -1;
    pollThenRecover(script, failurePattern(reason), timesOut, &boxes, &beeps, &sounds, &names);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(boxes, QStringList());
    QCOMPARE(beeps, 0);
    QCOMPARE(sounds, 0);
    QCOMPARE(names, QStringList());
    QCOMPARE(m_otherHost->requests().size(), 0);
}

void TstHostileServer::oddButValidBodyListsTheRealNamesOnly_data()
{
    QTest::addColumn<QList<Response>>("script");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("chunks that split names and UTF-8 sequences")
        << QList<Response>{sent(utf8Head("Transfer-Encoding: chunked\r\n\r\n") +
                                chunkedBody(GoodPage, 7))}
        << GoodNames;
    QTest::newRow("HTTP/1.0 body ended by closing the connection")
        << QList<Response>{sent(
               "HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n" + GoodPage)}
        << GoodNames;
    const QByteArray packed = gzipped(GoodPage);
    QTest::newRow("gzip-encoded body")
        << QList<Response>{sent(utf8Head("Content-Encoding: gzip\r\nContent-Length: " +
                                         QByteArray::number(packed.size()) + "\r\n\r\n") +
                                packed)}
        << GoodNames;
    const QByteArray twoMembers = gzipped(GoodPage.first(100)) + gzipped(GoodPage.sliced(100));
    QTest::newRow("gzip body of two members")
        << QList<Response>{sent(utf8Head("Content-Encoding: gzip\r\nContent-Length: " +
                                         QByteArray::number(twoMembers.size()) + "\r\n\r\n") +
                                twoMembers)}
        << GoodNames;
    QTest::newRow("gzip-encoded body in chunks")
        << QList<Response>{sent(
               utf8Head("Content-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n") +
               chunkedBody(packed, 5))}
        << GoodNames;

    // Without a length the close is the only end there is, so the page is
    // whole as far as anyone can tell; the name cut off has no end marker.
    QTest::newRow("body ended by close in the middle of a name")
        << QList<Response>{sent(
               "HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n" +
               pageOf({link("Åsa"), link("Björn")}) + "<a href=\"#\" onclick=\"valj='x';\" >Mär")}
        << QStringList{u"Åsa"_s, u"Björn"_s};

    const QByteArray nul(1, '\0');
    QTest::newRow("NUL bytes in, around and as names")
        << QList<Response>{sent(HttpTestServer::ok(
               pageOf({link("Mär" + nul), nul + nul + nul, link(nul), link("Märta"), nul})))}
        << QStringList{u"Mär"_s + QChar(0), QString(QChar(0)), u"Märta"_s};

    // Read as declared, a bad byte becomes U+FFFD; a decoder that dropped it
    // would make "\xFF" the empty name, which row 0 matches.
    QTest::newRow("invalid UTF-8 in a page declared UTF-8")
        << QList<Response>{sent(HttpTestServer::ok(
               pageOf({link("M\xE4r"), link("\xFF"), link("Åsa\xC3"), link("Märta")})))}
        << QStringList{u"M\uFFFDr"_s, u"\uFFFD"_s, u"Åsa\uFFFD"_s, u"Märta"_s};

    QTest::newRow("undeclared page that is not UTF-8 is read as windows-1252")
        << QList<Response>{sent(HttpTestServer::ok(
               pageOf({link(cp1252(u"Björn"_s)), link(cp1252(u"Åsa"_s)), link(cp1252(u"Märta"_s))}),
               "text/html"))}
        << QStringList{u"Björn"_s, u"Åsa"_s, u"Märta"_s};

    QTest::newRow("charset nobody knows, UTF-8 bytes")
        << QList<Response>{sent(HttpTestServer::ok(GoodPage, "text/html; charset=x-finns-inte"))}
        << GoodNames;
    QTest::newRow("charset nobody knows, windows-1252 bytes")
        << QList<Response>{sent(HttpTestServer::ok(cp1252(QString::fromUtf8(GoodPage)),
                                                   "text/html; charset=x-finns-inte"))}
        << GoodNames;
    QTest::newRow("meta tag naming a charset nobody knows")
        << QList<Response>{sent(HttpTestServer::ok(
               "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=bogus-1\">" +
                   GoodPage,
               "text/html"))}
        << GoodNames;
}

void TstHostileServer::oddButValidBodyListsTheRealNamesOnly()
{
    QFETCH(QList<Response>, script);
    QFETCH(QStringList, names);

    QStringList expectedBoxes;
    for (const QString &name : names) {
        if (name == u"Märta"_s)
            expectedBoxes << name + Suffix;
    }

    QStringList boxes;
    QStringList listedNames;
    int beeps = -1;
    int sounds = -1;
    pollThenRecover(script,
                    statusPattern(names.size() == 1 ? u"1 person online"_s
                                                    : u"%1 personer online"_s.arg(names.size())),
                    false, &boxes, &beeps, &sounds, &listedNames);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(listedNames, names);
    QCOMPARE(boxes, expectedBoxes);
    QCOMPARE(beeps, 0);
    QCOMPARE(sounds, 0);
}

void TstHostileServer::hundredThousandNamesAreAllListedCountedAndWalked()
{
    constexpr int Count = 100'000;
    QStringList names;
    QList<QByteArray> links;
    names.reserve(Count);
    links.reserve(Count);
    for (int i = 1; i <= Count; ++i) {
        names << u"Gäst%1"_s.arg(i, 6, 10, QChar(u'0'));
        links << link(names.back().toUtf8());
    }
    const QByteArray page = pageOf(links);
    m_server->setResponder([page](const QByteArray &) { return sent(HttpTestServer::ok(page)); });

    Window window(userListUrl(m_server->hostAndPort()), limits(16 * MaxBody));
    window.watch(0, QString(), {"chkPopup", "chkPip"});
    window.watch(2, names.back(), {"chkPopup"});
    window.watch(3, names.front(), {"ChkLjud"});
    window.combo->setEditText(u"1"_s);
    window.clickStartStop();
    BoxDismisser boxes;

    const qint64 took = window.tick();
    qInfo("100,000 names (%lld bytes): the poll took %lld ms", qint64(page.size()), took);

    QVERIFY2(took < TimeoutMs + 10000, qPrintable(u"the poll took %1 ms"_s.arg(took)));
    QVERIFY2(QRegularExpression(statusPattern(u"100000 personer online"_s))
                 .match(window.status->text())
                 .hasMatch(),
             qPrintable(window.status->text()));
    QCOMPARE(window.list->count(), Count);
    QVERIFY(listed(window.list) == names);
    QTRY_COMPARE(window.list->currentRow(), Count - 1);
    QCOMPARE(boxes.texts(), QStringList{names.back() + Suffix});
    QCOMPARE(window.platform.beeps, 0);
    QCOMPARE(window.platform.sounds, 1);

    const qsizetype served = m_server->requests().size();
    QTRY_VERIFY_WITH_TIMEOUT(m_server->requests().size() > served, 1000 + 1500);
    QVERIFY(window.timer1->isRunning());
    window.clickStartStop();
}

void TstHostileServer::megabyteNameIsListedIntactAndLongNickMatchesItsName()
{
    const auto repeated = [](const QString &unit, qsizetype size) {
        QString text;
        while (text.size() < size)
            text += unit;
        text.truncate(size);
        return text;
    };
    const QString huge = repeated(u"Björn-Åsa "_s, 1024 * 1024);
    // Far past a line edit's default 32,767 characters. Not the megabyte one:
    // a message box lays out such a text at about 9 s a megabyte.
    const QString longName = repeated(u"Märta-Göran "_s, 50'000);
    const QByteArray page =
        pageOf({link("Åsa"), link(huge.toUtf8()), link(longName.toUtf8()), link("Märta")});
    m_server->setResponder([page](const QByteArray &) { return sent(HttpTestServer::ok(page)); });

    Window window(userListUrl(m_server->hostAndPort()), limits(4 * MaxBody));
    window.watch(0, QString(), {"chkPopup", "chkPip"});
    window.watch(1, longName, {"chkPopup", "ChkLjud"});
    window.watch(2, u"Märta"_s, {"chkPopup"});
    // What a nick field cut at the default limit would hold: must not match.
    window.watch(3, longName.first(32767), {"chkPopup", "chkPip"});
    QVERIFY(window.nick(1)->text() == longName);
    window.combo->setEditText(u"1"_s);
    window.clickStartStop();
    BoxDismisser boxes;

    const qint64 took = window.tick();
    qInfo("names of 1 MiB and 50,000 characters: the poll took %lld ms", took);

    QVERIFY2(took < TimeoutMs + 10000, qPrintable(u"the poll took %1 ms"_s.arg(took)));
    QVERIFY2(QRegularExpression(statusPattern(u"4 personer online"_s))
                 .match(window.status->text())
                 .hasMatch(),
             qPrintable(window.status->text()));
    QCOMPARE(window.list->count(), 4);
    QVERIFY(window.list->item(1)->text() == huge);
    QVERIFY(window.list->item(2)->text() == longName);
    QCOMPARE(boxes.seen.size(), 2);
    QVERIFY(boxes.seen[0].text == longName + Suffix);
    QCOMPARE(boxes.seen[1].text, u"Märta"_s + Suffix);
    QCOMPARE(window.platform.beeps, 0);
    QCOMPARE(window.platform.sounds, 1);

    const qsizetype served = m_server->requests().size();
    QTRY_VERIFY_WITH_TIMEOUT(m_server->requests().size() > served, 1000 + 1500);
    QVERIFY(window.timer1->isRunning());
    window.clickStartStop();
}

QTEST_MAIN(TstHostileServer)
#include "tst_hostileserver.moc"
