// The two process-wide holders and the operations on them. The status record itself reaches
// only a real service manager; the service host's tests see it there.

#include "service/service_state_win.h"

#include <gtest/gtest.h>

#include "tolvek/owners_win.h"

namespace tolvek {
namespace {

bool is_set(HANDLE event)
{
    return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

TEST(ServiceState, signal_stop_sets_only_a_published_event_and_it_stays_set)
{
    const UniqueHandle stop_event{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    signal_stop(); // nothing published yet: nothing to do
    EXPECT_FALSE(is_set(stop_event.get()));

    publish_stop_event(stop_event.get());
    signal_stop();
    signal_stop();
    EXPECT_TRUE(is_set(stop_event.get()));
    EXPECT_EQ(WaitForSingleObject(stop_event.get(), 1000), static_cast<DWORD>(WAIT_OBJECT_0));

    // Withdrawn before it is closed: a late signal must not touch it.
    withdraw_stop_event();
    ResetEvent(stop_event.get());
    signal_stop();
    EXPECT_FALSE(is_set(stop_event.get()));
}

// The thread's last error shows whether SetServiceStatus was called at all.
TEST(ServiceState, report_status_sends_only_while_a_status_handle_is_published)
{
    constexpr DWORD kUntouched = 0x2A2A2A2A;
    SetLastError(kUntouched);
    report_status(SERVICE_RUNNING);
    EXPECT_EQ(GetLastError(), kUntouched) << "nothing published: nothing sent";

    // Wine's SetServiceStatus faults on a handle that its service manager did not give out,
    // so only a real service can show a report that is sent (the service host's tests).
    publish_status_handle(nullptr);
    withdraw_status_handle();
    SetLastError(kUntouched);
    report_status(SERVICE_STOPPED);
    EXPECT_EQ(GetLastError(), kUntouched) << "withdrawn: nothing sent";
}

} // namespace
} // namespace tolvek
