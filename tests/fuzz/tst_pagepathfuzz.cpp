#include "pagepathchecks.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;

class TstPagePathFuzz : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void corpusAndCaughtInputsKeepEveryProperty_data();
    void corpusAndCaughtInputsKeepEveryProperty();
    void nameChecksRejectWrongScans_data();
    void nameChecksRejectWrongScans();
    void decodingChecksRejectWrongText_data();
    void decodingChecksRejectWrongText();
};

void TstPagePathFuzz::corpusAndCaughtInputsKeepEveryProperty_data()
{
    QTest::addColumn<QByteArray>("input"); // first line: Content-Type

    const QDir corpus(QStringLiteral(VINDRIK_FUZZ_CORPUS_DIR));
    const QStringList files = corpus.entryList(QDir::Files, QDir::Name);
    QVERIFY2(files.size() >= 10, qPrintable(u"seed corpus missing in "_s + corpus.path()));
    for (const QString &name : files) {
        QFile file(corpus.filePath(name));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        QTest::newRow(qPrintable(name)) << file.readAll();
    }
    // Inputs the fuzzer caught, as it wrote them.
    QTest::newRow("caught: ASCII page whose meta claims utf-16be")
        << QByteArray::fromBase64("JztiaWc1PG1ldGEgY2hhcnNldD0JCQkJCQkJCQkJCQkJCQl1dGYtMTZiZT4=");
}

void TstPagePathFuzz::corpusAndCaughtInputsKeepEveryProperty()
{
    QFETCH(QByteArray, input);
    const QStringList failures = PagePathChecks::checkPagePath(input);
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u'\n')));
}

// The checks must catch a scan or a decoding that is wrong in each way they
// claim to, or a green fuzzing run would mean nothing.
void TstPagePathFuzz::nameChecksRejectWrongScans_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("names");

    const QString s = u"';\" >"_s;
    const QString page = u"x"_s + s + u"Anna</a>y"_s + s + u"Bo</a>z"_s;
    QTest::newRow("names out of page order") << page << QStringList{u"Bo"_s, u"Anna"_s};
    QTest::newRow("a name left out") << page << QStringList{u"Anna"_s};
    QTest::newRow("a name too many") << page << QStringList{u"Anna"_s, u"Bo"_s, u"Bo"_s};
    QTest::newRow("name trimmed") << s + u" Anna </a>"_s << QStringList{u"Anna"_s};
    QTest::newRow("runs through end marker") << s + u"A</a>B</a>"_s << QStringList{u"A</a>B"_s};
    QTest::newRow("restarts at inner start") << s + u"A"_s + s + u"B</a>"_s << QStringList{u"B"_s};
    QTest::newRow("no end marker, still taken")
        << s + u"Anna</a>"_s + s + u"Bo"_s << QStringList{u"Anna"_s, u"Bo"_s};
    QTest::newRow("</A> taken as end") << s + u"Anna</A>"_s << QStringList{u"Anna"_s};
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
    QTest::newRow("UTF-8 read as cp1252") << QByteArray() << utf8 << QString::fromLatin1(utf8);
    QTest::newRow("UTF-8, a character lost") << "text/html; charset=utf-8"_ba << utf8 << u"Åsa "_s;
    QTest::newRow("more characters than bytes from UTF-8") << QByteArray() << "ab"_ba << u"abc"_s;
    QTest::newRow("over 2 characters a byte") << "text/html; charset=scsu"_ba
                                              << "ab"_ba << u"abcde"_s;
    QTest::newRow("ASCII changed by meta")
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
