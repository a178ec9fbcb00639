// Timing for the benchmark programs: several runs of a step, told by their
// median and spread.
#pragma once
#include <windows.h>

#include <algorithm>
#include <vector>

struct Timing {
    double median;
    double lowQuartile;
    double highQuartile;
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
    std::sort(times.begin(), times.end());
    const size_t last = times.size() - 1;
    return {times[last / 2], times[last / 4], times[last - last / 4]};
}
