// An evening of watching in one go: 2,000 polls through the real window and
// platform against a chat whose roster changes on every poll, with every kind
// of alert going off. Whatever a poll leaves behind adds up over an evening,
// so memory after the last poll must be what it was after the 100th.

#include "hardeningsupport.h"
#include "httptestserver.h"
#include "pollcycle.h"
#include "timer.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace Hardening;
using Response = HttpTestServer::Response;

namespace {

constexpr int Polls = 2000;
constexpr int SettledAfter = 100;
constexpr qint64 MaxGrowthKiB = 4 * 1024;
const QString Suffix = u" har kommit in på Vindriks chatt"_s;

struct Roster {
    QStringList names;
    bool fails = false;
};

// Poll n's chat: guests come and go, the watched ones move about, Göran drops
// in every other poll, and now and then the site has a bad moment.
Roster rosterFor(int n)
{
    Roster roster;
    if (n % 50 == 49) {
        roster.fails = true;
        return roster;
    }
    for (int guest = 0; guest < n % 37; ++guest)
        roster.names << u"Gäst%1-%2"_s.arg(n).arg(guest);
    roster.names.insert(qMin<qsizetype>(n % 5, roster.names.size()), u"Åsa"_s);
    roster.names << u"Björn"_s << u"Märta"_s;
    if (n % 2 == 1)
        roster.names.insert(roster.names.size() / 2, u"Göran"_s);
    return roster;
}

} // namespace

class TstEvening : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { quietHeadlessNoise(); }
    void twoThousandPollsWithAlertsDoNotGrowMemory();
};

void TstEvening::twoThousandPollsWithAlertsDoNotGrowMemory()
{
    HttpTestServer server;
    QVERIFY(server.listen());
    int served = 0;
    server.setResponder([&served](const QByteArray &) {
        const Roster roster = rosterFor(served++);
        if (roster.fails)
            return Response{
                HttpTestServer::status(503, "Service Unavailable", "<html>upptagen</html>")};
        return Response{HttpTestServer::ok(HttpTestServer::userListPage(roster.names))};
    });

    DesktopPlatform::Limits limits;
    limits.transferTimeoutMs = 2000;
    Window window(userListUrl(server.hostAndPort()), limits);
    const QString sound = soundFilePath(window.platform.programFolder());
    QVERIFY2(QFileInfo(sound).size() > 44, qPrintable(u"no sound file at "_s + sound));
    window.watch(0, u"Åsa"_s, {"chkPopup"});
    window.watch(1, u"Björn"_s, {"chkPip"});
    window.watch(2, u"Märta"_s, {"ChkLjud"});
    window.watch(3, u"Göran"_s, {"chkPopup", "chkPip"});
    // The test's ticks stand in for Timer1's, which would come a minute apart.
    window.combo->setEditText(u"60"_s);
    BoxDismisser boxes;

    int expectedBoxes = 0;
    int expectedBeeps = 0;
    int expectedSounds = 0;
    qint64 settledKiB = -1;
    qint64 settledMs = 0;
    QString fault;
    QElapsedTimer clock;
    clock.start();

    // Each poll is started from the event loop, as Timer1's tick is.
    QEventLoop loop;
    int poll = 0;
    QTimer next;
    next.setSingleShot(true);
    next.setInterval(0);
    connect(&next, &QTimer::timeout, &loop, [&] {
        const Roster roster = rosterFor(poll);
        window.tick();

        const QString outcome =
            roster.fails ? u"kunde inte nå chattsidan – servern svarade med HTTP-status 503"_s
                         : u"%1 personer online"_s.arg(roster.names.size());
        const bool anyGoran = roster.names.contains(u"Göran"_s);
        if (!roster.fails) {
            expectedBoxes += 1 + (anyGoran ? 1 : 0);
            expectedBeeps += 1 + (anyGoran ? 1 : 0);
            expectedSounds += 1;
        }
        if (!QRegularExpression(statusPattern(outcome)).match(window.status->text()).hasMatch())
            fault = u"poll %1: status %2"_s.arg(poll).arg(window.status->text());
        else if (listed(window.list) != roster.names)
            fault = u"poll %1: the list is not the roster"_s.arg(poll);
        else if (boxes.seen.size() != expectedBoxes || window.platform.beeps != expectedBeeps ||
                 window.platform.sounds != expectedSounds)
            fault = u"poll %1: %2 boxes, %3 beeps, %4 sounds"_s.arg(poll)
                        .arg(boxes.seen.size())
                        .arg(window.platform.beeps)
                        .arg(window.platform.sounds);
        // What the test itself keeps must not count against the program.
        boxes.seen.clear();
        expectedBoxes = 0;
        server.clearRequests();

        ++poll;
        if (poll == SettledAfter) {
            settledKiB = procStatusKiB("VmRSS");
            settledMs = clock.elapsed();
        }
        if (!fault.isEmpty() || poll == Polls)
            loop.quit();
        else
            next.start();
    });
    next.start();
    loop.exec();

    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    QCOMPARE(poll, Polls);
    QCOMPARE(served, Polls);
    const qint64 lastKiB = procStatusKiB("VmRSS");
    const qint64 ms = clock.elapsed();
    qInfo("VmRSS after poll %d: %lld KiB, after poll %d: %lld KiB (growth %lld KiB); "
          "%d polls in %lld ms, %.2f ms a poll; %d beeps, %d sounds",
          SettledAfter, settledKiB, Polls, lastKiB, lastKiB - settledKiB, Polls, ms,
          double(ms - settledMs) / (Polls - SettledAfter), window.platform.beeps,
          window.platform.sounds);
    if (MemoryFiguresAreReal) {
        QVERIFY2(
            lastKiB - settledKiB < MaxGrowthKiB,
            qPrintable(u"memory grew by %1 KiB from poll %2 to poll %3"_s.arg(lastKiB - settledKiB)
                           .arg(SettledAfter)
                           .arg(Polls)));
    }
    QCOMPARE(window.timer1->interval(), 60'000);
}

QTEST_MAIN(TstEvening)
#include "tst_evening.moc"
