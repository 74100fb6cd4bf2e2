#include "chatserver.h"
#include "chatsite.h"
#include "desktopplatform.h"
#include "pagedecoder.h"
#include "pollcycle.h"
#include "scanner.h"

#include <QElapsedTimer>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// A December evening; any moment would do, but a fixed one keeps failures
// reproducible.
constexpr qint64 Evening = 1'765'051'200;

const QByteArray PageRequest = "GET /login/chat/users.asp HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

struct Answer {
    QByteArray statusLine;
    int status = 0;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
};

Answer parseAnswer(const QByteArray &raw)
{
    Answer answer;
    const qsizetype end = raw.indexOf("\r\n\r\n");
    if (end < 0)
        return answer;
    const QList<QByteArray> lines = raw.first(end).split('\n');
    answer.statusLine = lines.value(0).trimmed();
    const QList<QByteArray> parts = answer.statusLine.split(' ');
    if (parts.size() >= 2 && parts[0].startsWith("HTTP/1.1"))
        answer.status = parts[1].toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            answer.headers.insert(lines[i].first(colon).trimmed().toLower(),
                                  lines[i].sliced(colon + 1).trimmed());
    }
    answer.body = raw.sliced(end + 4);
    return answer;
}

// The body as strict UTF-8: a page in any other encoding fails here.
QString strictUtf8(const QByteArray &body)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(body);
    return decoder.hasError() ? u"<not UTF-8>"_s : text;
}

QStringList scan(const QString &page)
{
    ScanPositions positions;
    return Scanner::scanOnlineNames(page, positions);
}

bool hasNonAscii(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() > 127; });
}

// The in-process server answers only while the event loop runs, so the
// client side waits with qWaitFor, never with a blocking waitFor*().
bool connectTo(QTcpSocket &socket, quint16 port)
{
    socket.connectToHost(QHostAddress::LocalHost, port);
    return QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; }, 5000);
}

bool send(QTcpSocket &socket, const QByteArray &bytes)
{
    socket.write(bytes);
    return QTest::qWaitFor([&] { return socket.bytesToWrite() == 0; }, 5000);
}

// Reads until the server closes the connection.
QByteArray readToClose(QTcpSocket &socket)
{
    QByteArray received;
    const bool closed = QTest::qWaitFor(
        [&] {
            received += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        5000);
    received += socket.readAll();
    return closed ? received : received + "<still open>";
}

QByteArray exchange(quint16 port, const QList<QByteArray> &pieces)
{
    QTcpSocket socket;
    if (!connectTo(socket, port))
        return "<no connection>";
    for (const QByteArray &piece : pieces)
        send(socket, piece);
    return readToClose(socket);
}

} // namespace

class TstDemoChat : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void pageScansToExactlyWhoIsIn_data();
    void pageScansToExactlyWhoIsIn();
    void everyRegularComesAndGoesIntact_data();
    void everyRegularComesAndGoesIntact();
    void rosterStandsStillWithinASlotAndChangesBetween();
    void answersEachKindOfRequest_data();
    void answersEachKindOfRequest();

    void serverFollowsItsClockForTheRealClient();
    void serverWaitsForTheWholeRequestHead();
    void serverRefusesAnEndlessHead();
    void stalledClientDoesNotBlockOthers();

    void programAnnouncesItsAddressAndServes();
    void programFailsLoudlyWhenItCannotListen_data();
    void programFailsLoudlyWhenItCannotListen();
};

