// 100 MB answers, refused at the size limit without memory growing towards
// them. The server makes the body as it is read, never holding it either.

#include "hardeningsupport.h"

#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace Hardening;
using Response = HttpTestServer::Response;

Q_DECLARE_METATYPE(HttpTestServer::Response)

namespace {

constexpr qint64 MaxBody = 4 * 1024 * 1024;
constexpr qint64 Huge = 100 * 1024 * 1024;
// Peak memory may grow by this much over a poll: the body up to the limit,
// the list it is read into growing by doubling, the network's own buffers.
constexpr qint64 MaxGrowthKiB = 24 * 1024;

Response stream(const QByteArray &headers)
{
    Response response{"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n" + headers + "\r\n",
                      Response::Mode::Stream};
    response.streamBytes = Huge;
    response.streamPattern = TrapPage; // what every trap would match
    response.streamChunked = headers.contains("chunked");
    return response;
}

} // namespace

class TstHugeBody : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
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

void TstHugeBody::hundredMegabytesAreRefusedWithoutGrowingTowardsThem_data()
{
    QTest::addColumn<Response>("response");

    QTest::newRow("length of 100 MB announced")
        << stream("Content-Length: " + QByteArray::number(Huge) + "\r\n");
    QTest::newRow("100 MB in chunks, no length") << stream("Transfer-Encoding: chunked\r\n");
    QTest::newRow("100 MB until the connection closes") << stream("Connection: close\r\n");

    // 100 gzip members of 1 MiB each: about 100 kB on the wire.
    const QByteArray bomb = gzipped(TrapPage.repeated(1024 * 1024 / TrapPage.size())).repeated(100);
    Response packed = stream(
        "Content-Encoding: gzip\r\nContent-Length: " + QByteArray::number(bomb.size()) + "\r\n");
    packed.raw += bomb;
    packed.mode = Response::Mode::Send;
    QTest::newRow("100 MB unpacked from 100 kB of gzip") << packed;
}

void TstHugeBody::hundredMegabytesAreRefusedWithoutGrowingTowardsThem()
{
    QFETCH(Response, response);

    Window window(userListUrl(m_server.hostAndPort()), {2000, MaxBody});
    window.watchTraps();
    BoxDismisser boxes;
    // A good poll first, so that what a first poll sets up once is not counted.
    m_server.setResponder(
        [](const QByteArray &) { return Response{HttpTestServer::ok(GoodPage)}; });
    window.tick();

    m_server.setResponder([response](const QByteArray &) { return response; });
    // A fresh peak (VmHWM) from the current size, where the kernel allows it;
    // without one the peak only grows, so growth counts from the first row.
    QFile clearRefs(u"/proc/self/clear_refs"_s);
    const bool freshPeak = clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
    const qint64 before = freshPeak ? procStatusKiB("VmRSS") : procStatusKiB("VmHWM");
    if (m_firstPeakKiB < 0)
        m_firstPeakKiB = before;
    boxes.texts.clear();
    window.platform.beeps = window.platform.sounds = 0;
    const qint64 took = window.tick();
    const qint64 growth = procStatusKiB("VmHWM") - (freshPeak ? before : m_firstPeakKiB);
    qInfo("peak memory grew by %lld KiB (%s); the poll took %lld ms", growth,
          freshPeak ? "peak reset before it" : "peak since the first row", took);

    QVERIFY2(took < 2000 + 1500, qPrintable(u"the poll took %1 ms"_s.arg(took)));
    if (MemoryFiguresAreReal)
        QVERIFY2(growth < MaxGrowthKiB, qPrintable(u"peak memory grew by %1 KiB"_s.arg(growth)));
    QCOMPARE(window.outcome(), u"kunde inte nå chattsidan – sidan var för stor"_s);
    QCOMPARE(window.list->count(), 0);
    QCOMPARE(boxes.texts, QStringList());
    QCOMPARE(window.platform.beeps + window.platform.sounds, 0);
    expectWatchingGoesOn(window, m_server, boxes);
}

QTEST_MAIN(TstHugeBody)
#include "tst_hugebody.moc"
