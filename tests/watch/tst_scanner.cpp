#include "scanner.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TstScanner : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void takesNamesBetweenMarkers_data();
    void takesNamesBetweenMarkers();
    void findsEveryNameInPagesBeyond16BitPositions();
    void leavesPositionsAtLastEndMarker();
    void findMarkerAgreesWithIndexOf_data();
    void findMarkerAgreesWithIndexOf();
};

void TstScanner::takesNamesBetweenMarkers_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("names");

    const QString s = u"';\" >"_s;
    QTest::newRow("one name amid other text")
        << u"<html><a onclick=\"x='Anna"_s + s + u"Anna</a><br></html>"_s << QStringList{u"Anna"_s};
    QTest::newRow("two names in page order")
        << s + u"Anna</a> text "_s + s + u"Bo</a>"_s << QStringList{u"Anna"_s, u"Bo"_s};
    QTest::newRow("no start marker gives nothing") << u"<a href='x'>Anna</a>"_s << QStringList{};
    QTest::newRow("empty page") << QString() << QStringList{};
    QTest::newRow("markers back to back give an empty name")
        << s + u"</a>"_s << QStringList{QString()};
    QTest::newRow("name taken character for character")
        << s + u" Bo&amp;Li</a>"_s << QStringList{u" Bo&amp;Li"_s};
    QTest::newRow("start marker inside a name belongs to the name")
        << s + u"A"_s + s + u"B</a>"_s << QStringList{u"A"_s + s + u"B"_s};
    QTest::newRow("extra space inside the start marker is no marker")
        << u"'; \" >Anna</a>"_s << QStringList{};
    QTest::newRow("end marker in capitals is no end marker: no name, scan ends")
        << s + u"Anna</A> and more"_s << QStringList{};
    QTest::newRow("start marker without any end marker after a good name")
        << s + u"Anna</a>"_s + s + u"Bo"_s << QStringList{u"Anna"_s};
    QTest::newRow("same name twice gives two entries")
        << s + u"Anna</a>"_s + s + u"Anna</a>"_s << QStringList{u"Anna"_s, u"Anna"_s};
    QTest::newRow("Swedish letters and case kept")
        << s + u"Åsa ÖBERG</a>"_s << QStringList{u"Åsa ÖBERG"_s};
    QTest::newRow("start marker cut off at the very end") << u"x';\" "_s << QStringList{};
    QTest::newRow("end marker cut off at the very end") << s + u"Anna</"_s << QStringList{};
    QTest::newRow("near-miss apostrophes before the real marker")
        << u"';';\"';\" >Li</a>"_s << QStringList{u"Li"_s};
    QTest::newRow("NUL characters pass through")
        << s + QString(QChar(0)) + u"x</a>"_s << QStringList{QString(QChar(0)) + u"x"_s};
}

void TstScanner::takesNamesBetweenMarkers()
{
    QFETCH(QString, page);
    QFETCH(QStringList, names);
    ScanPositions positions;
    QCOMPARE(Scanner::scanOnlineNames(page, positions), names);
}

// Positions past 32,767 characters must not wrap: a large user list is read
// to its end.
void TstScanner::findsEveryNameInPagesBeyond16BitPositions()
{
    QString page;
    QStringList expected;
    for (int i = 0; i < 5000; ++i) {
        const QString name = u"Namn%1"_s.arg(i);
        page += u"<a href=\"#\" onclick=\"valj='"_s + name + u"';\" >"_s + name + u"</a><br>\n"_s;
        expected << name;
    }
    QVERIFY(page.size() > 4 * 32768);
    ScanPositions positions;
    const QStringList names = Scanner::scanOnlineNames(page, positions);
    QCOMPARE(names.size(), expected.size());
    QCOMPARE(names, expected);
}

void TstScanner::leavesPositionsAtLastEndMarker()
{
    const QString page = u"xx';\" >Anna</a>yy"_s;
    ScanPositions positions{99, 99, 99};
    Scanner::scanOnlineNames(page, positions);
    QCOMPARE(positions.intStart, 7);
    QCOMPARE(positions.intLen, 4);
    QCOMPARE(positions.intPos, page.indexOf(u"</a>"_s));
}

void TstScanner::findMarkerAgreesWithIndexOf_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("marker");
    QTest::addColumn<int>("from");

    QTest::newRow("marker at start") << u"</a>x"_s << u"</a>"_s << 0;
    QTest::newRow("marker at the very end") << u"xx</a>"_s << u"</a>"_s << 0;
    QTest::newRow("from past the only marker") << u"</a>xxxx"_s << u"</a>"_s << 1;
    QTest::newRow("overlapping near-miss") << u"<</a>"_s << u"</a>"_s << 0;
    QTest::newRow("text shorter than marker") << u"</"_s << u"</a>"_s << 0;
    QTest::newRow("first char only, repeated") << u"''''';\" >"_s << u"';\" >"_s << 0;
    QTest::newRow("from beyond the end") << u"abc"_s << u"</a>"_s << 10;
}

void TstScanner::findMarkerAgreesWithIndexOf()
{
    QFETCH(QString, text);
    QFETCH(QString, marker);
    QFETCH(int, from);
    const qsizetype expected = from > text.size() ? -1 : text.indexOf(marker, from);
    QCOMPARE(Scanner::findMarker(text, marker, from), expected);
}

QTEST_GUILESS_MAIN(TstScanner)
#include "tst_scanner.moc"
