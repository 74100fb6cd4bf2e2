#include "pagedecoder.h"

#include <QTest>

using namespace Qt::StringLiterals;

// The rows that tell the sources of a charset apart use bytes that are also
// valid UTF-8, so sniffing alone would read them otherwise.
class TstPageDecoder : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void decodesAsLabelledOrSniffed_data();
    void decodesAsLabelledOrSniffed();
};

void TstPageDecoder::decodesAsLabelledOrSniffed_data()
{
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected");

    const QByteArray utf8 = "\xC3\x85sa Bj\xC3\xB6rn";
    const QByteArray cp1252 = "\xC5sa Bj\xF6rn";
    const QString names = u"Åsa Björn"_s;
    const QString misread = u"Ã…sa BjÃ¶rn"_s;    // the UTF-8 bytes read as windows-1252
    const QByteArray latin = "\x80 \x96 \xC5sa"; // C1 controls under strict Latin-1
    const QString latinRead = u"€ – Åsa"_s;
    const QByteArray bom = "\xEF\xBB\xBF";
    const QByteArray meta1252 = "<meta charset=windows-1252>";
    const QByteArray equiv = "<meta name=robots content=noindex><meta http-equiv=Content-Type "
                             "content=\"text/html; charset=windows-1252\">";
    const QString meta1252Text = QString::fromLatin1(meta1252);

    QTest::newRow("UTF-8 BOM outranks a windows-1252 header, and is dropped")
        << "text/html; charset=windows-1252"_ba << bom + utf8 << names;
    QTest::newRow("UTF-16LE BOM outranks a UTF-8 header")
        << "text/html; charset=utf-8"_ba << QByteArray::fromHex("fffec50073006100") << u"Åsa"_s;
    QTest::newRow("header, in capitals and quotes, outranks meta")
        << "text/html; Charset=\"windows-1252\""_ba
        << "<meta charset=utf-8>" + utf8 << u"<meta charset=utf-8>"_s + misread;
    QTest::newRow("http-equiv meta, second of two")
        << "text/html"_ba << equiv + utf8 << QString::fromLatin1(equiv) + misread;
    QTest::newRow("unknown header label counts as none: meta decides")
        << "text/html; charset=x-no-such-charset"_ba << meta1252 + utf8 << meta1252Text + misread;
    QTest::newRow("no label, no Content-Type, valid UTF-8") << QByteArray() << utf8 << names;
    QTest::newRow("no label, not UTF-8: windows-1252")
        << "text/html"_ba << cp1252 + " \x80" << names + u" €"_s;
    QTest::newRow("unknown labels everywhere, valid UTF-8")
        << "text/html; charset=bogus"_ba
        << "<meta charset=bogus>" + utf8 << u"<meta charset=bogus>"_s + names;
    QTest::newRow("unknown label, not UTF-8: windows-1252")
        << "text/html; charset=bogus"_ba << cp1252 + " \x80" << names + u" €"_s;
    QTest::newRow("ISO-8859-1 header read as windows-1252")
        << "text/html; charset=ISO-8859-1"_ba << latin << latinRead;
    QTest::newRow("latin1 meta read as windows-1252")
        << "text/html"_ba
        << "<meta charset=latin1>" + latin << u"<meta charset=latin1>"_s + latinRead;
    QTest::newRow("a label beyond the Latin ones is honoured (iso-8859-15)")
        << "text/html; charset=iso-8859-15"_ba
        << "\xA4"_ba << u"€"_s;
    QTest::newRow("meta koi8-r on a Cyrillic page is honoured")
        << "text/html"_ba
        << "<meta charset=koi8-r>\xE9\xD7\xC1\xCE"_ba << u"<meta charset=koi8-r>Иван"_s;
    QTest::newRow("a utf-16 header is honoured")
        << "text/html; charset=utf-16le"_ba << QByteArray("B\0o\0", 4) << u"Bo"_s;
    // A meta tag read in ASCII cannot truly name one of these.
    QTest::newRow("meta claiming utf-16 on an ASCII page is ignored")
        << "text/html"_ba
        << "<meta charset=\"utf-16\">Anna"_ba << u"<meta charset=\"utf-16\">Anna"_s;
    QTest::newRow("meta claiming EBCDIC on an ASCII page is ignored")
        << "text/html"_ba
        << "<meta charset=ibm037>Anna"_ba << u"<meta charset=ibm037>Anna"_s;
    QTest::newRow("meta claiming UTF-7 would turn +AGE- into a letter")
        << "text/html"_ba
        << "<meta charset=utf-7>Bo+AGE-"_ba << u"<meta charset=utf-7>Bo+AGE-"_s;
}

void TstPageDecoder::decodesAsLabelledOrSniffed()
{
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);

    QCOMPARE(PageDecoder::decode(body, contentType), expected);
}

QTEST_GUILESS_MAIN(TstPageDecoder)
#include "tst_pagedecoder.moc"
