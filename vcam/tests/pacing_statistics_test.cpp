#include "pacing_statistics.h"

#include <gtest/gtest.h>

#include <vector>

namespace tolvek::vcam {
namespace {

constexpr std::int64_t kMs = 1'000'000;

TEST(PacingStatistics, samples_before_the_settling_time_are_left_out)
{
    // A late start (the first two intervals) must not count; then exact 1/30 s.
    std::vector<std::int64_t> arrivals{0, 300 * kMs, 310 * kMs};
    for (int index = 1; index <= 100; ++index) {
        arrivals.push_back(500 * kMs + index * kFrameIntervalNs);
    }
    const PacingFigures figures = pacing_figures(arrivals, 500 * kMs);
    EXPECT_EQ(figures.intervals, 99u);
    EXPECT_DOUBLE_EQ(figures.mean_interval_ns, static_cast<double>(kFrameIntervalNs));
    EXPECT_EQ(figures.p99_abs_deviation_ns, 0);
    EXPECT_EQ(figures.max_abs_deviation_ns, 0);
}

TEST(PacingStatistics, p99_is_the_nearest_rank_of_the_absolute_deviations)
{
    // 200 intervals: 197 exact, one 1 ms early, one 2 ms late, one 5 ms late.
    std::vector<std::int64_t> arrivals{0};
    const auto add = [&](std::int64_t interval) { arrivals.push_back(arrivals.back() + interval); };
    for (int index = 0; index < 197; ++index) {
        add(kFrameIntervalNs);
    }
    add(kFrameIntervalNs - 1 * kMs);
    add(kFrameIntervalNs + 2 * kMs);
    add(kFrameIntervalNs + 5 * kMs);
    const PacingFigures figures = pacing_figures(arrivals, 0);
    EXPECT_EQ(figures.intervals, 200u);
    EXPECT_EQ(figures.p99_abs_deviation_ns, 1 * kMs)
        << "the 198th of 200: the two largest lie above";
    EXPECT_EQ(figures.max_abs_deviation_ns, 5 * kMs);
    EXPECT_DOUBLE_EQ(figures.mean_interval_ns, kFrameIntervalNs + 6.0 * kMs / 200);
}

TEST(PacingStatistics, the_median_of_an_even_count_is_the_lower_middle)
{
    // Deviations 1, 2, 3 and 2 ms; sorted 1, 2, 2, 3: nearest rank 2 of 4.
    const std::vector<std::int64_t> arrivals{0, kFrameIntervalNs + 1 * kMs,
                                             2 * kFrameIntervalNs - 1 * kMs,
                                             3 * kFrameIntervalNs + 2 * kMs, 4 * kFrameIntervalNs};
    const PacingFigures figures = pacing_figures(arrivals, 0);
    ASSERT_EQ(figures.intervals, 4u);
    EXPECT_EQ(figures.median_abs_deviation_ns, 2 * kMs);
    EXPECT_EQ(figures.max_abs_deviation_ns, 3 * kMs);
}

TEST(PacingStatistics, too_few_samples_give_no_intervals)
{
    EXPECT_EQ(pacing_figures({}, 0).intervals, 0u);
    const std::vector<std::int64_t> one{5};
    EXPECT_EQ(pacing_figures(one, 0).intervals, 0u);
}

} // namespace
} // namespace tolvek::vcam
