// The pipe listener in this process, on Wine's real named pipes and security calls, with
// shortened waits: admission order and counting, a session thread that cannot start, the
// idle rule after a rejected client, renewals after an admission, and the listener's errors.
// The service-level behaviour is proven under the service manager in service_host_win_test.

#include "service/pipe_listener_win.h"

#include <gtest/gtest.h>

#include <new>
#include <set>
#include <thread>

#include "log.h"
#include "support/helper_service_win.h"
#include "support/protocol_lines.h"
#include "support/setup_test_support_win.h"
#include "support/test_environment_win.h"
#include "tolvek/owners_win.h"

namespace tolvek {
namespace {

using namespace std::chrono_literals;
using testing::kPing;
using testing::kPong;
using testing::PipeClient;
using Clock = std::chrono::steady_clock;

// serve_connections on a thread of its own, for one served user.
class ListenerRun {
public:
    explicit ListenerRun(std::string user_sid, ListenerSeams seams = {})
        : state_(std::move(user_sid)), stop_event_(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
        publish_stop_event(stop_event_.get());
        thread_ = std::thread{[this, seams] {
            result_ = serve_connections(state_, stop_event_.get(), seams);
            finished_at_ = Clock::now();
            SetEvent(finished_.get());
        }};
    }
    ~ListenerRun()
    {
        stop();
        thread_.join();
        withdraw_stop_event();
    }

    PipeServerState& state() { return state_; }
    void stop() { SetEvent(stop_event_.get()); }

    // Whether serve_connections returned within the time.
    bool wait_until_finished(std::chrono::milliseconds timeout)
    {
        return WaitForSingleObject(finished_.get(), static_cast<DWORD>(timeout.count())) ==
               WAIT_OBJECT_0;
    }
    const Status& result() const { return result_; }
    Clock::time_point finished_at() const { return finished_at_; }

    std::set<std::uint64_t> registered_ids()
    {
        const std::lock_guard lock{state_.registry_lock};
        std::set<std::uint64_t> ids;
        for (const auto& entry : state_.connection_registry) {
            ids.insert(entry.first);
        }
        return ids;
    }

private:
    PipeServerState state_;
    UniqueHandle stop_event_;
    UniqueHandle finished_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    Status result_;
    Clock::time_point finished_at_;
    std::thread thread_;
};

// Every test logs below a ProgramData of its own and reads its lines back.
class PipeListenerTest : public ::testing::Test {
protected:
    testing::ScopedTempDir program_data;
    testing::ScopedEnvironmentVariable variable{L"ProgramData", program_data.path().wstring()};

