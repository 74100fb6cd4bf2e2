#include "scanner.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TstScanner : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void takesNamesBetweenMarkers_data();
    void takesNamesBetweenMarkers();
};

void TstScanner::takesNamesBetweenMarkers_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("names");

    const QString s = u"';\" >"_s;
    QTest::newRow("names amid other text, in page order")
        << u"<a onclick=\"x='Anna"_s + s + u"Anna</a><br>"_s + s + u"Åsa Ö</a>"_s
        << QStringList{u"Anna"_s, u"Åsa Ö"_s};
    QTest::newRow("markers back to back give an empty name")
        << s + u"</a>"_s << QStringList{QString()};
    QTest::newRow("start marker inside a name belongs to the name")
        << s + u"A"_s + s + u"B</a>"_s << QStringList{u"A"_s + s + u"B"_s};
    QTest::newRow("no end marker but one in capitals ends the scan")
        << s + u"Anna</a>"_s + s + u"Bo</A> and more"_s << QStringList{u"Anna"_s};

    // Positions past 16 bits must neither wrap nor stop the scan.
    QString big;
    QStringList expected;
    for (int i = 0; i < 5000; ++i) {
        expected << u"Namn%1"_s.arg(i);
        big += u"<a onclick=\"valj='"_s + expected.last() + s + expected.last() + u"</a><br>\n"_s;
    }
    QTest::newRow("page beyond 65,536 characters") << big << expected;
}

void TstScanner::takesNamesBetweenMarkers()
{
    QFETCH(QString, page);
    QFETCH(QStringList, names);
    ScanPositions positions;
    QCOMPARE(Scanner::scanOnlineNames(page, positions), names);
    // The window keeps the positions between polls; each scan starts afresh.
    QCOMPARE(Scanner::scanOnlineNames(page, positions), names);
}

QTEST_GUILESS_MAIN(TstScanner)
#include "tst_scanner.moc"
