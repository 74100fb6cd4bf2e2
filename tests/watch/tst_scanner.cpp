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
};

void TstScanner::takesNamesBetweenMarkers_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("names");

    const QString s = u"';\" >"_s;
    QTest::newRow("two names amid other text, in page order")
        << u"<a onclick=\"x='Anna"_s + s + u"Anna</a><br>"_s + s + u"Åsa Ö</a>"_s
        << QStringList{u"Anna"_s, u"Åsa Ö"_s};
    QTest::newRow("no start marker") << u"'; \" >Anna</a>"_s << QStringList{};
    QTest::newRow("markers back to back give an empty name")
        << s + u"</a>"_s << QStringList{QString()};
    QTest::newRow("entities and leading space kept")
        << s + u" Bo&amp;Li</a>"_s << QStringList{u" Bo&amp;Li"_s};
    QTest::newRow("start marker inside a name belongs to the name")
        << s + u"A"_s + s + u"B</a>"_s << QStringList{u"A"_s + s + u"B"_s};
    QTest::newRow("end marker in capitals is no end marker")
        << s + u"Anna</A> and more"_s << QStringList{};
    QTest::newRow("no end marker after a good name")
        << s + u"Anna</a>"_s + s + u"Bo</"_s << QStringList{u"Anna"_s};
    QTest::newRow("near misses of both markers") << u"'';\" >Ann<</a>"_s << QStringList{u"Ann<"_s};
    QTest::newRow("duplicates kept")
        << s + u"Anna</a>"_s + s + u"Anna</a>"_s << QStringList{u"Anna"_s, u"Anna"_s};
}

void TstScanner::takesNamesBetweenMarkers()
{
    QFETCH(QString, page);
    QFETCH(QStringList, names);
    ScanPositions positions;
    QCOMPARE(Scanner::scanOnlineNames(page, positions), names);
}

void TstScanner::findsEveryNameInPagesBeyond16BitPositions()
{
    QString page;
    QStringList expected;
    for (int i = 0; i < 5000; ++i) {
        expected << u"Namn%1"_s.arg(i);
        page += u"<a onclick=\"valj='"_s + expected.last() + u"';\" >"_s + expected.last() +
                u"</a><br>\n"_s;
    }
    QVERIFY(page.size() > 2 * 65536);
    ScanPositions positions;
    QCOMPARE(Scanner::scanOnlineNames(page, positions), expected);
}

QTEST_GUILESS_MAIN(TstScanner)
#include "tst_scanner.moc"