    std::vector<std::string> logged() const { return testing::log_messages(program_data.path()); }
};

TEST_F(PipeListenerTest, admitted_connections_get_ids_in_order_and_are_counted_and_registered)
{
    ListenerRun run{std::string{testing::kWineUserSid}};
    std::vector<PipeClient> clients;
    for (int i = 0; i < 3; ++i) {
        auto client = testing::open_helper_pipe(10s);
        ASSERT_TRUE(client.has_value());
        ASSERT_EQ(testing::request(*client, kPing), kPong);
        clients.push_back(std::move(*client));
    }
    EXPECT_EQ(run.registered_ids(), (std::set<std::uint64_t>{1, 2, 3}));
    EXPECT_EQ(run.state().live_connections.load(), 3u);
    EXPECT_EQ(run.state().admitted_connections.load(), 3u);

    run.stop();
    for (PipeClient& client : clients) {
        EXPECT_TRUE(client.sees_end_without_bytes(10'000))
            << "the stop path disconnects every session";
    }
    ASSERT_TRUE(run.wait_until_finished(10s));
    EXPECT_TRUE(run.result().ok());
    EXPECT_TRUE(run.registered_ids().empty());
    EXPECT_EQ(run.state().live_connections.load(), 0u);
}

// A session thread that does not start, whether the start reports it or runs out of memory,
// must neither end the listener nor leave a counted connection or a used id behind.
TEST_F(PipeListenerTest, a_session_thread_that_cannot_start_drops_its_client_and_counts_nothing)
{
    struct Case {
        bool out_of_memory;
        std::string logged;
    };
    const Case cases[] = {
        {false, "dropped a connection: its session thread would not start: no threads left"},
        {true, "dropped a connection: its session thread would not start: no memory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logged);
        std::atomic<int> starts{0};
        ListenerSeams seams;
        seams.start_thread = [&starts, &c](std::function<void()> body) -> Result<std::thread> {
            if (starts.fetch_add(1) == 0) {
                if (c.out_of_memory) {
                    throw std::bad_alloc{};
                }
                return Error{"no threads left"};
            }
            return start_session_thread(std::move(body));
        };
        ListenerRun run{std::string{testing::kWineUserSid}, seams};

        auto refused = testing::open_helper_pipe(10s);
        ASSERT_TRUE(refused.has_value());
        EXPECT_TRUE(refused->sees_end_without_bytes(10'000))
            << "its instance is closed, dropping it";

        auto served = testing::open_helper_pipe(10s);
        ASSERT_TRUE(served.has_value());
        ASSERT_EQ(testing::request(*served, kPing), kPong);
        EXPECT_EQ(run.registered_ids(), std::set<std::uint64_t>{1}) << "the refused one took no id";
        EXPECT_EQ(run.state().live_connections.load(), 1u);
        EXPECT_EQ(run.state().admitted_connections.load(), 1u);
        const auto lines = logged();
        EXPECT_NE(std::find(lines.begin(), lines.end(), c.logged), lines.end());
    }
}

TEST_F(PipeListenerTest, a_rejected_client_makes_a_fresh_wait_begin_which_then_ends_an_unused_run)
{
    ListenerSeams seams;
    seams.timings = {.client_wait = 1500ms, .idle_limit = 1500ms};
    ListenerRun run{"S-1-5-18", seams}; // Wine runs this test as another user

    ASSERT_FALSE(run.wait_until_finished(500ms));
    auto client = testing::open_helper_pipe(10s);
    ASSERT_TRUE(client.has_value());
    ASSERT_TRUE(client->sees_end_without_bytes(10'000));
    const auto dropped_at = Clock::now();

    ASSERT_TRUE(run.wait_until_finished(10s));
    EXPECT_TRUE(run.result().ok());
    EXPECT_GE(run.finished_at() - dropped_at, 1400ms)
        << "the first wait was cut short by the client; the idle rule waits for a fresh one";
    EXPECT_EQ(logged(), (std::vector<std::string>{"dropped a connection from another user",
                                                  "nothing connected; stopping"}));
    EXPECT_EQ(run.state().next_connection_id.load(), 1u) << "a rejected client takes no id";
}

TEST_F(PipeListenerTest, after_an_admission_timeouts_only_renew_the_instance)
{
    ListenerSeams seams;
    seams.timings = {.client_wait = 200ms, .idle_limit = 200ms};
    ListenerRun run{std::string{testing::kWineUserSid}, seams};
    auto first = testing::open_helper_pipe(10s);
    ASSERT_TRUE(first.has_value());
    ASSERT_EQ(testing::request(*first, kPing), kPong);

    EXPECT_FALSE(run.wait_until_finished(1500ms)) << "about seven renewals later it still runs";
    EXPECT_EQ(testing::request(*first, kPing), kPong);
    auto second = testing::open_helper_pipe(10s);
    ASSERT_TRUE(second.has_value()) << "a renewed instance is on offer";
    EXPECT_EQ(testing::request(*second, kPing), kPong);

    first->close();
    second->close();
    ASSERT_TRUE(run.wait_until_finished(10s)) << "the last connection went";
    EXPECT_TRUE(run.result().ok());
    EXPECT_EQ(logged().back(), "the last connection went; stopping");
}

TEST_F(PipeListenerTest, clients_that_open_and_close_at_once_do_not_end_the_listener)
{
    // Some of them come and go between the creation of an instance and its offer, which the
    // offer reports as ERROR_NO_DATA. The first client holds its connection throughout, so
    // that the others' leaving does not stop the run.
    ListenerRun run{std::string{testing::kWineUserSid}};
    auto holder = testing::open_helper_pipe(10s);
    ASSERT_TRUE(holder.has_value());
    ASSERT_EQ(testing::request(*holder, kPing), kPong);

    const auto until = Clock::now() + 2s;
    while (Clock::now() < until && !run.wait_until_finished(0ms)) {
        PipeClient{kPipeName}.close();
    }
    ASSERT_FALSE(run.wait_until_finished(0ms)) << run.result().error().text;
    auto client = testing::open_helper_pipe(10s);
    ASSERT_TRUE(client.has_value());
    EXPECT_EQ(testing::request(*client, kPing), kPong);
    EXPECT_EQ(testing::request(*holder, kPing), kPong);
}

TEST_F(PipeListenerTest, listener_errors_end_the_run_with_their_texts)
{
    {
        ListenerRun run{"not a sid"};
        ASSERT_TRUE(run.wait_until_finished(10s));
        ASSERT_FALSE(run.result().ok());
        EXPECT_EQ(run.result().error().text, "the pipe's security descriptor would not build");
    }
    {
        // Another server holds the name with its only instance: busy, and none of it is ours.
        const UniqueHandle squatter{CreateNamedPipeW(kPipeName, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE,
                                                     1, 512, 512, 0, nullptr)};
        ASSERT_TRUE(squatter.valid());
        ListenerRun run{std::string{testing::kWineUserSid}};
        ASSERT_TRUE(run.wait_until_finished(10s));
        ASSERT_FALSE(run.result().ok());
        EXPECT_EQ(run.result().error().text, "the pipe would not open: WIN32_ERROR(231)");
    }
}

} // namespace
} // namespace tolvek
