// Sessions on real overlapped named pipes under Wine, with the stand-in cfgmgr32.dll behind
// device creation: framing as a client's bytes arrive, request handling through the pipe,
// every way a connection ends, and what the end of the last one signals.

#include "service/connection_session_win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "monitor_device_win.h"
#include "request_protocol.h"
#include "support/pipe_client_win.h"
#include "support/protocol_lines.h"
#include "support/session_connection_win.h"
#include "support/setup_test_support_win.h"
#include "support/software_device_standin_win.h"
#include "support/test_environment_win.h"
#include "tolvek/owners_win.h"

namespace tolvek {
namespace {

using testing::kFailed;
using testing::kLimit;
using testing::kOk;
using testing::kPing;
using testing::kPong;
using testing::kRefused;
using testing::kUnknown;
using testing::LedgerCallback;
using testing::LedgerCreate;
using testing::line_of;
using testing::StandinAction;
using testing::StandinRule;

const std::string kOverTheCap = "a line over the cap; dropping the connection";
const std::string kLastWent = "the last connection went; stopping";

std::string create_line(std::uint32_t serial, std::uint32_t width = 1920,
                        std::uint32_t height = 1080)
{
    return encode_request(Create{width, height, 60, 0x546F, 0x4C56, serial}) + "\n";
}

std::string destroy_line(std::uint32_t serial)
{
    return encode_request(Destroy{serial}) + "\n";
}

// A connection as the listener hands it over, checked to be set up, and ended by its client
// when the test is done.
class Connection : public testing::SessionConnection {
public:
    explicit Connection(PipeServerState& state) : SessionConnection(state)
    {
        EXPECT_EQ(setup_error(), "");
    }

