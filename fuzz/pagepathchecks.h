#pragma once

// What must hold for any bytes the chat site sends, on the road from the body
// to the decoded text to the online names. The fuzzer aborts when a check
// fails. The reference scan is written here on its own, so a fault in the
// scanner cannot hide in a helper both sides share.

#include "pagedecoder.h"
#include "scanner.h"

#include <QByteArrayView>
#include <QLatin1StringView>
#include <QStringList>

#include <algorithm>

namespace PagePathChecks {

using namespace Qt::StringLiterals;

// A short, printable excerpt for failure messages.
inline QString excerpt(QStringView text)
{
    return QString::fromLatin1(text.first(std::min<qsizetype>(text.size(), 40))
                                   .toUtf8()
                                   .toPercentEncoding(" !\"#$&'()*+,/:;<=>?@[]|"));
}

// The names as a plain indexOf walk finds them: the text between each start
// marker and the next end marker, resuming at that end marker.
inline QStringList referenceNames(QStringView text)
{
    QStringList names;
    for (qsizetype from = text.indexOf(u"';\" >"); from >= 0;
         from = text.indexOf(u"';\" >", from)) {
        const qsizetype begin = from + 5;
        from = text.indexOf(u"</a>", begin);
        if (from < 0)
            break;
        names.append(text.sliced(begin, from - begin).toString());
    }
    return names;
}

// Printable ASCII and the whitespace controls, but not '\' and '~': Japanese
// and Chinese legacy encodings may give those two other meanings.
inline bool isPlainAscii(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) {
        return (c >= 0x20 && c < 0x7f && c != '\\' && c != '~') || c == '\t' || c == '\n' ||
               c == '\r';
    });
}

// The first line of the input, when a '\n' ends it within 256 bytes, is the
// Content-Type value; the rest is the body. Runs the body the way a fetch does,
// decoding then scanning, and checks both steps. Empty when all holds.
inline QStringList checkPagePath(QByteArrayView data)
{
    const qsizetype newline = data.first(std::min<qsizetype>(data.size(), 257)).indexOf('\n');
    const QByteArrayView contentType = newline < 0 ? QByteArrayView() : data.first(newline);
    const QByteArrayView body = newline < 0 ? data : data.sliced(newline + 1);
    const QString text = PageDecoder::decode(body, contentType);
    const QByteArray header = PageDecoder::charsetFromContentType(contentType);
    const QByteArray label = header.isEmpty() ? PageDecoder::charsetFromHtmlMeta(body) : header;
    QStringList failures;

    // Valid UTF-8 that nothing labels otherwise is read without loss (but
    // for a byte order mark, which is dropped).
    if (!body.startsWith("\xef\xbb\xbf") && (label.isEmpty() || label == "utf-8") &&
        body.isValidUtf8() && text.toUtf8() != body)
        failures << u"valid UTF-8 came back as "_s + excerpt(text);

    // A <meta> tag is read as ASCII, so a plain ASCII page with no header
    // charset reads as itself, whatever its <meta> claims.
    if (header.isEmpty() && isPlainAscii(body) && text != QLatin1StringView(body))
        failures << u"plain ASCII page (meta \"%1\") read as "_s.arg(QLatin1StringView(label)) +
                        excerpt(text);

    ScanPositions positions;
    const QStringList names = Scanner::scanOnlineNames(text, positions);
    const QStringList expected = referenceNames(text);
    if (names != expected)
        failures << u"%1 names where the reference finds %2: %3 against %4"_s.arg(
            QString::number(names.size()), QString::number(expected.size()),
            excerpt(names.join(u'|')), excerpt(expected.join(u'|')));
    return failures;
}

} // namespace PagePathChecks
