// The helper as a real service under Wine's service control manager: start-up and the
// states it reports, admission on the pipe, the stop paths (last client, STOP with live
// sessions, a command line without a user), a full pipe that makes the fifth client wait,
// and a start from a console. The stand-in cfgmgr32.dll records the service's devices.
// The rules that take a minute or more are in service_idle_win_test.

#include <windows.h>

#include <gtest/gtest.h>

#include <array>

#include "service/pipe_listener_win.h"
#include "service/service_host_win.h"
#include "support/helper_service_win.h"
#include "support/protocol_lines.h"
#include "support/setup_test_support_win.h"
#include "support/software_device_standin_win.h"
#include "support/test_environment_win.h"

namespace tolvek {
namespace {

using namespace std::chrono_literals;
using testing::HelperService;
using testing::kOk;
using testing::kPing;
using testing::kPong;
using testing::PipeClient;
using testing::ServiceLog;
using Messages = std::vector<std::string>;

std::string create_request(int serial)
{
    return R"({"op":"create","width":1920,"height":1080,"refresh_hz":60,"vendor_id":21615,)"
           R"("product_id":19542,"serial":)" +
           std::to_string(serial) + "}";
}

// Each test starts from an empty stand-in ledger and reads only the log lines written while
// it runs; the service it registers is gone again when it ends.
class ServiceHostTest : public ::testing::Test {
protected:
    void SetUp() override { testing::reset_software_device_standin(); }

    // Registers and starts the service for `sid_argument` and waits until it runs.
    void start_service(std::string_view sid_argument)
    {
        service.emplace(sid_argument);
        ASSERT_TRUE(service->registered());
        ASSERT_TRUE(service->start());
        const SERVICE_STATUS_PROCESS running = service->wait_for_state(SERVICE_RUNNING, 20s);
        ASSERT_EQ(running.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
        EXPECT_EQ(running.dwControlsAccepted,
                  static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN));
    }

    void expect_stopped_cleanly()
    {
        const SERVICE_STATUS_PROCESS stopped = service->wait_for_state(SERVICE_STOPPED, 30s);
        ASSERT_EQ(stopped.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
        EXPECT_EQ(stopped.dwWin32ExitCode, 0u);
        EXPECT_EQ(stopped.dwServiceSpecificExitCode, 0u);
    }

    const std::string user_sid{testing::kWineUserSid};
    ServiceLog log; // before the service starts: every line of its run is read
    std::optional<HelperService> service;
};

TEST_F(ServiceHostTest, a_client_of_the_served_user_is_served_and_the_last_to_leave_stops_it)
{
    start_service(user_sid);
    std::optional<PipeClient> client = testing::open_helper_pipe(10s);
    ASSERT_TRUE(client.has_value());
    EXPECT_EQ(testing::request(*client, kPing), kPong);

    EXPECT_EQ(service->control(SERVICE_CONTROL_INTERROGATE), 0u);
    EXPECT_EQ(service->status().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING))
        << "an interrogation changes nothing";
    EXPECT_EQ(testing::request(*client, kPing), kPong);

