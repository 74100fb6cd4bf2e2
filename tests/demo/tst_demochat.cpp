#include "chatserver.h"
#include "chatsite.h"
#include "desktopplatform.h"
#include "pagedecoder.h"
#include "pollcycle.h"
#include "scanner.h"

#include <QStringDecoder>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// A December evening; a fixed moment keeps failures reproducible.
constexpr qint64 Evening = 1'765'051'200;

struct Answer {
    QByteArray statusLine;
    QByteArray contentType;
    QString body; // strict UTF-8: a page in any other encoding fails to match
};

Answer answerTo(const QByteArray &path, qint64 now)
{
    const QByteArray raw =
        ChatSite::respond("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", now);
    const qsizetype end = raw.indexOf("\r\n\r\n");
    Answer answer;
    for (const QByteArray &line : raw.first(qMax<qsizetype>(end, 0)).split('\n')) {
        if (answer.statusLine.isEmpty())
            answer.statusLine = line.trimmed();
        else if (line.toLower().startsWith("content-type:"))
            answer.contentType = line.sliced(13).trimmed();
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    answer.body = decoder.decode(raw.sliced(end + 4));
    if (decoder.hasError())
        answer.body = u"<not UTF-8>"_s;
    return answer;
}

QStringList scan(const QString &page)
{
    ScanPositions positions;
    return Scanner::scanOnlineNames(page, positions);
}

} // namespace

class TstDemoChat : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void pageScansToExactlyWhoIsIn_data();
    void pageScansToExactlyWhoIsIn();
    void everyRegularComesAndGoesWithNameIntact();
    void rosterStandsStillWithinASlotAndChangesBetween();
    void otherPathsAre404_data();
    void otherPathsAre404();
    void realServerAnswersTheRealClientByItsClock();
};

void TstDemoChat::pageScansToExactlyWhoIsIn_data()
{
    QTest::addColumn<qint64>("now");
    QTest::newRow("the epoch") << qint64(0);
    QTest::newRow("a December evening") << Evening;
    QTest::newRow("one slot later") << Evening + ChatSite::SlotSeconds;
}

void TstDemoChat::pageScansToExactlyWhoIsIn()
{
    QFETCH(qint64, now);
    const Answer answer = answerTo("/login/chat/users.asp", now);
    QCOMPARE(answer.statusLine, "HTTP/1.1 200 OK");
    QCOMPARE(answer.contentType, "text/html; charset=utf-8");
    const QStringList online = ChatSite::onlineAt(now);
    QVERIFY(online.contains(ChatSite::AlwaysOnline));
    // Other links on the page must not add names, and no name may be cut.
    QCOMPARE(scan(answer.body), online);
    QCOMPARE(scan(PageDecoder::decode(answer.body.toUtf8(), answer.contentType)), online);
}

void TstDemoChat::everyRegularComesAndGoesWithNameIntact()
{
    constexpr int Slots = 300;
    int swedish = 0;
    for (const QString &name : ChatSite::regulars()) {
        swedish += std::any_of(name.cbegin(), name.cend(), [](QChar c) { return c > u'~'; });
        int present = 0;
        qint64 seen = -1;
        for (int slot = 0; slot < Slots; ++slot) {
            const qint64 now = Evening + slot * ChatSite::SlotSeconds;
            if (ChatSite::onlineAt(now).contains(name)) {
                ++present;
                seen = now;
            }
        }
        if (name == ChatSite::AlwaysOnline)
            QCOMPARE(present, Slots);
        else // sometimes in, sometimes out
            QVERIFY2(present > Slots / 10 && present < Slots * 9 / 10, qPrintable(name));
        QVERIFY2(scan(answerTo("/login/chat/users.asp", seen).body).contains(name),
                 qPrintable(name));
    }
    QVERIFY(swedish >= 3); // the demo shows Swedish letters reaching the list unharmed
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
        if (ChatSite::onlineAt(start + ChatSite::SlotSeconds) != roster)
            ++changes;
    }
    // People come and go every few seconds, not now and then.
    QVERIFY2(changes >= Boundaries * 9 / 10, qPrintable(QString::number(changes)));
}

void TstDemoChat::otherPathsAre404_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("root") << "/"_ba;
    QTest::newRow("the chat's folder") << "/login/chat/"_ba;
    QTest::newRow("a longer name") << "/login/chat/users.aspx"_ba;
    QTest::newRow("the path in other case") << "/LOGIN/chat/users.asp"_ba;
}

void TstDemoChat::otherPathsAre404()
{
    QFETCH(QByteArray, path);
    const Answer answer = answerTo(path, Evening);
    QVERIFY2(answer.statusLine.startsWith("HTTP/1.1 404 "), answer.statusLine.constData());
    QVERIFY(scan(answer.body).isEmpty()); // an error page names no one
}

void TstDemoChat::realServerAnswersTheRealClientByItsClock()
{
    qint64 now = Evening;
    ChatServer server([&now] { return now; });
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    const QString host = u"127.0.0.1:%1"_s.arg(server.port());
    DesktopPlatform platform;

    const FetchResult first = platform.fetchPage(userListUrl(host));
    QVERIFY2(first.ok(), qPrintable(describeFailure(first)));
    QCOMPARE(scan(first.text), ChatSite::onlineAt(now));

    const QStringList before = ChatSite::onlineAt(now);
    while (ChatSite::onlineAt(now) == before)
        now += ChatSite::SlotSeconds;
    const FetchResult later = platform.fetchPage(userListUrl(host));
    QVERIFY(later.ok());
    QCOMPARE(scan(later.text), ChatSite::onlineAt(now));

    const FetchResult elsewhere = platform.fetchPage(QUrl(u"http://%1/login/"_s.arg(host)));
    QCOMPARE(elsewhere.error, FetchResult::Error::HttpStatus);
    QCOMPARE(elsewhere.httpStatus, 404);
}

QTEST_MAIN(TstDemoChat)
#include "tst_demochat.moc"
