// Timing for the benchmark programs: several runs of a step, told by their
// median and spread, and each run's time for a runner that pools the runs
// of several calls.
#pragma once
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

struct Timing {
    double median;
    double lowQuartile;
    double highQuartile;
    std::vector<double> times;  // in the order run
};

template <typename Step>
Timing MeasureMilliseconds(int repeats, Step step) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        step();
        QueryPerformanceCounter(&end);
        times.push_back(1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                        static_cast<double>(frequency.QuadPart));
    }
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    const size_t last = sorted.size() - 1;
    return {sorted[last / 2], sorted[last / 4], sorted[last - last / 4], times};
}

// "KEY <median ms> <count> <low quartile ms> <high quartile ms> <each run's ms>..."
inline void PrintTiming(const char* key, const Timing& timing, int count) {
    printf("%s %.3f %d %.3f %.3f", key, timing.median, count, timing.lowQuartile, timing.highQuartile);
    for (double time : timing.times) printf(" %.3f", time);
    printf("\n");
}
