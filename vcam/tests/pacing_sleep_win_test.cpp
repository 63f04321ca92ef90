// The worker's sleep between samples: which kind of wait it uses, and that neither kind
// returns before the wait is over (a sample sent early would run ahead of its due time).

#include "pacing_sleep_win.h"

#include "frame_reader.h"

#include <gtest/gtest.h>

namespace tolvek::vcam {
namespace {

using namespace std::chrono_literals;

TEST(PacingSleep, the_production_choice_uses_a_high_resolution_timer_where_there_is_one)
{
    EXPECT_TRUE(PacingSleep(PacingSleepKind::high_resolution_timer).uses_timer());
    EXPECT_FALSE(PacingSleep(PacingSleepKind::whole_milliseconds).uses_timer());
}

TEST(PacingSleep, neither_kind_of_sleep_ends_early)
{
    for (const PacingSleepKind kind :
         {PacingSleepKind::high_resolution_timer, PacingSleepKind::whole_milliseconds}) {
        PacingSleep sleep(kind);
        for (const Nanoseconds wait : {Nanoseconds{1'500'000}, Nanoseconds{3ms}, Nanoseconds{1}}) {
            const MonotonicTime before = MonotonicClock::now();
            sleep.sleep_for(wait);
            EXPECT_GE(MonotonicClock::now() - before, wait) << static_cast<int>(kind);
        }
    }
}

} // namespace
} // namespace tolvek::vcam
