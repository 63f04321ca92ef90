#include "pacing_sleep_win.h"

#include "sdk_declarations_win.h"

namespace tolvek::vcam {

PacingSleep::PacingSleep(PacingSleepKind kind) noexcept
{
    if (kind == PacingSleepKind::high_resolution_timer) {
        // Older systems refuse the high-resolution flag; they get Sleep.
        timer_.reset(CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                            TIMER_ALL_ACCESS));
    }
}

void PacingSleep::sleep_for(Nanoseconds wait) noexcept
{
    if (timer_) {
        LARGE_INTEGER due;
        due.QuadPart = relative_timer_due_time(wait);
        if (SetWaitableTimer(timer_.get(), &due, 0, nullptr, nullptr, FALSE) &&
            WaitForSingleObject(timer_.get(), INFINITE) == WAIT_OBJECT_0) {
            return;
        }
        timer_.reset(); // a timer that fails once is not trusted again
    }
    Sleep(whole_milliseconds(wait));
}

} // namespace tolvek::vcam