void TstDemoChat::pageScansToExactlyWhoIsIn_data()
{
    QTest::addColumn<qint64>("now");
    QTest::newRow("the epoch") << qint64(0);
    QTest::newRow("a December evening") << Evening;
    QTest::newRow("one slot later") << Evening + ChatSite::SlotSeconds;
    QTest::newRow("year 2100") << qint64(4'102'444'800);
    QTest::newRow("a second before the epoch") << qint64(-1);
}

void TstDemoChat::pageScansToExactlyWhoIsIn()
{
    QFETCH(qint64, now);
    const Answer answer = parseAnswer(ChatSite::respond(PageRequest, now));
    QCOMPARE(answer.statusLine, "HTTP/1.1 200 OK");
    QCOMPARE(answer.headers.value("content-type"), "text/html; charset=utf-8");
    QCOMPARE(answer.headers.value("content-length").toLongLong(), answer.body.size());
    QCOMPARE(answer.headers.value("connection"), "close");

    const QStringList online = ChatSite::onlineAt(now);
    QVERIFY(online.contains(ChatSite::AlwaysOnline));
    // Other links on the page must not add names, and no name may be cut.
    QCOMPARE(scan(strictUtf8(answer.body)), online);
    // What the program itself makes of the bytes and the header.
    QCOMPARE(scan(PageDecoder::decode(answer.body, answer.headers.value("content-type"))), online);
}

void TstDemoChat::everyRegularComesAndGoesIntact_data()
{
    QTest::addColumn<QString>("name");
    const QStringList regulars = ChatSite::regulars();
    // The demo is to show Swedish letters reaching the list unharmed.
    QVERIFY(std::count_if(regulars.cbegin(), regulars.cend(), hasNonAscii) >= 3);
    for (const QString &name : regulars)
        QTest::newRow(name.toUtf8().constData()) << name;
}

void TstDemoChat::everyRegularComesAndGoesIntact()
{
    QFETCH(QString, name);
    constexpr int Slots = 300;
    int present = 0;
    qint64 firstSeen = -1;
    for (int slot = 0; slot < Slots; ++slot) {
        const qint64 now = Evening + slot * ChatSite::SlotSeconds;
        if (ChatSite::onlineAt(now).contains(name)) {
            ++present;
            if (firstSeen < 0)
                firstSeen = now;
        }
    }
    if (name == ChatSite::AlwaysOnline) {
        QCOMPARE(present, Slots);
    } else {
        // Sometimes in, sometimes out, and neither by a wide margin.
        QVERIFY2(present > Slots / 10 && present < Slots * 9 / 10,
                 qPrintable(u"%1 was in %2 of %3 slots"_s.arg(name).arg(present).arg(Slots)));
    }

    const Answer answer = parseAnswer(ChatSite::respond(PageRequest, firstSeen));
    QVERIFY(answer.body.contains("valj='" + name.toUtf8() + "';\" >" + name.toUtf8() + "</a>"));
    QVERIFY(scan(strictUtf8(answer.body)).contains(name));
}

void TstDemoChat::rosterStandsStillWithinASlotAndChangesBetween()
{
    const qint64 slotStart = (Evening / ChatSite::SlotSeconds) * ChatSite::SlotSeconds;
    constexpr int Boundaries = 50;
    int changes = 0;
    for (int i = 0; i < Boundaries; ++i) {
        const qint64 start = slotStart + i * ChatSite::SlotSeconds;
        const QStringList roster = ChatSite::onlineAt(start);
        for (qint64 s = 1; s < ChatSite::SlotSeconds; ++s)
            QCOMPARE(ChatSite::onlineAt(start + s), roster);
        // The same moment always gives the same list.
        QCOMPARE(ChatSite::onlineAt(start), roster);
        if (ChatSite::onlineAt(start + ChatSite::SlotSeconds) != roster)
            ++changes;
    }
    // People come and go every few seconds, not now and then.
    QVERIFY2(changes >= Boundaries * 9 / 10, qPrintable(QString::number(changes)));
}

void TstDemoChat::answersEachKindOfRequest_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("withBody");

    const QByteArray host = "Host: 127.0.0.1\r\n\r\n";
    QTest::newRow("plain GET") << PageRequest << 200 << true;
    QTest::newRow("HTTP/1.0 client")
        << "GET /login/chat/users.asp HTTP/1.0\r\n\r\n"_ba << 200 << true;
    QTest::newRow("query string is ignored")
        << "GET /login/chat/users.asp?rum=1 HTTP/1.1\r\n"_ba + host << 200 << true;
    QTest::newRow("absolute-form target")
        << "GET http://127.0.0.1:47251/login/chat/users.asp HTTP/1.1\r\n"_ba + host << 200 << true;
    QTest::newRow("bare LF line ends")
        << "GET /login/chat/users.asp HTTP/1.1\nHost: 127.0.0.1\n\n"_ba << 200 << true;
    QTest::newRow("HEAD gives the headers only")
        << "HEAD /login/chat/users.asp HTTP/1.1\r\n"_ba + host << 200 << false;
    QTest::newRow("the chat's folder is 404")
        << "GET /login/chat/ HTTP/1.1\r\n"_ba + host << 404 << true;
    QTest::newRow("a longer name is 404")
        << "GET /login/chat/users.aspx HTTP/1.1\r\n"_ba + host << 404 << true;
    QTest::newRow("the path in other case is 404")
        << "GET /LOGIN/chat/users.asp HTTP/1.1\r\n"_ba + host << 404 << true;
    QTest::newRow("root is 404") << "GET / HTTP/1.1\r\n"_ba + host << 404 << true;
    QTest::newRow("HEAD of another path is 404 without body")
        << "HEAD /x HTTP/1.1\r\n"_ba + host << 404 << false;
    QTest::newRow("POST is refused")
        << "POST /login/chat/users.asp HTTP/1.1\r\n"_ba + host << 405 << true;
    QTest::newRow("methods are case-sensitive")
        << "get /login/chat/users.asp HTTP/1.1\r\n"_ba + host << 405 << true;
    QTest::newRow("no version") << "GET /login/chat/users.asp\r\n\r\n"_ba << 400 << true;
    QTest::newRow("blank request") << "\r\n\r\n"_ba << 400 << true;
    QTest::newRow("TLS hello on the plain port")
        << "\x16\x03\x01\x02\x00\x01\x00\r\n\r\n"_ba << 400 << true;
    QTest::newRow("HTTP/2 is not spoken")
        << "GET /login/chat/users.asp HTTP/2.0\r\n"_ba + host << 505 << true;
}

