// The real window and platform against servers that misbehave or answer in
// odd but valid ways. Each poll must end in time, say what happened, raise no
// alert from garbage, and leave watching on with the next poll on time.

#include "hardeningsupport.h"

#include <QApplication>
#include <QLineEdit>
#include <QStringEncoder>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using namespace Hardening;
using Response = HttpTestServer::Response;

Q_DECLARE_METATYPE(HttpTestServer::Response)

namespace {

Response sent(const QByteArray &raw)
{
    return Response{raw};
}

constexpr int TimeoutMs = 2000;
constexpr qint64 MaxBody = 1024 * 1024;
// A poll may overrun the transfer limit by this much, for the work around it.
constexpr int MarginMs = 1500;

// A 200 response in UTF-8 with the header lines given.
Response utf8(const QByteArray &headers, const QByteArray &body)
{
    return sent("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n" + headers + "\r\n" +
                body);
}

Response withLength(const QByteArray &headers, const QByteArray &body, qsizetype length)
{
    return utf8(headers + "Content-Length: " + QByteArray::number(length) + "\r\n", body);
}

Response closedAfter(const QByteArray &headers, const QByteArray &body)
{
    return sent("HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n" + headers + "\r\n" +
                body);
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
    void answerIsReadRightOrFailsWithoutAlertsAndWatchingGoesOn_data();
    void answerIsReadRightOrFailsWithoutAlertsAndWatchingGoesOn();
    void hugeRosterAndHugeNamesAreListedIntactAndMatched();

private:
    HttpTestServer m_server;
    HttpTestServer m_otherHost;
};

void TstHostileServer::initTestCase()
{
    quietHeadlessNoise();
    QVERIFY(m_server.listen());
    QVERIFY2(m_otherHost.listen(QHostAddress(u"127.0.0.2"_s)), "127.0.0.2 is not loopback here");
    // Were a redirect there followed, this would list the trap names.
    m_otherHost.setFallback(sent(HttpTestServer::ok(TrapPage)));
}

void TstHostileServer::answerIsReadRightOrFailsWithoutAlertsAndWatchingGoesOn_data()
{
    QTest::addColumn<QList<Response>>("script"); // served in turn, over and over
    QTest::addColumn<QString>("reason");         // why the poll fails, if it does
    QTest::addColumn<QStringList>("names");

    const auto fails = [](const char *row, const QList<Response> &script, const QString &reason) {
        QTest::newRow(row) << script << reason << QStringList();
    };
    const auto reads = [](const char *row, const QList<Response> &script,
                          const QStringList &names) {
        QTest::newRow(row) << script << QString() << names;
    };
    const QString timedOut = u"tidsgränsen överskreds"_s;
    const QString cut = u"svaret bröts av i förtid"_s;
    const QString redirected = u"sidan omdirigerades för många gånger eller till en annan värd"_s;
    const QByteArray gzip = "Content-Encoding: gzip\r\n";
    const QByteArray chunked = "Transfer-Encoding: chunked\r\n";

    Response everyByteSlow{HttpTestServer::ok(TrapPage), Response::Mode::Trickle};
    everyByteSlow.trickleMs = 1000;
    fails("server trickles one byte a second from the first", {everyByteSlow}, timedOut);
    Response bodySlow = everyByteSlow;
    bodySlow.trickleAfter = bodySlow.raw.indexOf("\r\n\r\n") + 4 + 40;
    fails("head at once, then the body one byte a second", {bodySlow}, timedOut);

    // Stops in the middle of "Märta", after an empty name.
    const QByteArray cutPage =
        pageOf({link(""), link("Åsa")}).chopped(15) + "<a href=\"#\" onclick=\"valj='x';\" >Mär";
    fails("body cut off in the middle of a name", {withLength({}, cutPage, cutPage.size() + 200)},
          cut);
    fails("chunked body cut off in the middle of a name",
          {utf8(chunked, chunkedBody(cutPage, 16).chopped(5))}, cut);
    // Long enough that the first half of it unpacks to the trap names.
    QList<QByteArray> manyLinks{link(""), link("Mär")};
    for (int i = 0; i < 300; ++i)
        manyLinks << link("Gäst" + QByteArray::number(i * 7919 % 10007));
    const QByteArray packedTraps = gzipped(pageOf(manyLinks));
    const QByteArray half = packedTraps.first(packedTraps.size() / 2);
    fails("gzip body cut off in the middle", {withLength(gzip, half, packedTraps.size())}, cut);
    fails("gzip body ended by close in the middle", {closedAfter(gzip, half)}, cut);
    fails("body labelled gzip that is not", {withLength(gzip, TrapPage, TrapPage.size())},
          u"nätverksfel (trasigt gzip-innehåll)"_s);
    fails("encoding that was not asked for",
          {withLength("Content-Encoding: br\r\n", TrapPage, TrapPage.size())},
          u"nätverksfel (okänd innehållskodning br)"_s);
    fails("server closes without a word", {Response{{}, Response::Mode::CloseNow}}, cut);

    fails("redirect loop", {redirect("/a"), redirect("/login/chat/users.asp")}, redirected);
    fails("redirect to another host", {redirect(m_otherHost.url().toEncoded())}, redirected);
    fails("error status with a page of names",
          {sent(HttpTestServer::status(500, "Internal Server Error", TrapPage))},
          u"servern svarade med HTTP-status 500"_s);
    Response overLimit = utf8("Connection: close\r\n", {});
    overLimit.mode = Response::Mode::Stream;
    overLimit.streamBytes = MaxBody + 1;
    overLimit.streamPattern = TrapPage;
    fails("body one byte over the size limit, no length given", {overLimit},
          u"sidan var för stor"_s);

    const QByteArray packed = gzipped(GoodPage);
    const QByteArray twoMembers = gzipped(GoodPage.first(100)) + gzipped(GoodPage.sliced(100));
    reads("chunks that split names and UTF-8 sequences", {utf8(chunked, chunkedBody(GoodPage, 7))},
          GoodNames);
    reads("HTTP/1.0 body ended by closing the connection", {closedAfter({}, GoodPage)}, GoodNames);
    reads("gzip-encoded body", {withLength(gzip, packed, packed.size())}, GoodNames);
    reads("gzip body of two members", {withLength(gzip, twoMembers, twoMembers.size())}, GoodNames);
    reads("gzip-encoded body in chunks", {utf8(gzip + chunked, chunkedBody(packed, 5))}, GoodNames);
    // Without a length the close is the only end there is, so the page is
    // whole as far as anyone can tell; the name cut off has no end marker.
    reads("body ended by close in the middle of a name",
          {closedAfter({}, pageOf({link("Åsa"), link("Björn")}) +
                               "<a href=\"#\" onclick=\"valj='x';\" >Mär")},
          {u"Åsa"_s, u"Björn"_s});
    const QByteArray nul(1, '\0');
    reads("NUL bytes in, around and as names",
          {sent(HttpTestServer::ok(
              pageOf({link("Mär" + nul), nul + nul + nul, link(nul), link("Märta"), nul})))},
          {u"Mär"_s + QChar(0), QString(QChar(0)), u"Märta"_s});
    // Read as declared, a bad byte becomes U+FFFD; a decoder that dropped it
    // would make "\xFF" the empty name, which row 0 matches.
    reads("invalid UTF-8 in a page declared UTF-8",
          {sent(HttpTestServer::ok(
              pageOf({link("M\xE4r"), link("\xFF"), link("Åsa\xC3"), link("Märta")})))},
          {u"M\uFFFDr"_s, u"\uFFFD"_s, u"Åsa\uFFFD"_s, u"Märta"_s});
    QStringEncoder toCp1252("windows-1252");
    reads("charsets nobody knows in header and meta, windows-1252 bytes",
          {sent(HttpTestServer::ok(
              "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=bogus-1\">" +
                  toCp1252.encode(QString::fromUtf8(GoodPage)),
              "text/html; charset=x-finns-inte"))},
          GoodNames);
}

void TstHostileServer::answerIsReadRightOrFailsWithoutAlertsAndWatchingGoesOn()
{
    QFETCH(QList<Response>, script);
    QFETCH(QString, reason);
    QFETCH(QStringList, names);
    const QString outcome = reason.isEmpty() ? u"%1 personer online"_s.arg(names.size())
                                             : u"kunde inte nå chattsidan – "_s + reason;

    auto served = std::make_shared<qsizetype>(0);
    m_server.setResponder(
        [script, served](const QByteArray &) { return script.at((*served)++ % script.size()); });
    m_otherHost.clearRequests();
    Window window(userListUrl(m_server.hostAndPort()), {TimeoutMs, MaxBody});
    window.watchTraps();
    BoxDismisser boxes;

    const qint64 took = window.tick();

    QVERIFY2(took < TimeoutMs + MarginMs, qPrintable(u"the poll took %1 ms"_s.arg(took)));
    // The deadline timer may fire a little early, never much.
    if (reason == u"tidsgränsen överskreds"_s)
        QVERIFY2(took >= TimeoutMs * 9 / 10, qPrintable(u"gave up after %1 ms"_s.arg(took)));
    QCOMPARE(window.outcome(), outcome);
    QCOMPARE(window.listed(), names);
    QCOMPARE(boxes.texts,
             names.contains(u"Märta"_s) ? QStringList{u"Märta"_s + Suffix} : QStringList());
    QCOMPARE(window.platform.beeps + window.platform.sounds, 0);
    QCOMPARE(m_otherHost.requests().size(), 0);
    expectWatchingGoesOn(window, m_server, boxes);
}

void TstHostileServer::hugeRosterAndHugeNamesAreListedIntactAndMatched()
{
    constexpr int Guests = 100'000;
    const QString huge = u"Björn-Åsa "_s.repeated(110'000).first(1024 * 1024);
    // Far past a line edit's default 32,767 characters. Not the megabyte one:
    // a message box lays out such a text at about 9 s a megabyte.
    const QString longName = u"Märta-Göran "_s.repeated(5'000).first(50'000);
    QStringList names;
    QList<QByteArray> links;
    for (int i = 1; i <= Guests; ++i) {
        names << u"Gäst%1"_s.arg(i, 6, 10, QChar(u'0'));
        links << link(names.back().toUtf8());
    }
    names << huge << longName << u"Märta"_s;
    links << link(huge.toUtf8()) << link(longName.toUtf8()) << link("Märta");
    const QByteArray page = pageOf(links);
    m_server.setResponder([page](const QByteArray &) { return sent(HttpTestServer::ok(page)); });

    Window window(userListUrl(m_server.hostAndPort()), {TimeoutMs, 16 * MaxBody});
    window.watch(0, QString(), {"chkPopup", "chkPip"});
    window.watch(1, names.front(), {"ChkLjud"});
    window.watch(2, longName, {"chkPopup"});
    window.watch(3, u"Märta"_s, {"chkPopup"});
    // What a nick field cut at the default limit would hold: must not match.
    window.watch(4, longName.first(32767), {"chkPopup", "chkPip"});
    QVERIFY(window.form->findChild<QLineEdit *>(u"txtNick2"_s)->text() == longName);
    window.combo->setEditText(u"1"_s);
    window.button->click();
    BoxDismisser boxes;

    const qint64 took = window.tick();
    qInfo("100,000 names, one of 1 MiB: %lld bytes in %lld ms", qint64(page.size()), took);

    QVERIFY2(took < TimeoutMs + 10000, qPrintable(u"the poll took %1 ms"_s.arg(took)));
    QCOMPARE(window.outcome(), u"%1 personer online"_s.arg(names.size()));
    QVERIFY(window.listed() == names);
    // The list is walked to its last name.
    QTRY_COMPARE(window.list->currentRow(), names.size() - 1);
    QVERIFY(boxes.texts == QStringList({longName + Suffix, u"Märta"_s + Suffix}));
    QCOMPARE(window.platform.beeps, 0);
    QCOMPARE(window.platform.sounds, 1);

    const qsizetype served = m_server.requests().size();
    QTRY_VERIFY_WITH_TIMEOUT(m_server.requests().size() > served, 1000 + 1500);
}

QTEST_MAIN(TstHostileServer)
#include "tst_hostileserver.moc"
