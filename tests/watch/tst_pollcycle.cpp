#include <QTest>
class Tstpollcycle : public QObject { Q_OBJECT };
QTEST_GUILESS_MAIN(Tstpollcycle)
#include "tst_pollcycle.moc"
