#pragma once

// The streaming worker's sleep between samples. It waits on a high-resolution waitable timer,
// so that a sample goes out within a fraction of a millisecond of its due time, and falls
// back to Sleep in whole milliseconds (rounded up) when no such timer can be had.

#include <windows.h>

#include "frame_pacing.h"
#include "tolvek/owners_win.h"

namespace tolvek::vcam {

enum class PacingSleepKind {
    // The production choice: a high-resolution waitable timer, or Sleep without one.
    high_resolution_timer,
    // Sleep in whole milliseconds only, for measuring what the timer is worth.
    whole_milliseconds,
};

class PacingSleep {
public:
    // Never fails: without a timer it sleeps in whole milliseconds.
    explicit PacingSleep(PacingSleepKind kind) noexcept;

    // Returns no earlier than `wait` from now.
    void sleep_for(Nanoseconds wait) noexcept;

    [[nodiscard]] bool uses_timer() const noexcept { return timer_.valid(); }

private:
    UniqueHandle timer_;
};

} // namespace tolvek::vcam
