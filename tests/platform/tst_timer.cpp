#include "timer.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <cstdlib>

using namespace Qt::StringLiterals;

// Times are only compared with generous margins or with each other: the
// machine running the tests may be busy.
class TstTimer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void neverFires_data();
    void neverFires();
    void intervalSetInTickGovernsNextWait_data();
    void intervalSetInTickGovernsNextWait();
};

void TstTimer::neverFires_data()
{
    QTest::addColumn<QStringList>("steps"); // "on", "off" or an interval

    QTest::newRow("enabled with the interval left at 0") << QStringList{u"on"_s};
    QTest::newRow("running, then interval 0") << QStringList{u"20"_s, u"on"_s, u"0"_s};
    QTest::newRow("negative interval counts as 0") << QStringList{u"on"_s, u"-20"_s};
    QTest::newRow("interval but never enabled") << QStringList{u"20"_s};
    QTest::newRow("running, then disabled") << QStringList{u"20"_s, u"on"_s, u"off"_s};
    QTest::newRow("disabled, then interval changed")
        << QStringList{u"20"_s, u"on"_s, u"off"_s, u"30"_s};
}

void TstTimer::neverFires()
{
    QFETCH(QStringList, steps);

    Timer timer;
    int ticks = 0;
    connect(&timer, &Timer::ticked, this, [&] { ++ticks; });
    for (const QString &step : steps) {
        if (step == u"on" || step == u"off")
            timer.setEnabled(step == u"on");
        else
            timer.setInterval(step.toInt());
    }
    QVERIFY(!timer.isRunning());
    // A bare QTimer at 0 would tick on every pass of the loop in here.
    QTest::qWait(200);
    QCOMPARE(ticks, 0);
}

void TstTimer::intervalSetInTickGovernsNextWait_data()
{
    QTest::addColumn<int>("oldInterval");
    QTest::addColumn<int>("newInterval");
    QTest::addColumn<int>("busyAfterSettingMs"); // the tick goes on working this long
    QTest::addColumn<int>("wrongGap");           // where a faulty timer would put the next tick

    QTest::newRow("longer interval delays the next tick") << 30 << 400 << 0 << 30;
    QTest::newRow("shorter interval brings the next tick forward") << 1000 << 40 << 0 << 1000;
    QTest::newRow("wait counts from the setting, not from the end of the tick")
        << 30 << 400 << 300 << 700;
}

void TstTimer::intervalSetInTickGovernsNextWait()
{
    QFETCH(int, oldInterval);
    QFETCH(int, newInterval);
    QFETCH(int, busyAfterSettingMs);
    QFETCH(int, wrongGap);

    Timer timer;
    QElapsedTimer clock;
    clock.start();
    QList<qint64> ticks;
    qint64 setAt = -1;
    connect(&timer, &Timer::ticked, this, [&] {
        ticks << clock.elapsed();
        if (ticks.size() == 1) {
            timer.setInterval(newInterval);
            setAt = clock.elapsed();
            QThread::msleep(busyAfterSettingMs);
        } else if (ticks.size() == 3) {
            timer.setEnabled(false);
        }
    });
    timer.setInterval(oldInterval);
    timer.setEnabled(true);
    QTRY_COMPARE_WITH_TIMEOUT(ticks.size(), 3, 10000);

    const qint64 gap = ticks[1] - setAt;
    const QByteArray seen =
        u"ticks %1 and %2 ms after the setting"_s.arg(gap).arg(ticks[2] - setAt).toUtf8();
    QVERIFY2(gap >= newInterval - 5, seen);
    QVERIFY2(std::abs(gap - newInterval) < std::abs(gap - wrongGap), seen);
    // The new interval stays in force for the tick after that.
    QVERIFY2(ticks[2] - setAt >= 2 * newInterval - 5, seen);
}

QTEST_GUILESS_MAIN(TstTimer)
#include "tst_timer.moc"
