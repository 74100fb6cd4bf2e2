// libFuzzer target for the page path: the first line of the input, when a
// '\n' ends it within 256 bytes, is the Content-Type value, the rest the body.
// The body is decoded and scanned as a fetch does, under AddressSanitizer and
// UndefinedBehaviorSanitizer; the names must be those a plain indexOf walk,
// written here on its own, finds. A difference aborts, so libFuzzer keeps the input.

#include "pagedecoder.h"
#include "scanner.h"

#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype newline = input.first(std::min<qsizetype>(input.size(), 257)).indexOf('\n');
    const QString text = newline < 0
                             ? PageDecoder::decode(input)
                             : PageDecoder::decode(input.sliced(newline + 1), input.first(newline));
    QStringList expected;
    for (qsizetype from = text.indexOf(u"';\" >"); from >= 0;
         from = text.indexOf(u"';\" >", from)) {
        const qsizetype begin = from + 5;
        from = text.indexOf(u"</a>", begin);
        if (from < 0)
            break;
        expected.append(text.sliced(begin, from - begin));
    }
    ScanPositions positions;
    const QStringList names = Scanner::scanOnlineNames(text, positions);
    if (names == expected)
        return 0;
    std::fprintf(stderr, "the scanner found %lld names where a plain search finds %lld\n",
                 static_cast<long long>(names.size()), static_cast<long long>(expected.size()));
    std::abort();
}
