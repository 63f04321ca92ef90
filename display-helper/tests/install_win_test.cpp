// install run as the real program (a copy of the built helper in a layout of the test's own)
// against Wine's service manager and the fake pnputil. Wine keeps no service security
// descriptor (its query returns an empty DACL and setting one stores nothing), so these tests
// prove that the widening calls all succeed; what they change shows only on Windows.

#include <windows.h>

#include <gtest/gtest.h>

#include "request_protocol.h"
#include "service_name.h"
#include "setup/service_configuration.h"
#include "support/helper_service_win.h"
#include "support/protocol_lines.h"
#include "support/service_layout_win.h"
#include "support/setup_test_support_win.h"
#include "support/software_device_standin_win.h"
#include "tolvek/wide_text_win.h"

namespace tolvek {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Calls = std::vector<std::vector<std::string>>;
using testing::kWineUserSid;

class InstallTest : public testing::ServiceLayoutTest {};

std::wstring expected_command_line(const fs::path& helper, std::string_view sid)
{
    return L"\"" + helper.wstring() + L"\" service " + std::wstring(sid.begin(), sid.end());
}

// Installs `helper` for the Wine user, starts the service and waits until it runs; the
// service manager, connected, to wait on later states. A step that fails is reported, and
// the test then fails at its first wait for the service.
UniqueServiceHandle install_and_start(const fs::path& helper)
{
    const std::wstring user_sid{kWineUserSid.begin(), kWineUserSid.end()};
    const auto run = testing::run_program(helper, {L"install", user_sid});
    EXPECT_TRUE(run && run->exit_code == 0) << (run ? run->standard_error : "did not run");

    UniqueServiceHandle manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)};
    const UniqueServiceHandle service{
        OpenServiceW(manager.get(), as_wide(kServiceName), SERVICE_START)};
    EXPECT_TRUE(service.valid()) << GetLastError();
    EXPECT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();
    EXPECT_EQ(
        testing::wait_for_helper_service_state(manager.get(), SERVICE_RUNNING, 30s).dwCurrentState,
        static_cast<DWORD>(SERVICE_RUNNING));
    return manager;
}

TEST_F(InstallTest, creates_the_demand_start_own_process_service_with_the_quoted_helper_path)
{
    const fs::path helper = place_helper("tolvek-display-helper.exe");
    const fs::path package = place_driver_package(app());

    const auto run = testing::run_program(helper, {L"install", L"s-1-5-21-0-0-0-1000"});
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->exit_code, 0u) << run->standard_error;
    EXPECT_EQ(run->standard_output, "");
    EXPECT_EQ(run->standard_error, "");

    const auto service = testing::query_helper_service();
    ASSERT_TRUE(service.has_value());
    EXPECT_EQ(service->service_type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(service->start_type, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(service->error_control, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(service->display_name, L"Tolvek Display Helper");
    EXPECT_EQ(service->binary_path, expected_command_line(helper, kWineUserSid))
        << "the folder has a blank and the SID is written in canonical form";

    EXPECT_EQ(pnputil.calls(), (Calls{{"/add-driver", narrow(package), "/install"}}));
    EXPECT_EQ(log(), std::vector<std::string>{"installed for S-1-5-21-0-0-0-1000"});
}

TEST_F(InstallTest, a_helper_only_in_deps_goes_on_the_command_line_with_the_package_of_deps)
{
    const fs::path setup = place_helper("setup.exe");
    const fs::path helper = place_helper("deps/tolvek-display-helper.exe");
    const fs::path package = place_driver_package(app() / "deps");
    place_driver_package(app()); // not the one beside the helper that was found

    const auto run = testing::run_program(setup, {L"install", L"S-1-5-21-0-0-0-1000"});
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->exit_code, 0u) << run->standard_error;
    ASSERT_TRUE(testing::query_helper_service().has_value());
    EXPECT_EQ(testing::query_helper_service()->binary_path,
              expected_command_line(helper, kWineUserSid));
    EXPECT_EQ(pnputil.calls(), (Calls{{"/add-driver", narrow(package), "/install"}}));
}

TEST_F(InstallTest, the_display_helper_folder_wins_and_a_missing_package_is_logged_and_skipped)
{
    const fs::path setup = place_helper("setup.exe");
    place_helper("tolvek-display-helper.exe");
    place_helper("deps/tolvek-display-helper.exe");
    const fs::path helper = place_helper("display-helper/tolvek-display-helper.exe");

    const auto run = testing::run_program(setup, {L"install", L"S-1-5-21-0-0-0-1000"});
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->exit_code, 0u) << run->standard_error;
    ASSERT_TRUE(testing::query_helper_service().has_value());
    EXPECT_EQ(testing::query_helper_service()->binary_path,
              expected_command_line(helper, kWineUserSid));
    EXPECT_TRUE(pnputil.calls().empty());
    EXPECT_EQ(log(), (std::vector<std::string>{
                         "no driver package in this build; installing the service alone",
                         "installed for S-1-5-21-0-0-0-1000"}));
}

