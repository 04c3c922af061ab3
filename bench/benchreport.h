#pragma once

// Printing the benchmarks' figures, so that every benchmark reads alike.

#include <QElapsedTimer>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace benchreport {

inline double elapsedMs(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

// One line of the median, fastest and slowest of `values` (milliseconds); nothing when empty.
inline void printSpread(const char *label, int labelWidth, std::vector<double> values)
{
    if (values.empty())
        return;
    std::sort(values.begin(), values.end());
    std::printf("  %-*s median %8.1f ms   min %8.1f ms   max %8.1f ms\n", labelWidth, label,
                values[values.size() / 2], values.front(), values.back());
}

// One line of the average time of `calls` calls that took `nanoseconds` together.
inline void printPerCall(const char *what, int labelWidth, std::int64_t nanoseconds, int calls)
{
    std::printf("%-*s %10.2f us per call (%d calls)\n", labelWidth, what,
                double(nanoseconds) / calls / 1000.0, calls);
}

} // namespace benchreport
