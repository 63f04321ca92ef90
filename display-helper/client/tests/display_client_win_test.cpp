// The display client against the real helper, registered as the service TolvekDisplayHelper
// of the test prefix with the stand-in cfgmgr32.dll behind device creation: connects to a
// stopped, a running, a missing and a busy service, each reply word as its error, the lost
// connection noticed when the service's process is ended from outside and restore bringing
// the monitors back, many threads on one client, and a program that squats on the pipe name.

#include <windows.h>

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "monitor_identity.h"
#include "monitor_values.h"
#include "service/pipe_listener_win.h"
#include "support/helper_service_win.h"
#include "support/protocol_lines.h"
#include "support/setup_test_support_win.h"
#include "support/software_device_standin_win.h"
#include "support/test_environment_win.h"
#include "tolvek/display_client.h"
#include "tolvek/owners_win.h"

namespace tolvek::display {
namespace {

using namespace std::chrono_literals;
using testing::HelperService;
using testing::LedgerCreate;

constexpr auto kStateLimit = 20s;

std::string create_line(std::uint32_t serial)
{
    return encode_request(monitor_create(1920, 1080, serial));
}

// The MonitorSpec property the stand-in recorded for a create.
std::string monitor_spec_of(const LedgerCreate& create)
{
    return create.properties.empty() || !create.properties[0].buffer ? std::string{}
                                                                     : *create.properties[0].buffer;
}

// The creates of one service process, in order.
std::vector<LedgerCreate> creates_of(DWORD process_id)
{
    std::vector<LedgerCreate> creates;
    for (const LedgerCreate& create : testing::read_software_device_ledger().creates()) {
        if (create.process == process_id) {
            creates.push_back(create);
        }
    }
    return creates;
}

// The threads of this process.
std::size_t own_thread_count()
{
    const UniqueHandle snapshot{CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0)};
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    std::size_t count = 0;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more;
         more = Thread32Next(snapshot.get(), &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    }
    return count;
}

DWORD own_handle_count()
{
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

// A lost-connection callback that counts and signals.
struct LostCalls {
    UniqueHandle event{CreateEventW(nullptr, FALSE /* auto reset */, FALSE, nullptr)};
    std::atomic<int> count{0};

    static void on_lost(void* context)
    {
        auto* self = static_cast<LostCalls*>(context);
        ++self->count;
        SetEvent(self->event.get());
    }
};

// Each test installs the helper's service for the Wine user (or not), starts from an empty
// stand-in ledger, and removes the service again when it ends.
class DisplayClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing::reset_software_device_standin();
        ASSERT_TRUE(testing::remove_helper_service()) << "a service left by someone else";
    }

    void install_for(std::string_view sid)
    {
        service.emplace(sid);
        ASSERT_TRUE(service->registered());
    }

    ClientResult<std::unique_ptr<DisplayClient>> connect(std::chrono::milliseconds wait_limit = 10s,
                                                         LostCalls* calls = nullptr)
    {
        ClientOptions options;
        options.wait_limit = wait_limit;
        if (calls != nullptr) {
            options.on_lost = &LostCalls::on_lost;
            options.context = calls;
        }
        return DisplayClient::connect(options);
    }

    // Ends the service's process from outside, as a crash or a kill would.
    void end_service_process()
    {
        const DWORD process_id = service->status().dwProcessId;
        ASSERT_NE(process_id, 0u);
        const UniqueHandle process{OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, process_id)};
        ASSERT_TRUE(process.valid());
        ASSERT_TRUE(TerminateProcess(process.get(), 1));
    }

    testing::ServiceLog log;
    std::optional<HelperService> service;
};

