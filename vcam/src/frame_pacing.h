#pragma once

// When the streaming worker sends its samples: sample n is due n / 30 s after the worker
// started, on an absolute schedule. A worker that fell behind (a slow downstream filter, a
// stall) sends the following samples back to back until it is on time again; it never skips
// a sample and never drifts, however long it streams.

#include <chrono>
#include <cstdint>

namespace tolvek::vcam {

using Nanoseconds = std::chrono::nanoseconds;

// n * 1,000,000,000 / 30 ns, rounded down.
[[nodiscard]] Nanoseconds sample_due_time(std::uint64_t sample_index) noexcept;

// How long to wait before sample `sample_index` when `elapsed` has passed since the worker
// started; zero when it is due already.
[[nodiscard]] Nanoseconds time_until_due(std::uint64_t sample_index, Nanoseconds elapsed) noexcept;

// The worker's pacing step: it has just delivered sample `delivered`, it started at `start`
// and it is now `now`. How long to wait before the next sample; zero when that one is due
// already.
[[nodiscard]] Nanoseconds wait_after_sample(std::uint64_t delivered,
                                            std::chrono::steady_clock::time_point start,
                                            std::chrono::steady_clock::time_point now) noexcept;

// A wait as SetWaitableTimer takes it: a relative due time, which the timer wants negative,
// in units of 100 ns, rounded up so that the wait never ends early.
[[nodiscard]] std::int64_t relative_timer_due_time(Nanoseconds wait) noexcept;

// A wait in the whole milliseconds that Sleep takes, rounded up.
[[nodiscard]] std::uint32_t whole_milliseconds(Nanoseconds wait) noexcept;

} // namespace tolvek::vcam
