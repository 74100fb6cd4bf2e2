// An evening in one go: 2,000 polls through the real window and platform, the
// roster changing every time, every kind of alert going off. What a poll
// leaves behind adds up, so memory after the last is what it was after 100.

#include "hardeningsupport.h"
#include "pollcycle.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace Hardening;

namespace {

constexpr int Polls = 2000;
constexpr int SettledAfter = 100;
constexpr qint64 MaxGrowthKiB = 4 * 1024;

// Poll n's chat: guests come and go, the watched ones move about, Göran drops
// in every other poll, and now and then the site has a bad moment (no names).
QStringList rosterFor(int n)
{
    QStringList names;
    if (n % 50 == 49)
        return names;
    for (int guest = 0; guest < n % 37; ++guest)
        names << u"Gäst%1-%2"_s.arg(n).arg(guest);
    names.insert(qMin<qsizetype>(n % 5, names.size()), u"Åsa"_s);
    names << u"Björn"_s << u"Märta"_s;
    if (n % 2 == 1)
        names.insert(names.size() / 2, u"Göran"_s);
    return names;
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
        const QStringList names = rosterFor(served++);
        return HttpTestServer::Response{
            names.isEmpty() ? HttpTestServer::status(503, "Service Unavailable")
                            : HttpTestServer::ok(HttpTestServer::userListPage(names))};
    });

    Window window(userListUrl(server.hostAndPort()), {2000});
    const QString sound = soundFilePath(window.platform.programFolder());
    QVERIFY2(QFileInfo(sound).size() > 44, qPrintable(u"no sound file at "_s + sound));
    window.watch(0, u"Åsa"_s, {"chkPopup"});
    window.watch(1, u"Björn"_s, {"chkPip"});
    window.watch(2, u"Märta"_s, {"ChkLjud"});
    window.watch(3, u"Göran"_s, {"chkPopup", "chkPip"});
    // The test's ticks stand in for Timer1's, which would come a minute apart.
    window.combo->setEditText(u"60"_s);
    BoxDismisser boxes;

    qint64 settledKiB = -1;
    QString fault;
    // Each poll is started from the event loop, as Timer1's tick is.
    QEventLoop loop;
    int poll = 0;
    QTimer next;
    next.setSingleShot(true);
    connect(&next, &QTimer::timeout, &loop, [&] {
        const QStringList roster = rosterFor(poll);
        const bool fails = roster.isEmpty();
        window.tick();

        const QString outcome =
            fails ? u"kunde inte nå chattsidan – servern svarade med HTTP-status 503"_s
                  : u"%1 personer online"_s.arg(roster.size());
        // A box and a beep each for Åsa/Björn and Göran; a sound for Märta.
        const int pairs = fails ? 0 : 1 + int(roster.contains(u"Göran"_s));
        const int sounds = fails ? 0 : 1;
        if (window.outcome() != outcome)
            fault = u"poll %1: status %2"_s.arg(poll).arg(window.status->text());
        else if (window.listed() != roster)
            fault = u"poll %1: the list is not the roster"_s.arg(poll);
        else if (boxes.texts.size() != pairs || window.platform.beeps != pairs ||
                 window.platform.sounds != sounds)
            fault = u"poll %1: %2 boxes, %3 beeps, %4 sounds"_s.arg(poll)
                        .arg(boxes.texts.size())
                        .arg(window.platform.beeps)
                        .arg(window.platform.sounds);
        // What the test itself keeps must not count against the program.
        boxes.texts.clear();
        window.platform.beeps = window.platform.sounds = 0;
        server.clearRequests();

        if (++poll == SettledAfter)
            settledKiB = procStatusKiB("VmRSS");
        if (!fault.isEmpty() || poll == Polls)
            loop.quit();
        else
            next.start(0);
    });
    next.start(0);
    loop.exec();

    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    QCOMPARE(served, Polls);
    const qint64 lastKiB = procStatusKiB("VmRSS");
    qInfo("VmRSS after poll %d: %lld KiB, after poll %d: %lld KiB", SettledAfter, settledKiB, Polls,
          lastKiB);
    if (MemoryFiguresAreReal)
        QCOMPARE_LT(lastKiB - settledKiB, MaxGrowthKiB);
    QCOMPARE(window.timer1->interval(), 60'000);
}

QTEST_MAIN(TstEvening)
#include "tst_evening.moc"
