#pragma once

// What must hold for any bytes the chat site sends, on the road from the body
// to the decoded text to the online names. The fuzzer aborts when a check
// fails. The reference scan and the UTF-8 validation are written here on
// their own, so a fault in the code under test cannot hide in a helper both
// sides share.

#include "pagedecoder.h"
#include "scanner.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QLatin1StringView>
#include <QString>
#include <QStringDecoder>
#include <QStringList>
#include <QStringView>

#include <algorithm>

namespace PagePathChecks {

using namespace Qt::StringLiterals;

// The first line, when a '\n' ends it within 256 bytes, is the Content-Type
// value; the rest is the body.
struct Input {
    QByteArrayView contentType;
    QByteArrayView body;
};
inline Input splitInput(QByteArrayView data)
{
    const qsizetype newline = data.first(std::min<qsizetype>(data.size(), 257)).indexOf('\n');
    if (newline < 0)
        return {{}, data};
    return {data.first(newline), data.sliced(newline + 1)};
}

// A short, printable excerpt for failure messages.
inline QString excerpt(QStringView text)
{
    QString out;
    for (const QChar c : text.first(std::min<qsizetype>(text.size(), 40)))
        out += c.unicode() >= 0x20 && c.unicode() < 0x7f
                   ? QString(c)
                   : QString::asprintf("\\u%04x", c.unicode());
    return u'"' + out + (text.size() > 40 ? u"...\""_s : u"\""_s);
}

// The names as a plain indexOf walk finds them: the text between each start
// marker and the next end marker, resuming at that end marker.
inline QStringList referenceNames(QStringView text)
{
    static constexpr QStringView start = u"';\" >";
    static constexpr QStringView end = u"</a>";
    QStringList names;
    for (qsizetype from = text.indexOf(start); from >= 0; from = text.indexOf(start, from)) {
        const qsizetype begin = from + start.size();
        from = text.indexOf(end, begin);
        if (from < 0)
            break;
        names.append(text.sliced(begin, from - begin).toString());
    }
    return names;
}

// Well-formed UTF-8 as the standard defines it: shortest form, no surrogates,
// nothing above U+10FFFF.
inline bool isValidUtf8(QByteArrayView bytes)
{
    for (qsizetype i = 0; i < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        const int more = b < 0x80             ? 0
                         : (b & 0xe0) == 0xc0 ? 1
                         : (b & 0xf0) == 0xe0 ? 2
                         : (b & 0xf8) == 0xf0 ? 3
                                              : -1;
        if (more < 0 || bytes.size() - i <= more)
            return false;
        char32_t cp = more == 0 ? b : b & (0x3f >> more);
        for (int k = 1; k <= more; ++k) {
            const auto c = static_cast<unsigned char>(bytes[i + k]);
            if ((c & 0xc0) != 0x80)
                return false;
            cp = (cp << 6) | (c & 0x3f);
        }
        static constexpr char32_t shortest[] = {0, 0x80, 0x800, 0x10000};
        if (cp < shortest[more] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
            return false;
        i += more + 1;
    }
    return true;
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

// Runs the bytes the way a fetch does, decoding then scanning, and checks both
// steps. Empty when every property holds.
inline QStringList checkPagePath(QByteArrayView data)
{
    const Input input = splitInput(data);
    const QString text = PageDecoder::decode(input.body, input.contentType);
    const QByteArray header = PageDecoder::charsetFromContentType(input.contentType);
    const QByteArray meta = PageDecoder::charsetFromHtmlMeta(input.body);
    QStringList failures;

    // Valid UTF-8 that nothing labels otherwise is read without loss (but
    // for a byte order mark, which is dropped).
    const QByteArray label = header.isEmpty() ? meta : header;
    if (!input.body.startsWith("\xef\xbb\xbf") && (label.isEmpty() || label == "utf-8") &&
        isValidUtf8(input.body) && text.toUtf8() != input.body)
        failures << u"valid UTF-8 came back as "_s + excerpt(text);

    // A <meta> tag is read as ASCII, so a plain ASCII page with no header
    // charset reads as itself, whatever its <meta> claims.
    if (header.isEmpty() && isPlainAscii(input.body) && text != QLatin1StringView(input.body))
        failures << u"plain ASCII page (meta \"%1\") read as "_s.arg(QLatin1StringView(meta)) +
                        excerpt(text);

    ScanPositions positions;
    const QStringList names = Scanner::scanOnlineNames(text, positions);
    const QStringList expected = referenceNames(text);
    if (names != expected) {
        qsizetype i = 0;
        while (i < names.size() && i < expected.size() && names[i] == expected[i])
            ++i;
        failures << u"%1 names where the reference finds %2; name %3 is %4, not %5"_s.arg(
            QString::number(names.size()), QString::number(expected.size()), QString::number(i),
            i < names.size() ? excerpt(names[i]) : u"missing"_s,
            i < expected.size() ? excerpt(expected[i]) : u"missing"_s);
    }
    return failures;
}

} // namespace PagePathChecks
