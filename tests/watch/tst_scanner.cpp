#include <QTest>
class Tstscanner : public QObject { Q_OBJECT };
QTEST_GUILESS_MAIN(Tstscanner)
#include "tst_scanner.moc"
