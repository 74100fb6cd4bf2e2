#include "pagedecoder.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QByteArray Utf8Names = "\xC3\x85sa Bj\xC3\xB6rn"; // "Åsa Björn"
const QByteArray Cp1252Names = "\xC5sa Bj\xF6rn";
const QString Names = u"Åsa Björn"_s;

} // namespace

class TstPageDecoder : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void namesSurviveEveryWayOfLabelling_data();
    void namesSurviveEveryWayOfLabelling();
    void latinLabelsReadAsWindows1252_data();
    void latinLabelsReadAsWindows1252();
    void labelPrecedence_data();
    void labelPrecedence();
};

void TstPageDecoder::namesSurviveEveryWayOfLabelling_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QString>("expected");

    const QByteArray metaUtf8 = "<meta charset=\"utf-8\">";
    const QByteArray metaCp1252 =
        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">";

    QTest::newRow("UTF-8, charset in header")
        << Utf8Names << "text/html; charset=utf-8"_ba << Names;
    QTest::newRow("UTF-8, charset in meta")
        << metaUtf8 + Utf8Names << "text/html"_ba << QString::fromLatin1(metaUtf8) + Names;
    QTest::newRow("UTF-8, no charset anywhere") << Utf8Names << "text/html"_ba << Names;
    QTest::newRow("UTF-8, no Content-Type at all") << Utf8Names << QByteArray() << Names;
    QTest::newRow("windows-1252, charset in header")
        << Cp1252Names << "text/html; charset=windows-1252"_ba << Names;
    QTest::newRow("windows-1252, charset in meta")
        << metaCp1252 + Cp1252Names << "text/html"_ba << QString::fromLatin1(metaCp1252) + Names;
    QTest::newRow("windows-1252, no charset anywhere") << Cp1252Names << "text/html"_ba << Names;
    QTest::newRow("header label in capitals and quotes")
        << Utf8Names << "text/html; Charset=\"UTF-8\""_ba << Names;
    QTest::newRow("charset in the second meta tag")
        << "<meta name=\"robots\" content=\"noindex\"><meta charset='windows-1252'>" + Cp1252Names
        << "text/html"_ba
        << u"<meta name=\"robots\" content=\"noindex\"><meta charset='windows-1252'>"_s + Names;
}

void TstPageDecoder::namesSurviveEveryWayOfLabelling()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);
    QFETCH(QString, expected);

    QCOMPARE(PageDecoder::decode(body, contentType), expected);
}

void TstPageDecoder::latinLabelsReadAsWindows1252_data()
{
    QTest::addColumn<QByteArray>("label");

    // Byte for byte these would be C1 controls under strict Latin-1.
    QTest::newRow("iso-8859-1") << "iso-8859-1"_ba;
    QTest::newRow("ISO-8859-1 in capitals") << "ISO-8859-1"_ba;
    QTest::newRow("latin1") << "latin1"_ba;
    QTest::newRow("us-ascii") << "us-ascii"_ba;
    QTest::newRow("windows-1252 itself") << "windows-1252"_ba;
}

void TstPageDecoder::latinLabelsReadAsWindows1252()
{
    QFETCH(QByteArray, label);

    const QByteArray body = "\x80 \x96 \xC5sa";
    const QString expected = u"€ – Åsa"_s;
    QCOMPARE(PageDecoder::decode(body, "text/html; charset=" + label), expected);
    QCOMPARE(PageDecoder::decode("<meta charset=" + label + ">" + body, "text/html"),
             QString::fromLatin1("<meta charset=" + label + ">") + expected);
}

void TstPageDecoder::labelPrecedence_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QString>("expected");

    const QByteArray metaUtf8 = "<meta charset=utf-8>";
    const QByteArray metaCp1252 = "<meta charset=windows-1252>";

    QTest::newRow("header outranks meta")
        << metaUtf8 + Cp1252Names << "text/html; charset=windows-1252"_ba
        << QString::fromLatin1(metaUtf8) + Names;
    QTest::newRow("unknown header label counts as none: meta decides")
        << metaCp1252 + Cp1252Names << "text/html; charset=x-no-such-charset"_ba
        << QString::fromLatin1(metaCp1252) + Names;
    QTest::newRow("unknown labels everywhere, valid UTF-8: read as UTF-8")
        << "<meta charset=bogus>" + Utf8Names << "text/html; charset=bogus"_ba
        << u"<meta charset=bogus>"_s + Names;
    QTest::newRow("unknown label, not valid UTF-8: read as windows-1252")
        << Cp1252Names + " \x80"
        << "text/html; charset=bogus"_ba << Names + u" €"_s;
    QTest::newRow("a label beyond the Latin ones is honoured (iso-8859-15)")
        << "\xA4"_ba
        << "text/html; charset=iso-8859-15"_ba << u"€"_s;
    QTest::newRow("UTF-8 BOM outranks a windows-1252 header, and is dropped")
        << "\xEF\xBB\xBF" + Utf8Names << "text/html; charset=windows-1252"_ba << Names;
    QTest::newRow("UTF-8 BOM outranks a windows-1252 meta")
        << "\xEF\xBB\xBF" + metaCp1252 + Utf8Names << "text/html"_ba
        << QString::fromLatin1(metaCp1252) + Names;
    QTest::newRow("UTF-16LE BOM outranks a UTF-8 header")
        << QByteArray::fromHex("fffe c500 7300 6100") << "text/html; charset=utf-8"_ba << u"Åsa"_s;
}

void TstPageDecoder::labelPrecedence()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);
    QFETCH(QString, expected);

    QCOMPARE(PageDecoder::decode(body, contentType), expected);
}

QTEST_GUILESS_MAIN(TstPageDecoder)
#include "tst_pagedecoder.moc"
