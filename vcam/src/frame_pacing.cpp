#include "frame_pacing.h"

#include "camera_format.h"

#include <algorithm>
#include <limits>

namespace tolvek::vcam {

namespace {

constexpr std::uint64_t kNanosecondsPerSecond = 1'000'000'000;

// Rounds a positive wait up to a whole number of `unit`s.
std::int64_t whole_units_rounded_up(Nanoseconds wait, Nanoseconds unit) noexcept
{
    const Nanoseconds::rep positive = std::max(wait.count(), Nanoseconds::rep{0});
    return positive / unit.count() + (positive % unit.count() != 0 ? 1 : 0);
}

} // namespace

Nanoseconds sample_due_time(std::uint64_t sample_index) noexcept
{
    // Whole seconds and the remainder apart: the same value as n * 10^9 / 30, without the
    // product overflowing in any run that could ever happen.
    const std::uint64_t seconds = sample_index / kFrameRate;
    const std::uint64_t within_second =
        sample_index % kFrameRate * kNanosecondsPerSecond / kFrameRate;
    return Nanoseconds{
        static_cast<Nanoseconds::rep>(seconds * kNanosecondsPerSecond + within_second)};
}

Nanoseconds time_until_due(std::uint64_t sample_index, Nanoseconds elapsed) noexcept
{
    return std::max(sample_due_time(sample_index) - elapsed, Nanoseconds::zero());
}

Nanoseconds wait_after_sample(std::uint64_t delivered, std::chrono::steady_clock::time_point start,
                              std::chrono::steady_clock::time_point now) noexcept
{
    return time_until_due(delivered + 1, now - start);
}

std::int64_t relative_timer_due_time(Nanoseconds wait) noexcept
{
    return -whole_units_rounded_up(wait, Nanoseconds{100});
}

std::uint32_t whole_milliseconds(Nanoseconds wait) noexcept
{
    constexpr std::int64_t kLongest = std::numeric_limits<std::uint32_t>::max() - 1; // not INFINITE
    return static_cast<std::uint32_t>(
        std::min(whole_units_rounded_up(wait, std::chrono::milliseconds{1}), kLongest));
}

} // namespace tolvek::vcam
