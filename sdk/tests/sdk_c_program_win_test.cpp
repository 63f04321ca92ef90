// tolvek_sdk.dll from C: the program sdk_c_program (sdk_c_program.c) run under Wine, one
// scenario at a time, with the helper installed as the service of the test prefix for the Wine
// user, with the stand-in cfgmgr32.dll behind device creation, or with no service at all. The
// program is the one TOLVEK_SDK_C_PROGRAM names: this build's, or the 32-bit build's, which
// then talks to this build's 64-bit helper.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "monitor_identity.h"
#include "support/helper_service_win.h"
#include "support/setup_test_support_win.h"
#include "support/software_device_standin_win.h"
#include "support/test_environment_win.h"
#include "tolvek/system_paths_win.h"
#include "tolvek/wide_text_win.h"

namespace tolvek::sdk {
namespace {

using namespace std::chrono_literals;

class SdkCProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing::reset_software_device_standin();
        ASSERT_TRUE(testing::remove_helper_service()) << "a service left by someone else";
    }

    // Runs the scenario and expects every check of it to pass; its output tells which failed.
    static void expect_passes(const std::wstring& scenario)
    {
        const std::optional<std::u16string> program = environment_variable(L"TOLVEK_SDK_C_PROGRAM");
        ASSERT_TRUE(program.has_value()) << "TOLVEK_SDK_C_PROGRAM names no program";
        const std::optional<testing::ProcessOutcome> outcome = testing::run_process(
            L"\"" + std::wstring{as_wide(program->c_str())} + L"\" " + scenario, 60s);
        ASSERT_TRUE(outcome.has_value()) << "did not start or did not end within a minute";
        EXPECT_EQ(outcome->exit_code, 0u) << outcome->standard_error;
        // A passing scenario writes this one line (in text mode, as C programs write).
        EXPECT_EQ(outcome->standard_output,
                  std::string(scenario.begin(), scenario.end()) + ": all checks passed\r\n");
    }
};

TEST_F(SdkCProgramTest, status_texts_version_and_null_handles)
{
    expect_passes(L"interface");
}

TEST_F(SdkCProgramTest, a_producer_publishes_counts_viewers_and_keeps_a_second_one_out)
{
    expect_passes(L"producer");
}

TEST_F(SdkCProgramTest, monitors_come_from_the_service_and_come_back_after_a_lost_connection)
{
    const testing::HelperService service{testing::kWineUserSid};
    ASSERT_TRUE(service.registered());
    expect_passes(L"monitors");

    // Serials 1 and 2; after the service's process was ended, 1 let go while lost, the restore
    // brings 2 back in a new service process, and 1 is made anew there.
    std::vector<std::optional<std::string>> made;
    std::vector<std::uint32_t> processes;
    for (const testing::LedgerCreate& create : testing::read_software_device_ledger().creates()) {
        made.push_back(create.instance_id);
        processes.push_back(create.process);
    }
    const std::vector<std::optional<std::string>> expected = {
        monitor_instance_id(1), monitor_instance_id(2), monitor_instance_id(2),
        monitor_instance_id(1)};
    EXPECT_EQ(made, expected);
    ASSERT_EQ(processes.size(), 4u);
    EXPECT_EQ(processes[0], processes[1]);
    EXPECT_NE(processes[1], processes[2]);
    EXPECT_EQ(processes[2], processes[3]);
}

TEST_F(SdkCProgramTest, without_the_service_a_connect_says_it_is_not_installed)
{
    expect_passes(L"no-service");
}

} // namespace
} // namespace tolvek::sdk