TEST_F(DisplayClientTest, connecting_to_a_stopped_service_starts_it)
{
    install_for(testing::kWineUserSid);
    ASSERT_EQ(service->status().dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));

    auto client = connect();
    ASSERT_TRUE(client) << client.error().text;
    const auto version = client.value()->ping();
    ASSERT_TRUE(version);
    EXPECT_EQ(version.value(), "0.0.0");
    EXPECT_EQ(service->status().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(DisplayClientTest, connecting_to_a_running_service_uses_it_as_it_is)
{
    install_for(testing::kWineUserSid);
    ASSERT_TRUE(service->start());
    const DWORD running = service->wait_for_state(SERVICE_RUNNING, kStateLimit).dwProcessId;

    auto client = connect();
    ASSERT_TRUE(client) << client.error().text;
    EXPECT_TRUE(client.value()->ping());
    EXPECT_EQ(service->status().dwProcessId, running) << "the same service process serves it";
    EXPECT_EQ(log.count("listening for " + std::string{testing::kWineUserSid}), 1u);
}

TEST_F(DisplayClientTest, services_that_cannot_serve_this_user_are_told_apart)
{
    struct Case {
        std::optional<std::string_view> installed_for; // nothing: not installed
        ErrorKind expected;
    };
    // Wine leaves both the service's and the pipe's access lists unenforced, so the service
    // of another user is met where the helper drops the connection at admission.
    const std::vector<Case> cases = {{std::nullopt, ErrorKind::not_installed},
                                     {"S-1-5-18", ErrorKind::access_denied}};
    for (const Case& c : cases) {
        if (c.installed_for) {
            install_for(*c.installed_for);
        }
        const auto client = connect();
        ASSERT_FALSE(client);
        EXPECT_EQ(client.error().kind, c.expected) << client.error().text;
        EXPECT_NE(client.error().text.find("TolvekDisplayHelper"), std::string::npos)
            << client.error().text;
        service.reset();
    }
}

TEST_F(DisplayClientTest, a_busy_pipe_is_waited_for_within_the_limit)
{
    install_for(testing::kWineUserSid);
    ASSERT_TRUE(service->start());
    ASSERT_EQ(service->wait_for_state(SERVICE_RUNNING, kStateLimit).dwCurrentState,
              static_cast<DWORD>(SERVICE_RUNNING));
    std::vector<testing::PipeClient> holders; // all four instances, each with a monitor
    for (std::uint32_t serial = 1; serial <= 4; ++serial) {
        std::optional<testing::PipeClient> holder = testing::open_helper_pipe(10s);
        ASSERT_TRUE(holder.has_value());
        ASSERT_EQ(testing::request(*holder, create_line(serial)), testing::kOk);
        holders.push_back(std::move(*holder));
    }

    const auto refused = connect(500ms);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, ErrorKind::pipe_busy);
    EXPECT_NE(refused.error().text.find("stayed busy for 0.5 s"), std::string::npos)
        << refused.error().text;

    std::optional<ClientResult<std::unique_ptr<DisplayClient>>> waited;
    std::thread connecting{[&] { waited.emplace(connect(10s)); }};
    holders.front().close(); // frees an instance once its session has ended
    connecting.join();
    ASSERT_TRUE(waited.has_value());
    ASSERT_TRUE(*waited) << waited->error().text;
    EXPECT_TRUE(waited->value()->ping());
}

TEST_F(DisplayClientTest, each_reply_word_of_the_helper_is_its_own_error)
{
    install_for(testing::kWineUserSid);
    testing::script_software_device_standin(
        {{monitor_instance_id(9), testing::StandinAction::fail_at_once, E_FAIL, 0}});
    auto connected = connect();
    ASSERT_TRUE(connected) << connected.error().text;
    DisplayClient& client = *connected.value();

    const auto refused = client.create(1921, 1080, 1);
    const auto failed = client.create(1920, 1080, 9);
    const auto unknown = client.destroy(7);
    for (std::uint32_t serial = 1; serial <= 4; ++serial) {
        ASSERT_TRUE(client.create(1920, 1080, serial));
    }
    const auto limit = client.create(1920, 1080, 5);
    const std::vector<std::pair<std::optional<ClientError>, ErrorKind>> outcomes = {
        {refused ? std::nullopt : std::optional{refused.error()}, ErrorKind::refused},
        {failed ? std::nullopt : std::optional{failed.error()}, ErrorKind::failed},
        {unknown ? std::nullopt : std::optional{unknown.error()}, ErrorKind::unknown},
        {limit ? std::nullopt : std::optional{limit.error()}, ErrorKind::limit},
    };
    for (const auto& [error, kind] : outcomes) {
        ASSERT_TRUE(error.has_value()) << static_cast<int>(kind);
        EXPECT_EQ(error->kind, kind) << error->text;
    }
    EXPECT_EQ(client.monitors().size(), 4u);
    EXPECT_FALSE(client.connection_lost());
}

