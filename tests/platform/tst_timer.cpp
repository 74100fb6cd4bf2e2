#include "timer.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <cstdlib>

using namespace Qt::StringLiterals;

// Times are only ever compared with generous margins or with each other: the
// machine running the tests may be busy.
class TstTimer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void neverFires_data();
    void neverFires();
    void firesRepeatedlyWhileEnabled();
    void intervalSetInTickGovernsNextWait_data();
    void intervalSetInTickGovernsNextWait();
    void intervalZeroSetInTickStopsTicking();
    void reenablingStartsAFullWait();
};

void TstTimer::neverFires_data()
{
    QTest::addColumn<QStringList>("steps");

    QTest::newRow("enabled with the interval left at 0") << QStringList{u"enable"_s};
    QTest::newRow("interval 0, then enabled") << QStringList{u"interval 0"_s, u"enable"_s};
    QTest::newRow("running, then interval 0")
        << QStringList{u"interval 20"_s, u"enable"_s, u"interval 0"_s};
    QTest::newRow("negative interval counts as 0") << QStringList{u"enable"_s, u"interval -20"_s};
    QTest::newRow("interval but never enabled") << QStringList{u"interval 20"_s};
    QTest::newRow("running, then disabled")
        << QStringList{u"interval 20"_s, u"enable"_s, u"disable"_s};
    QTest::newRow("disabled, then interval changed")
        << QStringList{u"interval 20"_s, u"enable"_s, u"disable"_s, u"interval 30"_s};
}

void TstTimer::neverFires()
{
    QFETCH(QStringList, steps);

    Timer timer;
    int ticks = 0;
    connect(&timer, &Timer::ticked, this, [&] { ++ticks; });
    for (const QString &step : steps) {
        if (step == u"enable")
            timer.setEnabled(true);
        else if (step == u"disable")
            timer.setEnabled(false);
        else
            timer.setInterval(step.section(u' ', 1).toInt());
    }
    QVERIFY(!timer.isRunning());
    // A bare QTimer at 0 would tick on every pass of the loop in here.
    QTest::qWait(200);
    QCOMPARE(ticks, 0);
}

void TstTimer::firesRepeatedlyWhileEnabled()
{
    Timer timer;
    int ticks = 0;
    connect(&timer, &Timer::ticked, this, [&] { ++ticks; });
    timer.setInterval(20);
    timer.setEnabled(true);
    QVERIFY(timer.isRunning());
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 3, 5000);
}

void TstTimer::intervalSetInTickGovernsNextWait_data()
{
    QTest::addColumn<int>("oldInterval");
    QTest::addColumn<int>("newInterval");
    QTest::addColumn<int>("busyAfterSettingMs"); // the tick goes on working this long
    QTest::addColumn<int>("wrongGap");           // where a faulty timer would put the next tick

    QTest::newRow("longer interval set in a tick delays the next tick") << 30 << 400 << 0 << 30;
    QTest::newRow("shorter interval set in a tick brings the next tick forward")
        << 1000 << 40 << 0 << 1000;
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
    QVERIFY2(gap >= newInterval - 5, qPrintable(u"next tick %1 ms after the setting"_s.arg(gap)));
    QVERIFY2(std::abs(gap - newInterval) < std::abs(gap - wrongGap),
             qPrintable(u"next tick %1 ms after the setting"_s.arg(gap)));
    // The new interval stays in force for the tick after that.
    QVERIFY2(ticks[2] - setAt >= 2 * newInterval - 5,
             qPrintable(u"third tick %1 ms after the setting"_s.arg(ticks[2] - setAt)));
}

void TstTimer::intervalZeroSetInTickStopsTicking()
{
    Timer timer;
    int ticks = 0;
    connect(&timer, &Timer::ticked, this, [&] {
        ++ticks;
        timer.setInterval(0);
    });
    timer.setInterval(20);
    timer.setEnabled(true);
    QTRY_COMPARE_WITH_TIMEOUT(ticks, 1, 5000);
    QTest::qWait(200);
    QCOMPARE(ticks, 1);
    QVERIFY(timer.isEnabled());
}

void TstTimer::reenablingStartsAFullWait()
{
    constexpr int interval = 400;
    Timer timer;
    QElapsedTimer clock;
    clock.start();
    qint64 tickAt = -1;
    connect(&timer, &Timer::ticked, this, [&] {
        if (tickAt < 0)
            tickAt = clock.elapsed();
    });
    timer.setInterval(interval);
    timer.setEnabled(true);
    QTest::qWait(interval / 2);
    timer.setEnabled(false);
    tickAt = -1; // a tick before the pause, on a slow machine, does not count
    const qint64 enabledAt = clock.elapsed();
    timer.setEnabled(true);
    QTRY_VERIFY_WITH_TIMEOUT(tickAt >= 0, 5000);
    // A timer that merely resumed would tick about interval/2 after this.
    QVERIFY2(tickAt - enabledAt >= interval - 5,
             qPrintable(u"ticked %1 ms after re-enabling"_s.arg(tickAt - enabledAt)));
}

QTEST_GUILESS_MAIN(TstTimer)
#include "tst_timer.moc"
