#include "service/listener_rules.h"

#include <gtest/gtest.h>

namespace tolvek {
namespace {

using std::chrono::milliseconds;
constexpr milliseconds kLimit{60'000};

TEST(IdleRule, stops_once_the_limit_has_passed_without_an_admission)
{
    EXPECT_FALSE(idle_stop_due(0, milliseconds{59'999}, kLimit));
    EXPECT_TRUE(idle_stop_due(0, milliseconds{60'000}, kLimit)) << "60 whole seconds suffice";
    EXPECT_TRUE(idle_stop_due(0, milliseconds{90'000}, kLimit))
        << "the clock runs from the start and is never reset by a rejected client";
}

TEST(IdleRule, is_dead_after_the_first_admission)
{
    EXPECT_FALSE(idle_stop_due(1, milliseconds{60'000}, kLimit));
    EXPECT_FALSE(idle_stop_due(1, milliseconds{3'600'000}, kLimit));
}

TEST(ListenerStepAfterWait, a_connected_client_is_checked_and_a_stop_stops_whatever_the_clock)
{
    for (const milliseconds since_start : {milliseconds{0}, milliseconds{120'000}}) {
        for (const std::uint32_t admitted : {0u, 3u}) {
            EXPECT_EQ(step_after_wait(WaitEnd::client_connected, admitted, since_start, kLimit),
                      ListenerStep::check_client);
            EXPECT_EQ(step_after_wait(WaitEnd::stop_signalled, admitted, since_start, kLimit),
                      ListenerStep::stop);
        }
    }
}

TEST(ListenerStepAfterWait, a_timeout_stops_an_unused_service_and_renews_the_instance_otherwise)
{
    EXPECT_EQ(step_after_wait(WaitEnd::timed_out, 0, milliseconds{60'016}, kLimit),
              ListenerStep::stop_idle)
        << "nobody connected during the first wait";
    EXPECT_EQ(step_after_wait(WaitEnd::timed_out, 0, milliseconds{30'000}, kLimit),
              ListenerStep::renew_instance)
        << "a wait that began after a rejected client ran out early: wait again";
    EXPECT_EQ(step_after_wait(WaitEnd::timed_out, 1, milliseconds{120'000}, kLimit),
              ListenerStep::renew_instance)
        << "after an admission timeouts never stop the service";
}

TEST(ListenerStepAfterWait, a_client_gone_before_the_offer_only_makes_a_fresh_wait_begin)
{
    EXPECT_EQ(step_after_wait(WaitEnd::client_gone, 0, milliseconds{120'000}, kLimit),
              ListenerStep::renew_instance);
}

TEST(ListenerStepAfterOpenFailure, a_busy_pipe_waits_only_while_sessions_hold_instances)
{
    EXPECT_EQ(step_after_open_failure(kPipeBusyError, 4),
              OpenFailureStep::wait_for_a_session_to_end);
    EXPECT_EQ(step_after_open_failure(kPipeBusyError, 1),
              OpenFailureStep::wait_for_a_session_to_end)
        << "another process holds the rest; one of ours will still come back";
    EXPECT_EQ(step_after_open_failure(kPipeBusyError, 0), OpenFailureStep::end_listener)
        << "nothing of ours will ever free an instance";
    EXPECT_EQ(step_after_open_failure(5 /* access denied */, 4), OpenFailureStep::end_listener);
}

} // namespace
} // namespace tolvek
