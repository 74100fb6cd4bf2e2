#include "timer.h"

#include <QElapsedTimer>
#include <QTest>

using namespace Qt::StringLiterals;

class TstTimer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void zeroIntervalOrDisabledNeverFires()
    {
        Timer zero;
        Timer disabled;
        int ticks = 0;
        // Each runs first, so a timer that ignores the later change ticks.
        for (Timer *timer : {&zero, &disabled}) {
            connect(timer, &Timer::ticked, this, [&ticks] { ++ticks; });
            timer->setInterval(20);
            timer->setEnabled(true);
        }
        zero.setInterval(0);
        disabled.setEnabled(false);
        // A bare QTimer at 0 would tick on every pass of the loop in here.
        QTest::qWait(200);
        QCOMPARE(ticks, 0);
    }
    void intervalSetInTickGovernsNextWait()
    {
        Timer timer;
        QElapsedTimer clock;
        QList<qint64> ticks;
        connect(&timer, &Timer::ticked, this, [&] {
            ticks << clock.elapsed();
            if (ticks.size() == 1)
                timer.setInterval(400);
            else if (ticks.size() == 3)
                timer.setEnabled(false);
        });
        clock.start();
        timer.setInterval(30);
        timer.setEnabled(true);
        QTRY_COMPARE_WITH_TIMEOUT(ticks.size(), 3, 10000);
        // A busy machine makes a tick late, never early. The first wait counts
        // from the moment the interval was set; a repeating timer then keeps
        // to its schedule, so after a late tick the next gap is short, but the
        // second tick is never due before two whole intervals.
        const qint64 first = ticks[1] - ticks[0];
        const qint64 both = ticks[2] - ticks[0];
        QVERIFY2(
            first >= 395 && both >= 795,
            qPrintable(u"ticks %1 and %2 ms after the interval was set"_s.arg(first).arg(both)));
    }
};

QTEST_GUILESS_MAIN(TstTimer)
#include "tst_timer.moc"
