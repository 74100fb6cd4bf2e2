// The scanner over a large user list, beside the same loop built on a general
// substring search.
#include "scanner.h"
#include "userlistpage.h"

#include <benchmark/benchmark.h>

namespace {

const QString &bigPage()
{
    static const QString page = BenchPage::page(BenchPage::namesForPageOf(1024 * 1024));
    return page;
}

// The scanner's loop with QStringView::indexOf in place of its own search.
QStringList scanWithIndexOf(QStringView strPage, ScanPositions &positions)
{
    QStringList names;
    positions.intPos = 0;
    while (true) {
        const qsizetype start = strPage.indexOf(Scanner::StartMarker, positions.intPos);
        if (start < 0)
            break;
        positions.intStart = start + Scanner::StartMarker.size();
        const qsizetype end = strPage.indexOf(Scanner::EndMarker, positions.intStart);
        if (end < 0)
            break;
        positions.intLen = end - positions.intStart;
        names.append(strPage.sliced(positions.intStart, positions.intLen).toString());
        positions.intPos = positions.intStart + positions.intLen;
    }
    return names;
}

template <typename Scan> void runScan(benchmark::State &state, Scan scan)
{
    const QString &page = bigPage();
    ScanPositions positions;
    qsizetype found = 0;
    for (auto _ : state) {
        const QStringList names = scan(page, positions);
        found = names.size();
        benchmark::DoNotOptimize(names.constData());
    }
    // Both searches must find every name, or the figures compare nothing.
    static qsizetype expected = -1;
    if (expected < 0)
        expected = found;
    if (found != expected || found == 0)
        state.SkipWithError("the two searches found different names");

    // Bytes are the page's UTF-16 size, the form the scanner reads.
    state.SetBytesProcessed(state.iterations() * page.size() * qsizetype(sizeof(QChar)));
    state.SetItemsProcessed(state.iterations() * found);
    state.counters["names"] = double(found);
    state.counters["page_chars"] = double(page.size());
    state.counters["page_utf8"] = double(page.toUtf8().size());
}

void BM_ScannerScan(benchmark::State &state)
{
    runScan(state, [](QStringView page, ScanPositions &positions) {
        return Scanner::scanOnlineNames(page, positions);
    });
}

void BM_IndexOfScan(benchmark::State &state)
{
    runScan(state, scanWithIndexOf);
}

// The searches alone, without building the list: where the time goes.
template <typename Find> void runMarkersOnly(benchmark::State &state, Find find)
{
    const QStringView page = bigPage();
    qsizetype found = 0;
    for (auto _ : state) {
        found = 0;
        qsizetype pos = 0;
        while (true) {
            const qsizetype start = find(page, Scanner::StartMarker, pos);
            if (start < 0)
                break;
            const qsizetype end =
                find(page, Scanner::EndMarker, start + Scanner::StartMarker.size());
            if (end < 0)
                break;
            ++found;
            pos = end;
        }
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(state.iterations() * page.size() * qsizetype(sizeof(QChar)));
    state.SetItemsProcessed(state.iterations() * found);
}

void BM_ScannerMarkersOnly(benchmark::State &state)
{
    runMarkersOnly(state, Scanner::findMarker);
}

void BM_IndexOfMarkersOnly(benchmark::State &state)
{
    runMarkersOnly(state, [](QStringView text, QStringView marker, qsizetype from) {
        return text.indexOf(marker, from);
    });
}

} // namespace

BENCHMARK(BM_ScannerScan)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_IndexOfScan)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScannerMarkersOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_IndexOfMarkersOnly)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