void TstDemoChat::answersEachKindOfRequest()
{
    QFETCH(QByteArray, head);
    QFETCH(int, status);
    QFETCH(bool, withBody);

    const Answer answer = parseAnswer(ChatSite::respond(head, Evening));
    QCOMPARE(answer.status, status);
    QCOMPARE(answer.headers.value("connection"), "close");
    QCOMPARE(answer.headers.value("content-type"), "text/html; charset=utf-8");
    const qint64 length = answer.headers.value("content-length").toLongLong();
    QVERIFY(length > 0);
    QCOMPARE(answer.body.size(), withBody ? length : 0);
    if (status == 405)
        QCOMPARE(answer.headers.value("allow"), "GET, HEAD");

    if (!withBody)
        return;
    // Only the user list names anyone; an error page must read as no list at all.
    QCOMPARE(scan(strictUtf8(answer.body)),
             status == 200 ? ChatSite::onlineAt(Evening) : QStringList());
}

void TstDemoChat::serverFollowsItsClockForTheRealClient()
{
    qint64 now = Evening;
    ChatServer server([&now] { return now; });
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    const QString host = u"127.0.0.1:%1"_s.arg(server.port());

    DesktopPlatform platform;
    FetchResult first = platform.fetchPage(userListUrl(host));
    QVERIFY2(first.ok(), qPrintable(describeFailure(first)));
    QCOMPARE(scan(first.text), ChatSite::onlineAt(now));

    const QStringList before = ChatSite::onlineAt(now);
    while (ChatSite::onlineAt(now) == before)
        now += ChatSite::SlotSeconds;
    FetchResult later = platform.fetchPage(userListUrl(host));
    QVERIFY(later.ok());
    QCOMPARE(scan(later.text), ChatSite::onlineAt(now));
    QVERIFY(scan(later.text) != before);

    const FetchResult elsewhere = platform.fetchPage(QUrl(u"http://%1/login/"_s.arg(host)));
    QCOMPARE(elsewhere.error, FetchResult::Error::HttpStatus);
    QCOMPARE(elsewhere.httpStatus, 404);
}

void TstDemoChat::serverWaitsForTheWholeRequestHead()
{
    ChatServer server([] { return Evening; });
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));

    QTcpSocket socket;
    QVERIFY(connectTo(socket, server.port()));
    // A request in pieces, as a slow line delivers it: no answer before the
    // blank line, and the answer then is for the whole path.
    for (const QByteArray &piece :
         {"GET /login/chat/us"_ba, "ers.asp HTTP/1.1\r\nHost: x\r\n"_ba}) {
        QVERIFY(send(socket, piece));
        QTest::qWait(150);
        QCOMPARE(socket.bytesAvailable(), 0);
        QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
    }
    QVERIFY(send(socket, "\r\n"));
    const QByteArray received = readToClose(socket);
    QCOMPARE(socket.state(), QAbstractSocket::UnconnectedState); // closed by the server
    const Answer answer = parseAnswer(received);
    QCOMPARE(answer.status, 200);
    QCOMPARE(scan(strictUtf8(answer.body)), ChatSite::onlineAt(Evening));
}

