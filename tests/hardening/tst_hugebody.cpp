// A server that answers with 100 MB. The poll must refuse it at the size limit
// without the program's memory ever growing towards 100 MB. The server streams
// the body as it is read, so the test process never holds it either.

#include "hardeningsupport.h"
#include "httptestserver.h"
#include "timer.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace Hardening;
using Response = HttpTestServer::Response;

Q_DECLARE_METATYPE(HttpTestServer::Response)

namespace {

constexpr int TimeoutMs = 2000;
constexpr qint64 MaxBody = 4 * 1024 * 1024;
constexpr qint64 Huge = 100 * 1024 * 1024;
// Peak memory may grow by this much over a poll: the body up to the limit,
// the list it is read into growing by doubling, the network's own buffers.
// Far from the 100 MB the server sends.
constexpr qint64 MaxGrowthKiB = 24 * 1024;
const QString Suffix = u" har kommit in på Vindriks chatt"_s;

const QByteArray GoodPage = pageOf({link("Åsa"), link("Märta")});
// What the huge bodies are made of: names every window's traps would match.
const QByteArray TrapPage = pageOf({link(""), link("Mär"), link("Märta")});

// Starts a fresh peak (VmHWM) at the current size; false where the kernel
// does not allow it.
bool resetPeak()
{
    QFile file(u"/proc/self/clear_refs"_s);
    return file.open(QIODevice::WriteOnly) && file.write("5") == 1;
}

Response stream(const QByteArray &head, bool chunked)
{
    Response response{head, Response::Mode::Stream};
    response.streamBytes = Huge;
    response.streamPattern = TrapPage;
    response.streamChunked = chunked;
    return response;
}

} // namespace

class TstHugeBody : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void hundredMegabytesAreRefusedWithoutGrowingTowardsThem_data();
    void hundredMegabytesAreRefusedWithoutGrowingTowardsThem();

private:
    HttpTestServer m_server;
    qint64 m_firstPeakKiB = -1;
};

void TstHugeBody::initTestCase()
{
    quietHeadlessNoise();
    QVERIFY(m_server.listen());
    QVERIFY2(procStatusKiB("VmHWM") > 0, "no VmHWM in /proc/self/status");
}

void TstHugeBody::cleanup()
{
    m_server.setResponder({});
    m_server.clearRequests();
}

void TstHugeBody::hundredMegabytesAreRefusedWithoutGrowingTowardsThem_data()
{
    QTest::addColumn<Response>("response");

    const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n";
    QTest::newRow("length of 100 MB announced")
        << stream(head + "Content-Length: " + QByteArray::number(Huge) + "\r\n\r\n", false);
    QTest::newRow("100 MB in chunks, no length")
        << stream(head + "Transfer-Encoding: chunked\r\n\r\n", true);
    QTest::newRow("100 MB until the connection closes")
        << stream(head + "Connection: close\r\n\r\n", false);

    // 100 gzip members of 1 MiB each: about 100 kB on the wire.
    QByteArray mebibyte;
    while (mebibyte.size() < 1024 * 1024)
        mebibyte += TrapPage;
    mebibyte.truncate(1024 * 1024);
    const QByteArray bomb = gzipped(mebibyte).repeated(100);
    QTest::newRow("100 MB unpacked from 100 kB of gzip")
        << Response{head + "Content-Encoding: gzip\r\nContent-Length: " +
                    QByteArray::number(bomb.size()) + "\r\n\r\n" + bomb};
}

void TstHugeBody::hundredMegabytesAreRefusedWithoutGrowingTowardsThem()
{
    QFETCH(Response, response);

    DesktopPlatform::Limits limits;
    limits.transferTimeoutMs = TimeoutMs;
    limits.maxBodyBytes = MaxBody;
    Window window(userListUrl(m_server.hostAndPort()), limits);
    window.watch(0, QString(), {"chkPopup", "chkPip"});
    window.watch(1, u"Mär"_s, {"chkPopup", "ChkLjud"});
    window.watch(2, u"Märta"_s, {"chkPopup"});
    window.combo->setEditText(u"1"_s);
    window.clickStartStop();
    BoxDismisser boxes;

    // A good poll first, so that what a first poll sets up once is not counted.
    m_server.setResponder(
        [](const QByteArray &) { return Response{HttpTestServer::ok(GoodPage)}; });
    window.tick();
    QCOMPARE(boxes.texts(), QStringList{u"Märta"_s + Suffix});
    boxes.seen.clear();
    window.platform.beeps = window.platform.sounds = 0;

    m_server.setResponder([response](const QByteArray &) { return response; });
    const bool freshPeak = resetPeak();
    const qint64 before = freshPeak ? procStatusKiB("VmRSS") : procStatusKiB("VmHWM");
    if (m_firstPeakKiB < 0)
        m_firstPeakKiB = before;
    const qint64 took = window.tick();
    const qint64 peak = procStatusKiB("VmHWM");
    // Without a fresh peak, the peak only ever grows: count from the first row.
    const qint64 growth = peak - (freshPeak ? before : m_firstPeakKiB);
    qInfo("peak memory grew by %lld KiB over the poll (limit %lld KiB, %s); the poll took %lld ms",
          growth, MaxBody / 1024, freshPeak ? "peak reset before it" : "peak since the first row",
          took);

    QVERIFY2(took < TimeoutMs + 1500, qPrintable(u"the poll took %1 ms"_s.arg(took)));
    if (MemoryFiguresAreReal) {
        QVERIFY2(growth < MaxGrowthKiB,
                 qPrintable(u"peak memory grew by %1 KiB for a limit of %2 KiB"_s.arg(growth).arg(
                     MaxBody / 1024)));
    }
    QVERIFY2(QRegularExpression(failurePattern(u"sidan var för stor"_s))
                 .match(window.status->text())
                 .hasMatch(),
             qPrintable(window.status->text()));
    QCOMPARE(window.list->count(), 0);
    QCOMPARE(boxes.texts(), QStringList());
    QCOMPARE(window.platform.beeps, 0);
    QCOMPARE(window.platform.sounds, 0);

    // Watching goes on: the next tick comes on time and reads a good page.
    QCOMPARE(window.button->text(), u"&Stoppa programmet"_s);
    QVERIFY(window.timer1->isRunning());
    QCOMPARE(window.timer1->interval(), 1000);
    const qsizetype served = m_server.requests().size();
    m_server.setResponder(
        [](const QByteArray &) { return Response{HttpTestServer::ok(GoodPage)}; });
    QTRY_VERIFY_WITH_TIMEOUT(m_server.requests().size() > served, 1000 + 600);
    QTRY_VERIFY2_WITH_TIMEOUT(QRegularExpression(statusPattern(u"2 personer online"_s))
                                  .match(window.status->text())
                                  .hasMatch(),
                              qPrintable(window.status->text()), 1000);
    QCOMPARE(boxes.texts(), QStringList{u"Märta"_s + Suffix});
    window.clickStartStop();
}

QTEST_MAIN(TstHugeBody)
#include "tst_hugebody.moc"