    ~Connection()
    {
        client().close();
        EXPECT_TRUE(ended_within(10'000)) << "the session outlived its client";
    }

    // Sends the bytes and gives the reply lines to the first `count` requests.
    std::vector<std::string> exchange(const std::string& bytes, std::size_t count = 1,
                                      DWORD timeout_ms = 5000)
    {
        EXPECT_TRUE(client().write(bytes));
        std::vector<std::string> replies;
        for (std::size_t i = 0; i < count; ++i) {
            replies.push_back(client().read_line(timeout_ms).value_or("(no reply)"));
        }
        return replies;
    }
};

using Replies = std::vector<std::string>;

class SessionTest : public ::testing::Test {
protected:
    SessionTest() { testing::reset_software_device_standin(); }

    void TearDown() override
    {
        EXPECT_EQ(testing::read_software_device_ledger().imbalances(), std::vector<std::string>{});
        EXPECT_EQ(state.live_connections.load(), 0u);
        const std::lock_guard lock{state.registry_lock};
        EXPECT_TRUE(state.connection_registry.empty());
    }

public:
    // The messages of the log lines so far, without their timestamps.
    std::vector<std::string> logged() const { return testing::log_messages(program_data.path()); }

    testing::ScopedTempDir program_data;
    testing::ScopedEnvironmentVariable variable{L"ProgramData", program_data.path().wstring()};
    PipeServerState state{"S-1-5-21-0-0-0-1000"};
};

TEST_F(SessionTest, split_writes_and_several_lines_in_one_write_get_one_reply_each_in_order)
{
    Connection connection{state};
    EXPECT_TRUE(connection.client().write("{\"op\":\"pi"));
    EXPECT_EQ(connection.exchange("ng\"}\n"), Replies{line_of(kPong)});
    EXPECT_EQ(connection.exchange(line_of(kPing) + "{\"op\":\"nope\"}\n" + destroy_line(9), 3),
              (Replies{line_of(kPong), line_of(kRefused), line_of(kUnknown)}));
}

TEST_F(SessionTest, cr_lf_endings_are_accepted_and_an_empty_line_is_refused)
{
    Connection connection{state};
    EXPECT_EQ(connection.exchange("{\"op\":\"ping\"}\r\n"), Replies{line_of(kPong)});
    EXPECT_EQ(connection.exchange("\r\n\n", 2), (Replies{line_of(kRefused), line_of(kRefused)}));
    EXPECT_EQ(connection.exchange(line_of(kPing)), Replies{line_of(kPong)})
        << "the connection stays open";
}

TEST_F(SessionTest, a_line_of_exactly_512_bytes_arriving_in_pieces_is_served)
{
    Connection connection{state};
    const std::string line = std::string{kPing} + std::string(512 - kPing.size(), ' ');
    for (std::size_t at = 0; at < line.size(); at += 100) {
        ASSERT_TRUE(connection.client().write(line.substr(at, 100)));
    }
    EXPECT_EQ(connection.exchange("\n"), Replies{line_of(kPong)});
    EXPECT_EQ(connection.exchange(line_of(kPing)), Replies{line_of(kPong)});
}

TEST_F(SessionTest, an_unfinished_line_over_the_cap_drops_the_connection_and_its_monitors)
{
    Connection connection{state};
    ASSERT_EQ(connection.exchange(create_line(1)), Replies{line_of(kOk)});
    ASSERT_TRUE(connection.client().write(std::string(513, 'x')));
    EXPECT_TRUE(connection.client().sees_end_without_bytes());
    ASSERT_TRUE(connection.ended_within(5000));
    EXPECT_EQ(testing::read_software_device_ledger().closes().size(), 1u);
    EXPECT_EQ(logged(), (std::vector<std::string>{
                            kOverTheCap, "a connection went, taking 1 display(s)", kLastWent}));
}

TEST_F(SessionTest, invalid_utf8_in_the_second_line_of_a_batch_drops_it_without_any_reply)
{
    Connection connection{state};
    ASSERT_EQ(connection.exchange(create_line(1)), Replies{line_of(kOk)});
    ASSERT_TRUE(connection.client().write(line_of(kPing) + "\xFF\n"));
    EXPECT_TRUE(connection.client().sees_end_without_bytes()) << connection.client().unread();
    ASSERT_TRUE(connection.ended_within(5000));
    EXPECT_EQ(testing::read_software_device_ledger().closes().size(), 1u);
    EXPECT_EQ(logged().front(), kOverTheCap);
}

TEST_F(SessionTest, four_monitors_per_connection_with_values_checked_before_the_limit)
{
    Connection connection{state};
    EXPECT_EQ(connection.exchange(create_line(1) + create_line(2) + create_line(3) +
                                      create_line(4) + create_line(5),
                                  5),
              (Replies{line_of(kOk), line_of(kOk), line_of(kOk), line_of(kOk), line_of(kLimit)}));
    EXPECT_EQ(connection.exchange(create_line(1) + create_line(6, 0), 2),
              (Replies{line_of(kLimit), line_of(kRefused)}));
    EXPECT_EQ(connection.exchange(destroy_line(4) + create_line(1), 2),
              (Replies{line_of(kOk), line_of(kRefused)}));
    EXPECT_EQ(testing::read_software_device_ledger().creates().size(), 4u);
}

TEST_F(SessionTest, destroy_closes_the_device_and_the_serial_can_be_created_again)
{
    Connection connection{state};
    EXPECT_EQ(connection.exchange(create_line(1) + destroy_line(1), 2),
              (Replies{line_of(kOk), line_of(kOk)}));
    const auto ledger = testing::read_software_device_ledger();
    ASSERT_EQ(ledger.creates().size(), 1u);
    ASSERT_EQ(ledger.closes().size(), 1u);
    EXPECT_EQ(ledger.closes()[0].device, ledger.creates()[0].device);
    EXPECT_EQ(connection.exchange(create_line(1)), Replies{line_of(kOk)});
}

TEST_F(SessionTest, a_destroy_never_reaches_another_connections_monitor)
{
    Connection owner{state};
    Connection other{state};
    ASSERT_EQ(owner.exchange(create_line(7)), Replies{line_of(kOk)});
    EXPECT_EQ(other.exchange(destroy_line(7)), Replies{line_of(kUnknown)});
    EXPECT_TRUE(testing::read_software_device_ledger().closes().empty());
    EXPECT_EQ(owner.exchange(destroy_line(7)), Replies{line_of(kOk)});
}

TEST_F(SessionTest, a_client_that_goes_holding_three_monitors_takes_all_three_with_it)
{
    {
        Connection connection{state};
        ASSERT_EQ(connection.exchange(create_line(1) + create_line(2) + create_line(3), 3),
                  (Replies{line_of(kOk), line_of(kOk), line_of(kOk)}));
        connection.client().close();
        ASSERT_TRUE(connection.ended_within(5000));
    }
    EXPECT_EQ(testing::read_software_device_ledger().closes().size(), 3u);
    EXPECT_EQ(logged(),
              (std::vector<std::string>{"a connection went, taking 3 display(s)", kLastWent}));
}

TEST_F(SessionTest, a_client_that_goes_holding_nothing_logs_no_display_count)
{
    {
        Connection connection{state};
        ASSERT_EQ(connection.exchange(line_of(kPing)), Replies{line_of(kPong)});
    }
    EXPECT_EQ(logged(), std::vector<std::string>{kLastWent});
}

TEST_F(SessionTest, a_client_that_goes_in_the_middle_of_a_line_gets_nothing_done)
{
    Connection connection{state};
    ASSERT_TRUE(connection.client().write(create_line(1).substr(0, 30)));
    connection.client().close();
    ASSERT_TRUE(connection.ended_within(5000));
    EXPECT_TRUE(testing::read_software_device_ledger().creates().empty());
    EXPECT_EQ(logged(), std::vector<std::string>{kLastWent});
}

// Would catch a session stuck in a write to a client that stopped reading and went.
TEST_F(SessionTest, a_client_that_goes_while_replies_are_being_written_ends_the_session)
{
    Connection connection{state};
    ASSERT_EQ(connection.exchange(create_line(1)), Replies{line_of(kOk)});
    // Pings and no reads: once a write of the client stalls, the session has stopped reading,
    // which it does only while it waits to write a reply.
    std::string pings;
    for (int i = 0; i < 32; ++i) {
        pings += line_of(kPing);
    }
    bool session_is_writing = false;
    for (int i = 0; i < 200 && !session_is_writing; ++i) {
        session_is_writing = !connection.client().write(pings, 500);
    }
    ASSERT_TRUE(session_is_writing);
    connection.client().close();
    ASSERT_TRUE(connection.ended_within(5000));
    EXPECT_EQ(testing::read_software_device_ledger().closes().size(), 1u);
}

// The stop event in its holder for one test, withdrawn however the test ends.
struct StopEventPublished {
    explicit StopEventPublished(HANDLE stop_event) { publish_stop_event(stop_event); }
    ~StopEventPublished() { withdraw_stop_event(); }
    StopEventPublished(const StopEventPublished&) = delete;
    StopEventPublished& operator=(const StopEventPublished&) = delete;
};

TEST_F(SessionTest, the_session_that_ends_last_logs_and_sets_the_stop_event)
{
    UniqueHandle stop_event{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    // No status handle is published: the stop-pending report does nothing.
    const StopEventPublished published{stop_event.get()};
    {
        Connection first{state};
        {
            Connection second{state};
            ASSERT_EQ(second.exchange(line_of(kPing)), Replies{line_of(kPong)});
        }
        EXPECT_EQ(WaitForSingleObject(stop_event.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
            << "a session remains";
        EXPECT_TRUE(logged().empty());
    }
    EXPECT_EQ(WaitForSingleObject(stop_event.get(), 5000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(logged(), std::vector<std::string>{kLastWent});
}

// The stop path of the pipe listener: CancelIoEx and DisconnectNamedPipe on every registered
// pipe, under the registry lock.
void cancel_all_connections(PipeServerState& state)
{
    const std::lock_guard lock{state.registry_lock};
    for (const auto& [id, pipe] : state.connection_registry) {
        CancelIoEx(pipe, nullptr);
        DisconnectNamedPipe(pipe);
    }
}

TEST_F(SessionTest, the_stop_path_ends_a_session_waiting_for_a_request)
{
    Connection connection{state};
    ASSERT_EQ(connection.exchange(create_line(1)), Replies{line_of(kOk)});
    cancel_all_connections(state);
    ASSERT_TRUE(connection.ended_within(2000));
    EXPECT_EQ(testing::read_software_device_ledger().closes().size(), 1u);
    EXPECT_EQ(logged(),
              (std::vector<std::string>{"a connection went, taking 1 display(s)", kLastWent}));
}

bool ledger_shows_a_create_within(DWORD timeout_ms)
{
    const ULONGLONG deadline = GetTickCount64() + timeout_ms;
    while (testing::read_software_device_ledger().creates().empty()) {
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(10); // the stand-in offers nothing to wait on; its file is the only trace
    }
    return true;
}

// The cancel can miss a read that starts just after it; the disconnect must then end it.
TEST_F(SessionTest, a_disconnect_alone_ends_a_session_waiting_for_a_request)
{
    Connection connection{state};
    ASSERT_EQ(connection.exchange(line_of(kPing)), Replies{line_of(kPong)});
    {
        const std::lock_guard lock{state.registry_lock};
        for (const auto& [id, pipe] : state.connection_registry) {
            DisconnectNamedPipe(pipe);
        }
    }
    ASSERT_TRUE(connection.ended_within(2000));
}

TEST_F(SessionTest, the_stop_path_ends_a_session_in_the_middle_of_a_create)
{
    testing::script_software_device_standin({{"*", StandinAction::succeed, S_OK, 500}});
    Connection connection{state};
    ASSERT_TRUE(connection.client().write(create_line(1) + line_of(kPing)));
    ASSERT_TRUE(ledger_shows_a_create_within(2000)); // its callback is due 500 ms later
    cancel_all_connections(state);
    ASSERT_TRUE(connection.ended_within(3000));
    const auto ledger = testing::read_software_device_ledger();
    EXPECT_EQ(ledger.creates().size(), 1u);
    EXPECT_EQ(ledger.closes().size(), 1u) << "the device made for a reply never sent is closed";
}

// Would catch creations outside the creation lock: the ledger would show a create between
// another create and its callback.
TEST_F(SessionTest, creates_on_two_connections_at_once_never_overlap)
{
    testing::script_software_device_standin({{"*", StandinAction::succeed, S_OK, 100}});
    Connection first{state};
    Connection second{state};
    ASSERT_TRUE(first.client().write(create_line(1) + create_line(2) + create_line(3)));
    ASSERT_TRUE(second.client().write(create_line(1) + create_line(2) + create_line(3)));
    for (Connection* connection : {&first, &second}) {
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(connection->client().read_line(), line_of(kOk));
        }
    }
    const auto ledger = testing::read_software_device_ledger();
    ASSERT_EQ(ledger.creates().size(), 6u);
    std::optional<std::uint64_t> creating;
    for (const auto& event : ledger.events) {
        if (const auto* create = std::get_if<LedgerCreate>(&event)) {
            EXPECT_FALSE(creating.has_value()) << "a create began while another was under way";
            creating = create->device;
        } else if (const auto* callback = std::get_if<LedgerCallback>(&event)) {
            EXPECT_EQ(creating, callback->device);
            creating.reset();
        }
    }
}

// A create that fails in the given way answers "failed", logs the line that matches
// `log_pattern`, leaves nothing open (`closes`: the devices the failure had to close) and
// leaves the serial free for a create that works.
void expect_create_fails_cleanly(SessionTest& test, const StandinRule& rule,
                                 const std::string& log_pattern, std::size_t closes)
{
    testing::script_software_device_standin({rule});
    Connection connection{test.state};
    EXPECT_EQ(connection.exchange(create_line(5), 1, kDeviceCreationTimeoutMs + 5000),
              Replies{line_of(kFailed)});
    const auto ledger = testing::read_software_device_ledger();
    EXPECT_EQ(ledger.creates().size(), 1u);
    EXPECT_EQ(ledger.closes().size(), closes);
    const std::vector<std::string> messages = test.logged();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(std::regex_match(messages[0], std::regex{log_pattern})) << messages[0];

    testing::script_software_device_standin({});
    EXPECT_EQ(connection.exchange(create_line(5)), Replies{line_of(kOk)})
        << "the serial stayed free";
}

TEST_F(SessionTest, a_create_refused_at_once_answers_failed)
{
    expect_create_fails_cleanly(*this, {"*", StandinAction::fail_at_once, E_ACCESSDENIED, 0},
                                R"(SwDeviceCreate refused: \S.* \(0x80070005\))", 0);
}

TEST_F(SessionTest, a_create_refused_through_the_callback_answers_failed_and_closes_the_device)
{
    expect_create_fails_cleanly(
        *this, {"*", StandinAction::fail_in_callback, HRESULT_FROM_WIN32(ERROR_GEN_FAILURE), 0},
        "the device was refused after creation: 0x8007001F", 1);
}

TEST_F(SessionTest, a_create_without_a_callback_in_15_seconds_answers_failed_and_closes_the_device)
{
    expect_create_fails_cleanly(*this, {"*", StandinAction::never_call_back, S_OK, 0},
                                "the device was not created within the timeout", 1);
}

} // namespace
} // namespace tolvek