TEST_F(InstallTest, a_second_install_reconfigures_the_service_for_the_new_user_and_keeps_its_name)
{
    const fs::path helper = place_helper("tolvek-display-helper.exe");
    ASSERT_EQ(testing::run_program(helper, {L"install", L"S-1-5-21-0-0-0-1000"})->exit_code, 0u);
    // Changes that only a recreated service would undo (the name) or that a reconfiguration
    // must undo (the start type).
    change_display_name_and_start_type(L"Renamed by the test", SERVICE_AUTO_START);

    const auto run = testing::run_program(helper, {L"install", L"SY"});
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->exit_code, 0u) << run->standard_error;
    const auto service = testing::query_helper_service();
    ASSERT_TRUE(service.has_value());
    EXPECT_EQ(service->binary_path, expected_command_line(helper, "S-1-5-18"));
    EXPECT_EQ(service->start_type, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(service->display_name, L"Renamed by the test");
    EXPECT_EQ(log(), (std::vector<std::string>{
                         "no driver package in this build; installing the service alone",
                         "installed for S-1-5-21-0-0-0-1000",
                         "no driver package in this build; installing the service alone",
                         "installed for S-1-5-18"}));
}

TEST_F(InstallTest, the_installed_service_starts_with_the_command_line_install_wrote)
{
    const fs::path setup = place_helper("setup.exe");
    place_test_service("display-helper/tolvek-display-helper.exe", "stoppable");
    ASSERT_EQ(testing::run_program(setup, {L"install", L"S-1-5-21-0-0-0-1000"})->exit_code, 0u);

    start_service_and_wait_until_running();
    EXPECT_EQ(service_arguments(), (std::vector<std::string>{"service", "S-1-5-21-0-0-0-1000"}));
}

TEST_F(InstallTest, the_installed_helper_serves_its_user_and_stops_when_the_client_leaves)
{
    const fs::path helper = place_helper("tolvek-display-helper.exe");
    const UniqueServiceHandle manager = install_and_start(helper);

    std::optional<testing::PipeClient> client = testing::open_helper_pipe(30s);
    ASSERT_TRUE(client.has_value()) << "the pipe of the installed service never opened";
    EXPECT_EQ(testing::request(*client, testing::kPing), testing::kPong);
    client->close();
    EXPECT_EQ(
        testing::wait_for_helper_service_state(manager.get(), SERVICE_STOPPED, 30s).dwCurrentState,
        static_cast<DWORD>(SERVICE_STOPPED))
        << "the service stops once its last client has gone";
}

// Would catch a load by the ordinary search, which looks in the program's folder first: the
// service runs as LocalSystem, so whoever may write the folder that install was run from would
// run code as LocalSystem.
TEST_F(InstallTest, a_cfgmgr32_dll_beside_the_installed_helper_is_never_loaded)
{
    const fs::path helper = place_helper("tolvek-display-helper.exe");
    fs::copy_file(testing::executable_folder() / "planted_cfgmgr32.dll", app() / "cfgmgr32.dll");
    testing::reset_software_device_standin();
    const UniqueServiceHandle manager = install_and_start(helper);

    std::optional<testing::PipeClient> client = testing::open_helper_pipe(30s);
    ASSERT_TRUE(client.has_value());
    EXPECT_EQ(testing::request(*client, encode_request(Create{1920, 1080, 60, 0x546F, 0x4C56, 1})),
              testing::kOk);
    client->close();
    EXPECT_EQ(
        testing::wait_for_helper_service_state(manager.get(), SERVICE_STOPPED, 30s).dwCurrentState,
        static_cast<DWORD>(SERVICE_STOPPED));

    EXPECT_EQ(testing::read_software_device_ledger().creates().size(), 1u)
        << "the system folder's cfgmgr32.dll made the device";
    EXPECT_FALSE(fs::exists(app() / "planted-cfgmgr32-loaded"))
        << "the cfgmgr32.dll beside the helper was loaded";
}

TEST_F(InstallTest, refusals_end_install_before_the_service_is_touched)
{
    const fs::path helper = place_helper("tolvek-display-helper.exe");
    place_driver_package(app());
    pnputil.put_file("refusal.out", "Adding failed:\r\n\xFF\xFE not UTF-8\r\n\r\n");
    pnputil.reply("add-driver", "exit 1\nstdout-file refusal.out\n");

    struct Case {
        std::wstring argument;
        std::string error;
    };
    const Case cases[] = {
        {L"Administrator", "that is not a user"},
        {L"S-1-5-21-0-0-0-1000",
         "the driver package was refused: Adding failed:\r\n\xEF\xBF\xBD\xEF\xBF\xBD not UTF-8"},
    };
    for (const Case& c : cases) {
        const auto run = testing::run_program(helper, {L"install", c.argument});
        ASSERT_TRUE(run.has_value());
        EXPECT_EQ(run->exit_code, 1u);
        EXPECT_EQ(run->standard_output, "");
        EXPECT_EQ(run->standard_error, c.error + "\n");
        EXPECT_FALSE(testing::query_helper_service().has_value());
    }
    EXPECT_EQ(pnputil.calls().size(), 1u) << "the SID is checked before the package is added";
    EXPECT_EQ(log(), (std::vector<std::string>{cases[0].error, cases[1].error}));
}

TEST_F(InstallTest, a_build_without_the_helper_is_refused)
{
    const fs::path setup = place_helper("setup.exe");
    place_helper("other/tolvek-display-helper.exe");
    const auto run = testing::run_program(setup, {L"install", L"S-1-5-18"});
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->exit_code, 1u);
    EXPECT_EQ(run->standard_error, "this build ships no display helper\n");
    EXPECT_FALSE(testing::query_helper_service().has_value());
    EXPECT_TRUE(pnputil.calls().empty());
}

} // namespace
} // namespace tolvek
