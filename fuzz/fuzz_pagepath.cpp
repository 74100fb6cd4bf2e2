// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

// libFuzzer target for the page path: the first line of the input, when a
// '\n' ends it within 256 bytes, is the Content-Type value, the rest the body.
// The body is decoded and scanned as a fetch does, under AddressSanitizer and
// UndefinedBehaviorSanitizer. Then a page is built with the text's lines for
// names, and its names must come back exactly. A difference aborts, so
// libFuzzer keeps the input.

#include "pagedecoder.h"
#include "scanner.h"

#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype newline = input.first(std::min<qsizetype>(input.size(), 257)).indexOf('\n');
    const QString text = newline < 0
                             ? PageDecoder::decode(input)
                             : PageDecoder::decode(input.sliced(newline + 1), input.first(newline));
    ScanPositions positions;
    Scanner::scanOnlineNames(text, positions);

    // Any name but one holding an end marker, which no page can carry.
    QStringList built;
    QString page;
    for (const QString &name : text.split(u'\n')) {
        if (name.contains(Scanner::EndMarker))
            continue;
        built << name;
        page += u"<br>"_s;
        page += Scanner::StartMarker;
        page += name;
        page += Scanner::EndMarker;
    }
    if (Scanner::scanOnlineNames(page, positions) != built)
        std::abort();
    return 0;
}
