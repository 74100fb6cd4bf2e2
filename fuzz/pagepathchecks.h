#pragma once

// What must hold for any bytes the chat site sends: the road from the body to
// the decoded text to the online names. The fuzzer aborts when a check fails,
// and every run first replays the committed seeds through these checks. The
// reference scan and the UTF-8 validation here are written on their own, so a
// fault in the code under test cannot hide in a helper both sides share.

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

inline constexpr QStringView StartMarker = u"';\" >";
inline constexpr QStringView EndMarker = u"</a>";

// A longer first line is taken as body: no server sends such a Content-Type.
inline constexpr qsizetype MaxContentTypeSize = 256;

struct Input {
    QByteArrayView contentType;
    QByteArrayView body;
};

// The first line, when a '\n' ends it within MaxContentTypeSize bytes, is the
// Content-Type value; what follows it is the body.
inline Input splitInput(QByteArrayView data)
{
    const QByteArrayView head = data.first(std::min(data.size(), MaxContentTypeSize + 1));
    const qsizetype newline = head.indexOf('\n');
    if (newline < 0)
        return {{}, data};
    return {data.first(newline), data.sliced(newline + 1)};
}

// A short, printable excerpt for failure messages.
inline QString excerpt(QStringView text)
{
    constexpr qsizetype Shown = 40;
    QString out;
    for (const QChar c : text.first(std::min(text.size(), Shown))) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7f && c != u'\\')
            out += c;
        else
            out += QString::asprintf("\\u%04x", c.unicode());
    }
    if (text.size() > Shown)
        out += u"...";
    return u'"' + out + u'"';
}

// The names as a plain indexOf walk finds them: the text between each start
// marker and the next end marker, resuming at that end marker.
inline QStringList referenceNames(QStringView text)
{
    QStringList names;
    qsizetype from = 0;
    while (true) {
        const qsizetype marker = text.indexOf(StartMarker, from);
        if (marker < 0)
            break;
        const qsizetype begin = marker + StartMarker.size();
        const qsizetype end = text.indexOf(EndMarker, begin);
        if (end < 0)
            break;
        names.append(text.sliced(begin, end - begin).toString());
        from = end;
    }
    return names;
}

inline qsizetype occurrences(QStringView text, QStringView marker)
{
    qsizetype count = 0;
    for (qsizetype at = text.indexOf(marker); at >= 0; at = text.indexOf(marker, at + 1))
        ++count;
    return count;
}

// Checks names against the text they were scanned from. Each name is located
// the way the scanner walks (findMarker from the previous end marker), then
// checked against the text with plain comparisons.
inline QStringList checkNames(QStringView text, const QStringList &names)
{
    QStringList failures;
    qsizetype searchFrom = 0;
    qsizetype previousEnd = 0; // just past the previous name's end marker
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString &name = names.at(i);
        const QString which = u"name %1 %2"_s.arg(i).arg(excerpt(name));
        const qsizetype marker = Scanner::findMarker(text, Scanner::StartMarker, searchFrom);
        if (marker < 0) {
            failures << which + u": no start marker after the previous name"_s;
            break;
        }
        if (marker < previousEnd)
            failures << which + u": out of page order, its start marker at %1 lies before the "
                                u"previous end marker ends at %2"_s.arg(marker)
                                    .arg(previousEnd);
        // mid() rather than sliced(): a wrong position must fail the check,
        // not read outside the text.
        if (text.mid(marker, StartMarker.size()) != StartMarker)
            failures << which + u": not preceded by the start marker"_s;
        const qsizetype begin = marker + StartMarker.size();
        if (text.mid(begin, name.size()) != name) {
            failures << which + u": is not the text after its start marker at %1"_s.arg(marker);
            break;
        }
        const qsizetype end = begin + name.size();
        if (!text.mid(end).startsWith(EndMarker))
            failures << which + u": not followed by the end marker"_s;
        if (name.contains(EndMarker))
            failures << which + u": holds an end marker"_s;
        previousEnd = end + EndMarker.size();
        searchFrom = end;
    }

    const qsizetype markers = occurrences(text, StartMarker);
    if (names.size() > markers)
        failures << u"%1 names from only %2 start markers"_s.arg(names.size()).arg(markers);

    const QStringList expected = referenceNames(text);
    if (names != expected) {
        qsizetype first = 0;
        while (first < names.size() && first < expected.size() &&
               names.at(first) == expected.at(first))
            ++first;
        // One arg() call: a name may itself hold "%1".
        failures << u"%1 names where the reference scan finds %2; first difference at %3: %4 "
                    u"instead of %5"_s.arg(
                        QString::number(names.size()), QString::number(expected.size()),
                        QString::number(first),
                        first < names.size() ? excerpt(names.at(first)) : u"nothing"_s,
                        first < expected.size() ? excerpt(expected.at(first)) : u"nothing"_s);
    }
    return failures;
}

