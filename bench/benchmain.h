#pragma once

#include <QtGlobal>

// Runs the registered benchmarks inside a QApplication (offscreen unless a
// platform is chosen), since the fetch and the window need its event loop.
int runBenchmarks(int argc, char **argv);

// Windows go to the offscreen platform unless QT_QPA_PLATFORM says otherwise.
void preferOffscreen();

#include <algorithm>
#include <cstddef>
#include <vector>

#include <time.h> // NOLINT(modernize-deprecated-headers): clock_gettime is POSIX, not <ctime>

// CPU time of the whole process, all threads (the network thread and the
// in-process server included): unlike wall time, it hardly grows when other
// work on the machine takes the cores away.
inline qint64 processCpuNs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// The middle of the samples: on a shared machine one busy spell must not
// move the figure.
inline double median(std::vector<double> samples)
{
    if (samples.empty())
        return 0;
    const auto middle = samples.begin() + std::ptrdiff_t(samples.size() / 2);
    std::nth_element(samples.begin(), middle, samples.end());
    return *middle;
}
