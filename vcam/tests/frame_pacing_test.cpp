// The worker's schedule: due times of 1/30 s on an absolute grid, waits that never end early,
// and whole runs simulated on an injected clock, with stalls and coarse sleeps, showing that
// the worker neither drifts nor skips a sample.

#include "frame_pacing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace tolvek::vcam {
namespace {

using namespace std::chrono_literals;

TEST(FramePacing, sample_n_is_due_n_thirtieths_of_a_second_after_the_start_rounded_down)
{
    EXPECT_EQ(sample_due_time(0), 0ns);
    EXPECT_EQ(sample_due_time(1), 33'333'333ns);
    EXPECT_EQ(sample_due_time(2), 66'666'666ns);
    EXPECT_EQ(sample_due_time(29), 966'666'666ns);
    EXPECT_EQ(sample_due_time(30), 1s);
    EXPECT_EQ(sample_due_time(31), 1'033'333'333ns);
    // Exact after ten years of streaming: n * 10^9 / 30 with n * 10^9 beyond 64 bits.
    constexpr std::uint64_t kTenYears = 30ull * 60 * 60 * 24 * 3653;
    EXPECT_EQ(sample_due_time(kTenYears + 1), 60s * 60 * 24 * 3653 + 33'333'333ns);
    constexpr std::uint64_t kBeyondProduct =
        std::numeric_limits<std::uint64_t>::max() / 1'000'000'000 + 7;
    EXPECT_EQ(sample_due_time(kBeyondProduct).count() % 1'000'000'000,
              static_cast<std::int64_t>(kBeyondProduct % 30 * 1'000'000'000 / 30));
}

TEST(FramePacing, the_wait_is_what_is_left_until_the_due_time_and_zero_when_late)
{
    EXPECT_EQ(time_until_due(1, 0ns), 33'333'333ns);
    EXPECT_EQ(time_until_due(1, 33'000'000ns), 333'333ns);
    EXPECT_EQ(time_until_due(1, 33'333'333ns), 0ns);
    EXPECT_EQ(time_until_due(1, 50ms), 0ns);
    EXPECT_EQ(time_until_due(0, 0ns), 0ns) << "the first sample goes at once";
}

TEST(FramePacing, timer_and_sleep_waits_are_rounded_up_never_down)
{
    EXPECT_EQ(relative_timer_due_time(33'333'333ns), -333'334) << "negative: relative";
    EXPECT_EQ(relative_timer_due_time(200ns), -2);
    EXPECT_EQ(relative_timer_due_time(1ns), -1);
    EXPECT_EQ(relative_timer_due_time(0ns), 0);
    EXPECT_EQ(relative_timer_due_time(-5ns), 0);

    EXPECT_EQ(whole_milliseconds(33'333'333ns), 34u);
    EXPECT_EQ(whole_milliseconds(2ms), 2u);
    EXPECT_EQ(whole_milliseconds(1ns), 1u);
    EXPECT_EQ(whole_milliseconds(0ns), 0u);
    EXPECT_EQ(whole_milliseconds(Nanoseconds::max()), 0xFFFF'FFFEu) << "never INFINITE";
}

// The worker's loop on an injected clock: a sample costs `cost(n)` to deliver, then the
// worker waits what its pacing step says, slept with the given rounding. Gives the time each
// sample was handed over, counted from the start.
template <class Cost, class Sleep>
std::vector<Nanoseconds> simulate_run(std::uint64_t samples, Cost cost, Sleep sleep)
{
    // Any start will do: a worker starts whenever the graph runs.
    const auto start = std::chrono::steady_clock::time_point{} + 12'345h;
    auto now = start;
    std::vector<Nanoseconds> sent;
    for (std::uint64_t index = 0; index < samples; ++index) {
        sent.push_back(now - start);
        now += cost(index);
        const Nanoseconds wait = wait_after_sample(index, start, now);
        if (wait > 0ns) {
            now += sleep(wait);
        }
    }
    return sent;
}

const auto exact_sleep = [](Nanoseconds wait) { return wait; };
const auto millisecond_sleep = [](Nanoseconds wait) {
    return Nanoseconds{std::chrono::milliseconds{whole_milliseconds(wait)}};
};

TEST(FramePacing, an_hour_of_samples_goes_out_exactly_on_the_grid_without_drift)
{
    constexpr std::uint64_t kHour = 30 * 60 * 60;
    const auto sent = simulate_run(
        kHour + 1, [](std::uint64_t) { return 4ms; }, exact_sleep);
    for (std::uint64_t index = 0; index < sent.size(); ++index) {
        ASSERT_EQ(sent[index], sample_due_time(index)) << index;
    }
    EXPECT_EQ(sent.back(), 3600s);
}

TEST(FramePacing, after_a_stall_samples_go_back_to_back_until_on_time_and_none_is_skipped)
{
    // Sample 10 takes 200 ms: six due times pass while it is delivered.
    const auto cost = [](std::uint64_t index) { return index == 10 ? Nanoseconds{200ms} : 1ms; };
    const auto sent = simulate_run(40, cost, exact_sleep);

    ASSERT_EQ(sent.size(), 40u) << "every index is sent";
    EXPECT_EQ(sent[10], sample_due_time(10));
    // 11 to 16 were due during the stall: each goes as soon as the one before is done.
    for (std::uint64_t index = 11; index <= 16; ++index) {
        EXPECT_EQ(sent[index], sent[index - 1] + (index == 11 ? Nanoseconds{200ms} : 1ms)) << index;
        EXPECT_GT(sent[index], sample_due_time(index));
    }
    // Caught up: back on the grid, not shifted by the stall.
    for (std::uint64_t index = 17; index < sent.size(); ++index) {
        EXPECT_EQ(sent[index], sample_due_time(index)) << index;
    }
}

TEST(FramePacing, whole_millisecond_sleeps_are_late_by_under_a_millisecond_and_never_add_up)
{
    constexpr std::uint64_t kMinute = 30 * 60;
    const auto sent = simulate_run(
        kMinute + 1, [](std::uint64_t) { return 3'141'592ns; }, millisecond_sleep);
    for (std::uint64_t index = 0; index < sent.size(); ++index) {
        ASSERT_GE(sent[index], sample_due_time(index)) << index;
        ASSERT_LT(sent[index], sample_due_time(index) + 1ms) << index;
    }
}

} // namespace
} // namespace tolvek::vcam
