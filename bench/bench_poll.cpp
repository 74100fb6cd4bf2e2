// One whole poll through the desktop platform (fetch from a loopback server,
// decode, scan, walk with no match) beside a bare QNetworkAccessManager GET of
// the same page. The server runs in this process: the fetch's event loop
// serves it.
#include "barefetch.h"
#include "benchmain.h"
#include "desktopplatform.h"
#include "memorywatchstate.h"
#include "pageserver.h"
#include "pollcycle.h"
#include "userlistpage.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QNetworkAccessManager>

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

constexpr qsizetype PageNames = 5000;

struct Fixture {
    PageServer server;
    QByteArray body = BenchPage::page(BenchPage::names(PageNames)).toUtf8();
    QNetworkAccessManager network;
    DesktopPlatform platform;
    MemoryWatchState state; // eight empty nicks: nothing on the page matches
    std::unique_ptr<PollCycle> cycle;

    Fixture()
    {
        server.listen();
        server.serve(PageServer::ok(body));
        cycle = std::make_unique<PollCycle>(state, platform, userListUrl(server.hostAndPort()));
    }
};

Fixture &fixture()
{
    static Fixture f;
    return f;
}

qint64 pollNs(Fixture &f, PollOutcome &outcome)
{
    QElapsedTimer clock;
    clock.start();
    outcome = f.cycle->poll();
    const qint64 ns = clock.nsecsElapsed();
    // The in-memory state records every selection; don't let it pile up.
    f.state.selectionHistory.clear();
    f.state.pollIntervals.clear();
    return ns;
}

bool pollWentRight(benchmark::State &state, const PollOutcome &outcome)
{
    if (outcome.kind != PollOutcome::Kind::Listed || outcome.nameCount != PageNames) {
        state.SkipWithError("the poll did not list the whole page");
        return false;
    }
    return true;
}

void BM_BareFetch(benchmark::State &state)
{
    Fixture &f = fixture();
    qsizetype bytes = 0;
    for (auto _ : state) {
        state.SetIterationTime(bareFetchNs(f.network, userListUrl(f.server.hostAndPort()), bytes) /
                               1e9);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    if (bytes != f.body.size())
        state.SkipWithError("the bare fetch did not read the whole page");
    state.SetBytesProcessed(state.iterations() * f.body.size());
}

void BM_Poll(benchmark::State &state)
{
    Fixture &f = fixture();
    PollOutcome outcome;
    for (auto _ : state) {
        state.SetIterationTime(pollNs(f, outcome) / 1e9);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (!pollWentRight(state, outcome))
            break;
    }
    state.SetBytesProcessed(state.iterations() * f.body.size());
    state.SetItemsProcessed(state.iterations() * PageNames);
}

// Both in every iteration, in turn, so a busy spell on the shared machine
// hits both alike. The time is the poll's; the counters compare the two.
void BM_PollBesideBareFetch(benchmark::State &state)
{
    Fixture &f = fixture();
    std::vector<double> bareMs, pollMs, bareCpuMs, pollCpuMs;
    qsizetype bytes = 0;
    PollOutcome outcome;
    bool pollFirst = false;
    for (auto _ : state) {
        pollFirst = !pollFirst;
        qint64 poll = 0;
        qint64 pollCpu = 0;
        const auto timedPoll = [&] {
            const qint64 cpu = processCpuNs();
            poll = pollNs(f, outcome);
            pollCpu = processCpuNs() - cpu;
        };
        if (pollFirst)
            timedPoll();
        const qint64 bareCpu = processCpuNs();
        const qint64 bare = bareFetchNs(f.network, userListUrl(f.server.hostAndPort()), bytes);
        bareCpuMs.push_back((processCpuNs() - bareCpu) / 1e6);
        if (!pollFirst)
            timedPoll();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (!pollWentRight(state, outcome))
            return;
        if (bytes != f.body.size()) {
            state.SkipWithError("the bare fetch did not read the whole page");
            return;
        }
        state.SetIterationTime(poll / 1e9);
        bareMs.push_back(bare / 1e6);
        pollMs.push_back(poll / 1e6);
        pollCpuMs.push_back(pollCpu / 1e6);
    }
    const double bare = median(bareMs);
    const double poll = median(pollMs);
    // Allowed: the bare fetch plus 20% plus 5 ms.
    const double budget = bare * 1.2 + 5.0;
    state.counters["bare_ms"] = bare;
    state.counters["poll_ms"] = poll;
    state.counters["ratio"] = poll / bare;
    state.counters["budget_ms"] = budget;
    state.counters["within_budget"] = poll <= budget ? 1 : 0;
    state.counters["bare_cpu_ms"] = median(bareCpuMs);
    state.counters["poll_cpu_ms"] = median(pollCpuMs);
    state.counters["page_bytes"] = double(f.body.size());
}

} // namespace

BENCHMARK(BM_BareFetch)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Poll)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PollBesideBareFetch)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    return runBenchmarks(argc, argv);
}