TEST_F(DisplayClientTest, a_lost_connection_is_noticed_within_a_second_and_restored_twenty_times)
{
    install_for(testing::kWineUserSid);
    LostCalls calls;
    auto connected = connect(10s, &calls);
    ASSERT_TRUE(connected) << connected.error().text;
    DisplayClient& client = *connected.value();
    const std::vector<Monitor> monitors{{1920, 1080, 1}, {2560, 1440, 2}};
    for (const Monitor& monitor : monitors) {
        ASSERT_TRUE(client.create(monitor.width, monitor.height, monitor.serial));
    }

    std::optional<DWORD> handles_after_first;
    std::optional<std::size_t> threads_after_first;
    for (int round = 1; round <= 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        end_service_process();
        // Idle: no call is in progress, so only the client's own watch can notice.
        ASSERT_EQ(WaitForSingleObject(client.lost_event(), 1000), WAIT_OBJECT_0)
            << "not noticed within 1 s";
        ASSERT_EQ(WaitForSingleObject(calls.event.get(), 1000), WAIT_OBJECT_0);
        EXPECT_TRUE(client.connection_lost());

        const ClientStatus restored = client.restore();
        ASSERT_TRUE(restored) << restored.error().text;
        EXPECT_EQ(WaitForSingleObject(client.lost_event(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
        EXPECT_EQ(client.monitors(), monitors);
        const std::vector<LedgerCreate> made_again = creates_of(service->status().dwProcessId);
        ASSERT_EQ(made_again.size(), monitors.size());
        for (std::size_t i = 0; i < monitors.size(); ++i) {
            const Monitor& m = monitors[i];
            EXPECT_EQ(made_again[i].instance_id, monitor_instance_id(m.serial));
            EXPECT_EQ(monitor_spec_of(made_again[i]),
                      testing::utf16_buffer(
                          monitor_spec_text(m.width, m.height, kMonitorRefreshHz,
                                            {kMonitorVendorId, kMonitorProductId, m.serial})));
        }
        if (round == 1) {
            handles_after_first = own_handle_count();
            threads_after_first = own_thread_count();
        }
    }
    EXPECT_EQ(calls.count.load(), 20);
    EXPECT_EQ(own_handle_count(), *handles_after_first) << "a round leaves no handle behind";
    EXPECT_EQ(own_thread_count(), *threads_after_first) << "a round leaves no thread behind";
}

TEST_F(DisplayClientTest, threads_share_one_client_and_a_destroy_may_race_a_restore)
{
    install_for(testing::kWineUserSid);
    auto connected = connect();
    ASSERT_TRUE(connected) << connected.error().text;
    DisplayClient& client = *connected.value();

    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (std::uint32_t serial = 1; serial <= 3; ++serial) {
        threads.emplace_back([&, serial] {
            for (int round = 0; round < 20; ++round) {
                // Requests from threads that end right after: their I/O must outlive them.
                const bool kept = client.create(2 * serial, 2, serial).ok() && client.ping().ok() &&
                                  (round == 19 || client.destroy(serial).ok());
                failures += kept ? 0 : 1;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(client.monitors().size(), 3u);

    for (int round = 0; round < 3; ++round) {
        end_service_process();
        ASSERT_EQ(WaitForSingleObject(client.lost_event(), 1000), WAIT_OBJECT_0);
        const std::uint32_t gone = static_cast<std::uint32_t>(3 - round);
        std::thread restorer{[&] {
            const ClientStatus restored = client.restore();
            EXPECT_TRUE(restored) << restored.error().text;
        }};
        std::thread destroyer{[&] {
            const ClientStatus destroyed = client.destroy(gone);
            EXPECT_TRUE(destroyed) << destroyed.error().text;
        }};
        restorer.join();
        destroyer.join();
        ASSERT_FALSE(client.connection_lost());
        const DWORD process = service->status().dwProcessId;
        std::size_t live = creates_of(process).size();
        for (const testing::LedgerClose& close : testing::read_software_device_ledger().closes()) {
            live -= close.process == process ? 1 : 0;
        }
        EXPECT_EQ(live, client.monitors().size()) << "the service holds what the list says";
        EXPECT_EQ(client.monitors().size(), gone - 1);
    }
}

TEST_F(DisplayClientTest, a_program_holding_the_pipe_name_is_refused_before_anything_is_sent)
{
    install_for(testing::kWineUserSid);
    const std::wstring prefix = L"tolvek-squatter-" + std::to_wstring(GetCurrentProcessId());
    const UniqueHandle ready{CreateEventW(nullptr, TRUE, FALSE, (prefix + L"-ready").c_str())};
    const UniqueHandle quit{CreateEventW(nullptr, TRUE, FALSE, (prefix + L"-quit").c_str())};
    const std::wstring command = L"\"" +
                                 (testing::executable_folder() / "pipe_squatter.exe").wstring() +
                                 L"\" " + prefix + L"-ready " + prefix + L"-quit";
    std::optional<testing::ProcessOutcome> squatter;
    std::thread squatting{[&] { squatter = testing::run_process(command, 30s); }};
    ASSERT_EQ(WaitForSingleObject(ready.get(), 10000), WAIT_OBJECT_0);

    const auto client = connect(3s);
    SetEvent(quit.get());
    squatting.join();
    ASSERT_FALSE(client);
    EXPECT_EQ(client.error().kind, ErrorKind::impostor) << client.error().text;
    EXPECT_NE(client.error().text.find("another program"), std::string::npos);
    ASSERT_TRUE(squatter.has_value());
    EXPECT_EQ(squatter->exit_code, 0u) << "0: connected and heard nothing; 1: nobody came";
    EXPECT_EQ(service->status().dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED))
        << "the service is not started for a pipe that another program serves";
}

} // namespace
} // namespace tolvek::display
