#pragma once

// The clock and the summary figure that the Windows-side benchmarks share.

#include <windows.h>

#include <algorithm>
#include <vector>

namespace tolvek::testing {

// Microseconds on the performance counter.
[[nodiscard]] inline double now_us()
{
    LARGE_INTEGER counter;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return 1e6 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The middle value (the upper one of an even count); rounds of a benchmark are summed up by it
// so that a round disturbed by the shared machine's load does not move the figure.
[[nodiscard]] inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace tolvek::testing
