// The service's idle rule at its real pace under Wine's service control manager: a service
// nobody uses stops after its first minute, a rejected client only makes a fresh wait begin,
// and after one admission the minute-long waits never stop it. Each case takes one to two
// and a half minutes (ctest label "slow").

#include <windows.h>

#include <gtest/gtest.h>

#include "support/helper_service_win.h"
#include "support/protocol_lines.h"
#include "support/setup_test_support_win.h"

namespace tolvek {
namespace {

using namespace std::chrono_literals;
using testing::HelperService;
using testing::kPing;
using testing::kPong;
using testing::PipeClient;
using testing::ServiceLog;
using Clock = std::chrono::steady_clock;
using Messages = std::vector<std::string>;

class ServiceIdleTest : public ::testing::Test {
protected:
    // Registers and starts the service for `sid_argument`; the moment it was seen running.
    Clock::time_point start_service(std::string_view sid_argument)
    {
        service.emplace(sid_argument);
        EXPECT_TRUE(service->registered());
        EXPECT_TRUE(service->start());
        EXPECT_EQ(service->wait_for_state(SERVICE_RUNNING, 20s).dwCurrentState,
                  static_cast<DWORD>(SERVICE_RUNNING));
        return Clock::now();
    }

    // Whether the service is still running `offset` after `since`; it is watched until then.
    bool still_running_at(Clock::time_point since, std::chrono::milliseconds offset)
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(since + offset - Clock::now());
        return service->wait_for_state(SERVICE_STOPPED, std::max(left, 0ms)).dwCurrentState ==
               SERVICE_RUNNING;
    }

    // How long after `since` the service reported STOPPED; nothing if not within `timeout`.
    std::optional<std::chrono::seconds> stopped_after(Clock::time_point since,
                                                      std::chrono::milliseconds timeout)
    {
        if (service->wait_for_state(SERVICE_STOPPED, timeout).dwCurrentState != SERVICE_STOPPED) {
            return std::nullopt;
        }
        return std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - since);
    }

    const std::string user_sid{testing::kWineUserSid};
    ServiceLog log;
    std::optional<HelperService> service;
};

TEST_F(ServiceIdleTest, nobody_connecting_stops_the_service_as_the_first_wait_runs_out)
{
    const auto running = start_service(user_sid);
    const auto stopped = stopped_after(running, 100s);
    ASSERT_TRUE(stopped.has_value());
    EXPECT_GE(*stopped, 55s);
    EXPECT_LE(*stopped, 75s) << "the first 60-second wait, not a later one";
    EXPECT_EQ(log.messages(),
              (Messages{"listening for " + user_sid, "nothing connected; stopping", "stopped"}));
}

TEST_F(ServiceIdleTest, a_client_of_another_user_after_30_seconds_defers_the_stop_to_about_90)
{
    const auto running = start_service("S-1-5-18"); // Wine runs this test as another user
    ASSERT_TRUE(still_running_at(running, 30s));
    std::optional<PipeClient> client = testing::open_helper_pipe(10s);
    ASSERT_TRUE(client.has_value());
    EXPECT_TRUE(client->sees_end_without_bytes(10'000));

    EXPECT_TRUE(still_running_at(running, 70s))
        << "the wait that began with the drop runs its full minute past the first one's end";
    const auto stopped = stopped_after(running, 60s);
    ASSERT_TRUE(stopped.has_value());
    EXPECT_GE(*stopped, 85s);
    EXPECT_EQ(log.messages(),
              (Messages{"listening for S-1-5-18", "dropped a connection from another user",
                        "nothing connected; stopping", "stopped"}));
}

TEST_F(ServiceIdleTest, after_one_admission_the_minute_long_waits_never_stop_the_service)
{
    const auto running = start_service(user_sid);
    std::optional<PipeClient> client = testing::open_helper_pipe(10s);
    ASSERT_TRUE(client.has_value());
    ASSERT_EQ(testing::request(*client, kPing), kPong);

    ASSERT_TRUE(still_running_at(running, 130s)) << "two renewals of the instance have passed";
    EXPECT_EQ(testing::request(*client, kPing), kPong);
    std::optional<PipeClient> second = testing::open_helper_pipe(10s);
    ASSERT_TRUE(second.has_value()) << "the renewed instance takes clients";
    EXPECT_EQ(testing::request(*second, kPing), kPong);

    client->close();
    second->close();
    EXPECT_TRUE(stopped_after(running, 160s).has_value());
    EXPECT_EQ(log.messages(), (Messages{"listening for " + user_sid,
                                        "the last connection went; stopping", "stopped"}));
}

} // namespace
} // namespace tolvek
