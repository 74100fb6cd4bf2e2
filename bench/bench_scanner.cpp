// The scanner over a user list of 1 MiB, beside the same loop built on a
// general substring search.
#include "chatsite.h"
#include "scanner.h"

#include <QString>
#include <QStringList>

#include <benchmark/benchmark.h>

namespace {

// The demo site's regulars over and over, as many as fill a page of 1 MiB.
QStringList bigPageNames()
{
    const QStringList regulars = ChatSite::regulars();
    QStringList names;
    for (qsizetype bytes = 0; bytes < 1024 * 1024;) {
        names << regulars[names.size() % regulars.size()];
        bytes += ChatSite::userLink(names.last()).toUtf8().size();
    }
    return names;
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

// scan is the scanner or the loop above.
void BM_Scan(benchmark::State &state, QStringList (*scan)(QStringView, ScanPositions &))
{
    static const QStringList pageNames = bigPageNames();
    static const QString page = QString::fromUtf8(ChatSite::userListPage(pageNames));
    ScanPositions positions;
    QStringList names;
    for (auto _ : state) {
        names = scan(page, positions);
        benchmark::DoNotOptimize(names.constData());
    }
    // A search that misses or invents a name would be timed doing other work.
    if (names != pageNames)
        state.SkipWithError("the scan did not return the names the page was built from");

    // Bytes are the page's UTF-16 size, the form the scanner reads.
    state.SetBytesProcessed(state.iterations() * page.size() * qsizetype(sizeof(QChar)));
    state.SetItemsProcessed(state.iterations() * names.size());
    state.counters["names"] = double(names.size());
    state.counters["page_utf8"] = double(page.toUtf8().size());
}

} // namespace

BENCHMARK_CAPTURE(BM_Scan, Scanner, Scanner::scanOnlineNames)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Scan, IndexOf, scanWithIndexOf)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