// Well-formed UTF-8 as the standard defines it: shortest form, no surrogates,
// nothing above U+10FFFF.
inline bool isValidUtf8(QByteArrayView bytes)
{
    qsizetype i = 0;
    while (i < bytes.size()) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        int more = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if (b < 0x80) {
            ++i;
            continue;
        } else if ((b & 0xe0) == 0xc0) {
            more = 1, cp = b & 0x1f, min = 0x80;
        } else if ((b & 0xf0) == 0xe0) {
            more = 2, cp = b & 0x0f, min = 0x800;
        } else if ((b & 0xf8) == 0xf0) {
            more = 3, cp = b & 0x07, min = 0x10000;
        } else {
            return false;
        }
        if (bytes.size() - i <= more)
            return false;
        for (int k = 1; k <= more; ++k) {
            const auto c = static_cast<unsigned char>(bytes[i + k]);
            if ((c & 0xc0) != 0x80)
                return false;
            cp = (cp << 6) | (c & 0x3f);
        }
        if (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
            return false;
        i += more + 1;
    }
    return true;
}

inline bool startsWithBom(QByteArrayView body)
{
    return body.startsWith("\xef\xbb\xbf") || body.startsWith("\xff\xfe") ||
           body.startsWith("\xfe\xff") || body.startsWith(QByteArrayView("\0\0\xfe\xff", 4));
}

inline bool namesUtf8(const QByteArray &label)
{
    return label.isEmpty() || label == "utf-8" || label == "utf8";
}

inline bool isOneUnitPerByteLabel(const QByteArray &label)
{
    return label == "utf-8" || label == "utf8" || label == "windows-1252" ||
           label == "iso-8859-1" || label == "latin1" || label == "us-ascii";
}

// No label, or one no decoder knows: the bytes are read as UTF-8 or
// windows-1252 then.
inline bool isIgnoredLabel(const QByteArray &label)
{
    return label.isEmpty() || !QStringDecoder(label.constData()).isValid();
}

// Printable ASCII and the three whitespace controls, but not '\' and '~':
// Japanese and Chinese legacy encodings may give those two other meanings.
inline bool isPlainAscii(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) {
        return (c >= 0x20 && c < 0x7f && c != '\\' && c != '~') || c == '\t' || c == '\n' ||
               c == '\r';
    });
}

// Checks the decoded text against the bytes it came from.
inline QStringList checkDecoding(const Input &input, QStringView text)
{
    QStringList failures;
    const QByteArray headerLabel = PageDecoder::charsetFromContentType(input.contentType);
    const QByteArray metaLabel = PageDecoder::charsetFromHtmlMeta(input.body);
    const QByteArray label = headerLabel.isEmpty() ? metaLabel : headerLabel;
    const qsizetype bytes = input.body.size();

    // Length. UTF-8, windows-1252 and the UTF-16/32 of a byte order mark turn
    // every byte into at most one UTF-16 unit: a 4-byte UTF-8 sequence gives
    // two, and a bad byte becomes at most one replacement character. Any other
    // encoding gives at most one code point, so two units, per byte; SCSU and
    // BOCU-1 do reach that, with a character above U+FFFF in a single byte.
    // The tight bound is claimed only where no other encoding can be in play.
    const bool oneUnitPerByte = startsWithBom(input.body) || isOneUnitPerByteLabel(headerLabel) ||
                                (isIgnoredLabel(headerLabel) &&
                                 (isIgnoredLabel(metaLabel) || isOneUnitPerByteLabel(metaLabel)));
    const qsizetype bound = oneUnitPerByte ? bytes : 2 * bytes;
    if (text.size() > bound)
        failures << u"%1 characters decoded from %2 bytes (label \"%3\"), more than the %4 "
                    u"possible"_s.arg(text.size())
                        .arg(bytes)
                        .arg(QString::fromLatin1(label))
                        .arg(bound);

    // Valid UTF-8 that nothing labels otherwise is read without loss.
    if (!startsWithBom(input.body) && namesUtf8(label) && isValidUtf8(input.body) &&
        text.toUtf8() != input.body)
        failures << u"valid UTF-8 (label \"%1\") did not come back unchanged: %2"_s.arg(
            QString::fromLatin1(label), excerpt(text));

    // A <meta> declaration is found by reading the bytes as ASCII, so a page
    // that is plain ASCII and has no header charset must read as itself,
    // whatever its <meta> claims.
    if (headerLabel.isEmpty() && isPlainAscii(input.body) && text != QLatin1StringView(input.body))
        failures << u"plain ASCII page with <meta> charset \"%1\" decoded to %2"_s.arg(
            QString::fromLatin1(metaLabel), excerpt(text));
    return failures;
}

// Runs the bytes the way a fetch does, decoding then scanning, and checks both
// steps. Empty when every property holds.
inline QStringList checkPagePath(QByteArrayView data)
{
    const Input input = splitInput(data);
    const QString text = PageDecoder::decode(input.body, input.contentType);
    QStringList failures = checkDecoding(input, text);
    ScanPositions positions;
    failures += checkNames(text, Scanner::scanOnlineNames(text, positions));
    return failures;
}

} // namespace PagePathChecks
