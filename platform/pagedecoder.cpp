// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#include "pagedecoder.h"

#include <QLatin1StringView>
#include <QStringDecoder>

#include <optional>

namespace {

bool isLabelChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.' || c == ':';
}

qsizetype indexOfCaseless(QByteArrayView text, QByteArrayView key, qsizetype from)
{
    for (qsizetype i = from; i + key.size() <= text.size(); ++i) {
        if (text.sliced(i, key.size()).compare(key, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

// The label after the first "charset" (any case) that is followed by '='.
QByteArray labelAfterCharset(QByteArrayView text)
{
    static constexpr QByteArrayView key("charset");
    for (qsizetype hit = indexOfCaseless(text, key, 0); hit >= 0;
         hit = indexOfCaseless(text, key, hit + key.size())) {
        qsizetype p = hit + key.size();
        while (p < text.size() && (text[p] == ' ' || text[p] == '\t'))
            ++p;
        if (p >= text.size() || text[p] != '=')
            continue;
        ++p;
        while (p < text.size() &&
               (text[p] == ' ' || text[p] == '\t' || text[p] == '"' || text[p] == '\''))
            ++p;
        const qsizetype start = p;
        while (p < text.size() && isLabelChar(text[p]))
            ++p;
        if (p > start)
            return text.sliced(start, p - start).toByteArray().toLower();
    }
    return {};
}

bool isWindows1252Alias(const QByteArray &label)
{
    // What browsers do: these labels are windows-1252 on the web.
    return label == "iso-8859-1" || label == "iso8859-1" || label == "latin1" ||
           label == "latin-1" || label == "l1" || label == "us-ascii" || label == "ascii" ||
           label == "cp1252" || label == "windows-1252" || label == "x-cp1252" ||
           label == "iso_8859-1";
}

QString decodeWindows1252(QByteArrayView bytes)
{
    QStringDecoder decoder("windows-1252");
    if (decoder.isValid())
        return decoder.decode(bytes);
    return QString::fromLatin1(bytes); // no ICU: Latin-1 is the closest we have
}

std::optional<QString> decodeWithLabel(QByteArrayView bytes, const QByteArray &label)
{
    if (label.isEmpty())
        return std::nullopt;
    if (isWindows1252Alias(label))
        return decodeWindows1252(bytes);
    if (label == "utf-8" || label == "utf8") {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        return decoder.decode(bytes);
    }
    QStringDecoder decoder(label.constData(), QStringDecoder::Flag::Stateless);
    if (!decoder.isValid())
        return std::nullopt;
    return decoder.decode(bytes);
}

// Text in UTF-16 with no mark: a page is mostly ASCII, so one byte of nearly
// every pair is NUL, and always the same one. Other pages have no NULs at all.
std::optional<QStringConverter::Encoding> utf16ByItsNuls(QByteArrayView body)
{
    const qsizetype pairs = std::min<qsizetype>(body.size() / 2, 2048);
    if (pairs < 2)
        return std::nullopt;
    qsizetype evenNuls = 0;
    qsizetype oddNuls = 0;
    for (qsizetype i = 0; i < pairs; ++i) {
        evenNuls += body[2 * i] == '\0';
        oddNuls += body[2 * i + 1] == '\0';
    }
    if (oddNuls >= pairs * 3 / 4 && evenNuls <= pairs / 8)
        return QStringConverter::Utf16LE;
    if (evenNuls >= pairs * 3 / 4 && oddNuls <= pairs / 8)
        return QStringConverter::Utf16BE;
    return std::nullopt;
}

// A <meta> tag is found by reading the bytes as ASCII, so it can only name an
// encoding that reads ASCII as ASCII. One that does not (UTF-16, UTF-32,
// EBCDIC, UTF-7, BOCU-1) is a false claim, and trusting it would turn a plain
// page, its markers included, into nonsense.
bool readsAsciiAsAscii(const QByteArray &label)
{
    static constexpr QByteArrayView probe(
        "\t\n\r !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[]^_`"
        "abcdefghijklmnopqrstuvwxyz{|}");
    const auto text = decodeWithLabel(probe, label);
    return text && *text == QLatin1StringView(probe);
}

} // namespace

namespace PageDecoder {

QByteArray charsetFromContentType(QByteArrayView contentType)
{
    return labelAfterCharset(contentType);
}

QByteArray charsetFromHtmlMeta(QByteArrayView html)
{
    // Browsers look only this far for the declaration; so do we, which also
    // keeps the cost of a huge page small.
    html = html.first(std::min<qsizetype>(html.size(), 4096));
    static constexpr QByteArrayView metaTag("<meta");
    for (qsizetype meta = indexOfCaseless(html, metaTag, 0); meta >= 0;
         meta = indexOfCaseless(html, metaTag, meta + metaTag.size())) {
        const qsizetype close = html.indexOf('>', meta);
        const QByteArrayView tag = close < 0 ? html.sliced(meta) : html.sliced(meta, close - meta);
        QByteArray label = labelAfterCharset(tag);
        if (!label.isEmpty())
            return label;
    }
    return {};
}

QString decode(QByteArrayView body, QByteArrayView contentType)
{
    // A byte order mark outranks every label, as it does in browsers.
    if (const auto bom = QStringConverter::encodingForData(body)) {
        QStringDecoder decoder(*bom);
        return decoder.decode(body);
    }
    if (auto text = decodeWithLabel(body, charsetFromContentType(contentType)))
        return *text;
    if (const auto utf16 = utf16ByItsNuls(body)) {
        QStringDecoder decoder(*utf16, QStringDecoder::Flag::Stateless);
        return decoder.decode(body);
    }
    if (const QByteArray label = charsetFromHtmlMeta(body); readsAsciiAsAscii(label)) {
        if (auto text = decodeWithLabel(body, label))
            return *text;
    }

    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(body);
    if (!utf8.hasError())
        return text;
    return decodeWindows1252(body);
}

bool isUnreadable(QStringView text)
{
    // A quarter is far more than any page of text holds, and far less than a
    // page read in the wrong one of UTF-8 and UTF-16 does.
    const QStringView start = text.first(std::min<qsizetype>(text.size(), 4096));
    const auto junk = std::count_if(start.begin(), start.end(), [](QChar c) {
        return c == u'\0' || c == QChar::ReplacementCharacter;
    });
    return junk > 0 && junk >= start.size() / 4;
}

} // namespace PageDecoder