    client->close();
    expect_stopped_cleanly();
    EXPECT_EQ(log.messages(), (Messages{"listening for " + user_sid,
                                        "the last connection went; stopping", "stopped"}));
}

// Would catch log lines that wait for the writers' lock without bound: the service main would
// never report running, the listener never accept, a session never leave.
TEST_F(ServiceHostTest, a_reader_holding_the_logs_lock_stalls_no_part_of_the_service)
{
    const std::filesystem::path log_path =
        std::filesystem::path{testing::kServiceProgramData} / "Tolvek" / "display-helper.log";
    std::filesystem::create_directories(log_path.parent_path());
    const testing::LogLockHolder reader{log_path};
    ASSERT_TRUE(reader.holds());

    start_service(user_sid);
    std::optional<PipeClient> client = testing::open_helper_pipe(10s);
    ASSERT_TRUE(client.has_value());
    EXPECT_EQ(testing::request(*client, kPing), kPong);
    client->close();
    expect_stopped_cleanly();
    EXPECT_EQ(log.messages(), (Messages{"listening for " + user_sid,
                                        "the last connection went; stopping", "stopped"}));
}

TEST_F(ServiceHostTest, an_alias_sid_is_served_as_its_canonical_text_and_other_users_are_dropped)
{
    start_service("SY");
    for (int i = 0; i < 2; ++i) {
        std::optional<PipeClient> client = testing::open_helper_pipe(10s);
        ASSERT_TRUE(client.has_value());
        EXPECT_TRUE(client->sees_end_without_bytes(10'000))
            << "Wine runs this test as another user";
    }
    ASSERT_TRUE(log.wait_for("dropped a connection from another user", 10s, 2));
    EXPECT_EQ(service->status().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING))
        << "it keeps listening";

    EXPECT_EQ(service->control(SERVICE_CONTROL_STOP), 0u);
    expect_stopped_cleanly();
    EXPECT_EQ(log.messages(),
              (Messages{"listening for S-1-5-18", "dropped a connection from another user",
                        "dropped a connection from another user", "stopped"}));
}

TEST_F(ServiceHostTest, stop_with_live_sessions_cancels_them_and_closes_every_device)
{
    start_service(user_sid);
    std::vector<PipeClient> clients;
    for (int serial = 1; serial <= 3; ++serial) {
        std::optional<PipeClient> client = testing::open_helper_pipe(10s);
        ASSERT_TRUE(client.has_value());
        ASSERT_EQ(testing::request(*client, create_request(serial)), kOk);
        clients.push_back(std::move(*client));
    }

    EXPECT_EQ(service->control(SERVICE_CONTROL_STOP), 0u);
    for (PipeClient& client : clients) {
        EXPECT_TRUE(client.sees_end_without_bytes(10'000));
    }
    expect_stopped_cleanly();

    const testing::SoftwareDeviceLedger ledger = testing::read_software_device_ledger();
    EXPECT_EQ(ledger.creates().size(), 3u);
    EXPECT_EQ(ledger.closes().size(), 3u);
    EXPECT_TRUE(ledger.imbalances().empty());
    Messages messages = log.messages();
    ASSERT_EQ(messages.size(), 6u);
    EXPECT_EQ(messages.front(), "listening for " + user_sid);
    EXPECT_EQ(
        std::count(messages.begin(), messages.end(), "a connection went, taking 1 display(s)"), 3);
    EXPECT_EQ(messages[4], "the last connection went; stopping")
        << "the session that ends last still says so";
    EXPECT_EQ(messages[5], "stopped");
}

TEST_F(ServiceHostTest, a_fifth_client_meets_a_busy_pipe_and_is_served_once_one_of_four_leaves)
{
    start_service(user_sid);
    std::vector<PipeClient> clients;
    for (int serial = 1; serial <= 4; ++serial) {
        std::optional<PipeClient> client = testing::open_helper_pipe(10s);
        ASSERT_TRUE(client.has_value());
        ASSERT_EQ(testing::request(*client, create_request(serial)), kOk);
        clients.push_back(std::move(*client));
    }

    const PipeClient fifth_attempt{kPipeName};
    ASSERT_FALSE(fifth_attempt.connected());
    EXPECT_EQ(fifth_attempt.open_error(), static_cast<DWORD>(ERROR_PIPE_BUSY));
    EXPECT_LT(testing::process_cpu_time(service->status().dwProcessId, 1s), 50ms)
        << "the listener waits for a free instance without spinning";
    for (PipeClient& client : clients) {
        EXPECT_EQ(testing::request(client, kPing), kPong) << "the four sessions are untouched";
    }
    EXPECT_TRUE(testing::read_software_device_ledger().closes().empty());

    clients.front().close();
    std::optional<PipeClient> fifth = testing::open_helper_pipe(10s);
    ASSERT_TRUE(fifth.has_value());
    EXPECT_EQ(testing::request(*fifth, create_request(5)), kOk);
    const testing::SoftwareDeviceLedger ledger = testing::read_software_device_ledger();
    EXPECT_EQ(ledger.creates().size(), 5u);
    EXPECT_EQ(ledger.closes().size(), 1u) << "only the leaver's monitor went";

    clients.clear();
    fifth->close();
    expect_stopped_cleanly();
    EXPECT_TRUE(testing::read_software_device_ledger().imbalances().empty());
    EXPECT_EQ(log.count("stopped"), 1u);
}

TEST_F(ServiceHostTest, a_command_line_without_a_valid_user_stops_during_start_up)
{
    service.emplace("not-a-sid");
    ASSERT_TRUE(service->registered());
    ASSERT_TRUE(service->start());
    expect_stopped_cleanly();
    EXPECT_EQ(log.messages(), Messages{"stopped: the service's command line names no user"});
}

TEST(ServiceCommandFromAConsole, is_refused_by_the_dispatcher_on_standard_error_and_in_the_log)
{
    testing::ScopedTempDir program_data;
    testing::ScopedEnvironmentVariable variable{L"ProgramData", program_data.path().wstring()};
    const std::wstring helper =
        (testing::executable_folder() / "tolvek-display-helper.exe").wstring();

    const auto outcome = testing::run_process(L"\"" + helper + L"\" service S-1-5-18", 30s);
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(outcome->exit_code, 1u);
    EXPECT_EQ(outcome->standard_error,
              "the service control dispatcher refused: WIN32_ERROR(1063)\n");
    EXPECT_EQ(outcome->standard_output, "");
    const auto logged = testing::read_file(program_data.path() / "Tolvek" / "display-helper.log");
    ASSERT_TRUE(logged.has_value());
    EXPECT_TRUE(logged->ends_with(" the service control dispatcher refused: WIN32_ERROR(1063)\n"))
        << *logged;
}

TEST(ServiceDispatcher, refuses_a_console_start_and_then_any_second_start_in_the_process)
{
    const Status first = run_dispatcher("S-1-5-18");
    ASSERT_FALSE(first.ok());
    EXPECT_EQ(first.error().text, "the service control dispatcher refused: WIN32_ERROR(1063)");
    const Status second = run_dispatcher("S-1-5-18");
    ASSERT_FALSE(second.ok());
    EXPECT_EQ(second.error().text, "the service was started twice in one process");
}

} // namespace
} // namespace tolvek
