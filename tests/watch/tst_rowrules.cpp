#include <QTest>
class Tstrowrules : public QObject { Q_OBJECT };
QTEST_GUILESS_MAIN(Tstrowrules)
#include "tst_rowrules.moc"
