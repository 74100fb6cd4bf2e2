#include "pagepathchecks.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;

class TstPagePathFuzz : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void seedCorpusKeepsEveryProperty_data();
    void seedCorpusKeepsEveryProperty();
    void caughtInputsKeepEveryProperty_data();
    void caughtInputsKeepEveryProperty();
    void caughtPagesGiveTheirNames_data();
    void caughtPagesGiveTheirNames();
    void nameChecksRejectWrongScans_data();
    void nameChecksRejectWrongScans();
    void decodingChecksRejectWrongText_data();
    void decodingChecksRejectWrongText();
};

void TstPagePathFuzz::seedCorpusKeepsEveryProperty_data()
{
    QTest::addColumn<QByteArray>("input");

    const QDir corpus(QStringLiteral(VINDRIK_FUZZ_CORPUS_DIR));
    const QStringList files = corpus.entryList(QDir::Files, QDir::Name);
    QVERIFY2(files.size() >= 10, qPrintable(u"seed corpus missing in "_s + corpus.path()));
    for (const QString &name : files) {
        QFile file(corpus.filePath(name));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        QTest::newRow(qPrintable(name)) << file.readAll();
    }
}

void TstPagePathFuzz::seedCorpusKeepsEveryProperty()
{
    QFETCH(QByteArray, input);
    const QStringList failures = PagePathChecks::checkPagePath(input);
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u'\n')));
}

// Inputs the fuzzer found, as it wrote them (first line: Content-Type).
void TstPagePathFuzz::caughtInputsKeepEveryProperty_data()
{
    QTest::addColumn<QByteArray>("input");

    QTest::newRow("ASCII page whose meta claims utf-16be")
        << QByteArray::fromBase64("JztiaWc1PG1ldGEgY2hhcnNldD0JCQkJCQkJCQkJCQkJCQl1dGYtMTZiZT4=");
}

void TstPagePathFuzz::caughtInputsKeepEveryProperty()
{
    QFETCH(QByteArray, input);
    const QStringList failures = PagePathChecks::checkPagePath(input);
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u'\n')));
}

// The same faults on a real user list: the names must come out.
void TstPagePathFuzz::caughtPagesGiveTheirNames_data()
{
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("names");

    const QByteArray list = "<a href=\"#\" onclick=\"valj='Anna';\" >Anna</a><br>\n"
                            "<a href=\"#\" onclick=\"valj='Bo';\" >Bo</a><br>\n";
    const QStringList names{u"Anna"_s, u"Bo"_s};
    QTest::newRow("meta claims utf-16 on an ASCII page")
        << "text/html"_ba
        << "<meta charset=\"utf-16\">" + list << names;
    QTest::newRow("meta claims utf-32 on an ASCII page") << "text/html"_ba
                                                         << "<meta charset=utf-32>" + list << names;
    QTest::newRow("meta claims EBCDIC on an ASCII page") << "text/html"_ba
                                                         << "<meta charset=ibm037>" + list << names;
    QTest::newRow("meta claims UTF-7, which would turn +AGE- into a letter")
        << "text/html"_ba
        << "<meta charset=utf-7><a onclick=\"valj='x';\" >Bo+AGE-</a>"_ba
        << QStringList{u"Bo+AGE-"_s};
    // The guard must not cost the pages whose meta is true.
    QTest::newRow("meta koi8-r on a Cyrillic page is still honoured")
        << "text/html"_ba
        << "<meta charset=koi8-r><a onclick=\"valj='x';\" >\xe9\xd7\xc1\xce</a>"_ba
        << QStringList{u"Иван"_s};
    QTest::newRow("meta shift_jis on a Japanese page is still honoured")
        << "text/html"_ba
        << "<meta charset=shift_jis><a onclick=\"valj='x';\" >\x93\xfa\x96\x7b</a>"_ba
        << QStringList{u"日本"_s};
    QTest::newRow("a utf-16 header is still honoured")
        << "text/html; charset=utf-16le"_ba << QByteArray("'\0;\0\"\0 \0>\0B\0o\0<\0/\0a\0>\0", 22)
        << QStringList{u"Bo"_s};
}

void TstPagePathFuzz::caughtPagesGiveTheirNames()
{
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    QFETCH(QStringList, names);
    ScanPositions positions;
    QCOMPARE(Scanner::scanOnlineNames(PageDecoder::decode(body, contentType), positions), names);
}

// The checks themselves must catch a scan that is wrong in each way they
// claim to, or a green fuzzing run would mean nothing.
void TstPagePathFuzz::nameChecksRejectWrongScans_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("names");

    const QString s = u"';\" >"_s;
    const QString page = u"x"_s + s + u"Anna</a>y"_s + s + u"Bo</a>z"_s;
    QTest::newRow("names out of page order") << page << QStringList{u"Bo"_s, u"Anna"_s};
    QTest::newRow("a name left out") << page << QStringList{u"Anna"_s};
    QTest::newRow("the first name left out") << page << QStringList{u"Bo"_s};
    QTest::newRow("a name too many") << page << QStringList{u"Anna"_s, u"Bo"_s, u"Bo"_s};
    QTest::newRow("name trimmed") << s + u" Anna </a>"_s << QStringList{u"Anna"_s};
    QTest::newRow("name one character short") << page << QStringList{u"Ann"_s, u"Bo"_s};
    QTest::newRow("name runs through its end marker")
        << s + u"A</a>B</a>"_s << QStringList{u"A</a>B"_s};
    QTest::newRow("inner start marker taken as a new name")
        << s + u"A"_s + s + u"B</a>"_s << QStringList{u"B"_s};
    QTest::newRow("name without end marker taken")
        << s + u"Anna</a>"_s + s + u"Bo"_s << QStringList{u"Anna"_s, u"Bo"_s};
    QTest::newRow("end marker in capitals taken as one")
        << s + u"Anna</A>"_s << QStringList{u"Anna"_s};
    QTest::newRow("names with no start marker") << u"Anna</a>"_s << QStringList{u"Anna"_s};
}

void TstPagePathFuzz::nameChecksRejectWrongScans()
{
    QFETCH(QString, text);
    QFETCH(QStringList, names);
    QVERIFY(!PagePathChecks::checkNames(text, names).isEmpty());
}

void TstPagePathFuzz::decodingChecksRejectWrongText_data()
{
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("text");

    const QByteArray utf8 = "\xC3\x85sa \xF0\x9F\x98\x80"; // "Åsa" and an emoji
    QTest::newRow("valid UTF-8 read as windows-1252")
        << QByteArray() << utf8 << QString::fromLatin1(utf8);
    QTest::newRow("valid UTF-8 labelled utf-8, a character lost")
        << "text/html; charset=utf-8"_ba << utf8 << u"Åsa "_s;
    QTest::newRow("more characters than bytes from UTF-8") << QByteArray() << "ab"_ba << u"abc"_s;
    QTest::newRow("more than two characters a byte from any encoding")
        << "text/html; charset=scsu"_ba
        << "ab"_ba << u"abcde"_s;
    QTest::newRow("plain ASCII page changed by its meta")
        << "text/html"_ba
        << "<meta charset=x>Anna"_ba << u"<meta charset=x>Bnna"_s;
}

void TstPagePathFuzz::decodingChecksRejectWrongText()
{
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    QFETCH(QString, text);
    QVERIFY(!PagePathChecks::checkDecoding({contentType, body}, text).isEmpty());
}

QTEST_GUILESS_MAIN(TstPagePathFuzz)
#include "tst_pagepathfuzz.moc"