void TstDemoChat::serverRefusesAnEndlessHead()
{
    ChatServer server([] { return Evening; });
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    QByteArray head = "GET /login/chat/users.asp HTTP/1.1\r\n";
    while (head.size() <= ChatServer::MaxHeadBytes)
        head += "X-Filler: " + QByteArray(28, 'a') + "\r\n";
    const Answer answer = parseAnswer(exchange(server.port(), {head}));
    QCOMPARE(answer.status, 431);
    QVERIFY(scan(strictUtf8(answer.body)).isEmpty());
}

void TstDemoChat::stalledClientDoesNotBlockOthers()
{
    ChatServer server([] { return Evening; });
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    QTcpSocket stalled;
    QVERIFY(connectTo(stalled, server.port()));
    QVERIFY(send(stalled, "GET /login/chat/users.asp HTTP/1.1\r\n"));

    const Answer answer = parseAnswer(exchange(server.port(), {PageRequest}));
    QCOMPARE(answer.status, 200);
    QVERIFY(scan(strictUtf8(answer.body)).contains(ChatSite::AlwaysOnline));
}

void TstDemoChat::programAnnouncesItsAddressAndServes()
{
    QProcess demo;
    demo.start(QStringLiteral(DEMOCHAT_EXECUTABLE), {u"--port"_s, u"0"_s});
    QVERIFY2(demo.waitForStarted(5000), qPrintable(demo.errorString()));
    QElapsedTimer clock;
    clock.start();
    while (!demo.canReadLine() && demo.state() == QProcess::Running && clock.elapsed() < 10'000)
        demo.waitForReadyRead(100);
    const QString line = QString::fromUtf8(demo.readLine()).trimmed();
    const QRegularExpressionMatch match =
        QRegularExpression(u"http://127\\.0\\.0\\.1:(\\d+)/login/chat/users\\.asp$"_s).match(line);
    QVERIFY2(match.hasMatch(),
             qPrintable(line + QString::fromLocal8Bit(demo.readAllStandardError())));
    const quint16 port = match.captured(1).toUShort();
    QVERIFY(port != 0);

    DesktopPlatform platform;
    const FetchResult page = platform.fetchPage(userListUrl(u"127.0.0.1:%1"_s.arg(port)));
    QVERIFY2(page.ok(), qPrintable(describeFailure(page)));
    QVERIFY(scan(page.text).contains(ChatSite::AlwaysOnline));

    demo.terminate();
    QVERIFY(demo.waitForFinished(5000));
}

void TstDemoChat::programFailsLoudlyWhenItCannotListen_data()
{
    QTest::addColumn<QString>("port"); // empty: a port that is taken
    QTest::addColumn<int>("exitCode");
    QTest::newRow("port already taken") << QString() << 1;
    QTest::newRow("not a number") << u"abc"_s << 2;
    QTest::newRow("past the last port") << u"65536"_s << 2;
    QTest::newRow("negative") << u"-1"_s << 2;
}

void TstDemoChat::programFailsLoudlyWhenItCannotListen()
{
    QFETCH(QString, port);
    QFETCH(int, exitCode);
    QTcpServer occupant;
    if (port.isEmpty()) {
        QVERIFY(occupant.listen(QHostAddress::LocalHost, 0));
        port = QString::number(occupant.serverPort());
    }
    QProcess demo;
    demo.start(QStringLiteral(DEMOCHAT_EXECUTABLE), {u"--port"_s, port});
    const bool finished = demo.waitForFinished(10'000);
    if (!finished)
        demo.kill();
    QVERIFY2(finished, "demochat kept running without a place to listen");
    QCOMPARE(demo.exitStatus(), QProcess::NormalExit);
    QCOMPARE(demo.exitCode(), exitCode);
    QVERIFY(demo.readAllStandardOutput().isEmpty());
    QVERIFY(!demo.readAllStandardError().trimmed().isEmpty());
}

QTEST_MAIN(TstDemoChat)
#include "tst_demochat.moc"
