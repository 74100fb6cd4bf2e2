// libFuzzer target for the page path: the first line of the input is the
// Content-Type value, the rest the body. The body is decoded, the text
// scanned, and every property in pagepathchecks.h checked; a failure aborts
// with its reasons so libFuzzer keeps the input.

#include "pagepathchecks.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    const QStringList failures = PagePathChecks::checkPagePath(input);
    if (failures.isEmpty())
        return 0;
    for (const QString &failure : failures)
        std::fprintf(stderr, "page path property failed: %s\n", qUtf8Printable(failure));
    std::abort();
}
