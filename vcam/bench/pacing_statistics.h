#pragma once

// Figures of a camera's pacing from the arrival times of its samples: how far the intervals
// between consecutive samples stray from the frame interval. Platform-free.

#include <cstddef>
#include <cstdint>
#include <span>

namespace tolvek::vcam {

inline constexpr std::int64_t kFrameIntervalNs = 33'333'333; // 1/30 s

struct PacingFigures {
    std::size_t intervals = 0;
    double mean_interval_ns = 0;
    // The median, the 99th percentile (both by nearest rank) and the largest of
    // |interval - target|.
    std::int64_t median_abs_deviation_ns = 0;
    std::int64_t p99_abs_deviation_ns = 0;
    std::int64_t max_abs_deviation_ns = 0;
};

// The figures of the intervals between consecutive `arrivals_ns` (ascending), leaving out
// every sample that came less than `settle_ns` after the first one: a graph's start is no
// part of the camera's steady pacing.
[[nodiscard]] PacingFigures pacing_figures(std::span<const std::int64_t> arrivals_ns,
                                           std::int64_t settle_ns,
                                           std::int64_t target_ns = kFrameIntervalNs);

} // namespace tolvek::vcam
