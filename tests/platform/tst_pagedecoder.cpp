#include "pagedecoder.h"

#include <QTest>

using namespace Qt::StringLiterals;

// The UTF-8 bytes below are also valid windows-1252, so a row only passes when
// the charset came from the source it names.
class TstPageDecoder : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void decodesAsLabelledOrSniffed_data()
    {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");

        const QByteArray utf8 = "\xC3\x85sa";
        const QString misread = u"Ã…sa"_s; // the UTF-8 bytes read as windows-1252
        QTest::newRow("BOM outranks the header and is dropped")
            << "text/html; charset=windows-1252"_ba
            << "\xEF\xBB\xBF" + utf8 << u"Åsa"_s;
        QTest::newRow("header outranks meta")
            << "text/html; Charset=\"windows-1252\""_ba
            << "<meta charset=utf-8>" + utf8 << u"<meta charset=utf-8>"_s + misread;
        QTest::newRow("meta used without a header label")
            << "text/html"_ba
            << "<meta charset=cp1252>" + utf8 << u"<meta charset=cp1252>"_s + misread;
        QTest::newRow("unknown label counts as none")
            << "text/html; charset=bogus"_ba << utf8 << u"Åsa"_s;
        QTest::newRow("unknown label on a windows-1252 page") << "text/html; charset=bogus"_ba
                                                              << "G\xF6ran"_ba << u"Göran"_s;
        QTest::newRow("not UTF-8: windows-1252") << QByteArray() << "\xC5sa \x80"_ba << u"Åsa €"_s;
        QTest::newRow("latin1 read as windows-1252") << "text/html; charset=latin1"_ba
                                                     << "\x80 \x96"_ba << u"€ –"_s;
        // A meta tag read as ASCII cannot truly name one of these.
        QTest::newRow("meta claiming utf-16 on an ASCII page")
            << QByteArray() << "<meta charset=utf-16>Bo"_ba << u"<meta charset=utf-16>Bo"_s;
        QTest::newRow("meta claiming EBCDIC on an ASCII page")
            << QByteArray() << "<meta charset=ibm037>Bo"_ba << u"<meta charset=ibm037>Bo"_s;
    }
    void decodesAsLabelledOrSniffed()
    {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        QCOMPARE(PageDecoder::decode(body, contentType), expected);
    }
};

QTEST_GUILESS_MAIN(TstPageDecoder)
#include "tst_pagedecoder.moc"
