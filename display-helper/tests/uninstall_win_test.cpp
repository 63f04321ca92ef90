// uninstall run as the real program against Wine's service manager and the fake pnputil.
// The running service is the test service, installed by install in the helper's place.

#include <windows.h>

#include <gtest/gtest.h>

#include <regex>

#include "support/service_layout_win.h"
#include "support/setup_test_support_win.h"

namespace tolvek {
namespace {

namespace fs = std::filesystem;
using Calls = std::vector<std::vector<std::string>>;
using testing::StoredPackage;

class UninstallTest : public testing::ServiceLayoutTest {
protected:
    // A copy of the helper to run, and the test service installed where install finds the
    // helper.
    fs::path install_test_service(const std::string& mode)
    {
        const fs::path setup = place_helper("setup.exe");
        place_test_service("display-helper/tolvek-display-helper.exe", mode);
        const auto run = testing::run_program(setup, {L"install", L"S-1-5-21-0-0-0-1000"});
        EXPECT_TRUE(run && run->exit_code == 0);
        return setup;
    }
};

const std::string kBothOk = "uninstalled (service: Ok(()), driver: Ok(()))";

TEST_F(UninstallTest, with_nothing_installed_both_steps_succeed_and_nothing_is_printed)
{
    const fs::path helper = place_helper("tolvek-display-helper.exe");
    pnputil.set_store({{"oem3.inf", "other.inf"}});

    const auto run = testing::run_program(helper, {L"uninstall"});
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->exit_code, 0u);
    EXPECT_EQ(run->standard_output, "");
    EXPECT_EQ(run->standard_error, "");
    EXPECT_EQ(pnputil.calls(), Calls{{"/enum-drivers"}});
    EXPECT_EQ(log(), std::vector<std::string>{kBothOk});
}

TEST_F(UninstallTest, a_stopped_service_and_the_package_are_removed)
{
    const fs::path helper = place_helper("tolvek-display-helper.exe");
    ASSERT_EQ(testing::run_program(helper, {L"install", L"S-1-5-18"})->exit_code, 0u);
    pnputil.set_store({{"oem3.inf", "other.inf"}, {"oem7.inf", "tolvekidd.inf"}});

    const auto run = testing::run_program(helper, {L"uninstall"});
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->exit_code, 0u) << run->standard_error;
    EXPECT_TRUE(testing::helper_service_gone_within(std::chrono::seconds{10}));
    EXPECT_EQ(pnputil.store(), (std::vector<StoredPackage>{{"oem3.inf", "other.inf"}}));
    EXPECT_EQ(log().back(), kBothOk);
}

TEST_F(UninstallTest, a_running_service_is_asked_to_stop_and_goes_once_stopped)
{
    const fs::path setup = install_test_service("stoppable");
    start_service_and_wait_until_running();

    const auto run = testing::run_program(setup, {L"uninstall"});
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->exit_code, 0u) << run->standard_error;
    EXPECT_TRUE(stop_requested_within(std::chrono::seconds{30}));
    EXPECT_TRUE(testing::helper_service_gone_within(std::chrono::seconds{20}));
    EXPECT_EQ(log().back(), kBothOk);
}

// A service that does not stop shows that uninstall does not wait: it has deleted the
// service and finished while the service still runs.
TEST_F(UninstallTest, the_deletion_follows_the_stop_request_without_waiting_for_the_stop)
{
    const fs::path setup = install_test_service("stubborn");
    start_service_and_wait_until_running();

    const auto run = testing::run_program(setup, {L"uninstall"});
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->exit_code, 0u) << run->standard_error;
    EXPECT_FALSE(testing::helper_service_gone_within(std::chrono::milliseconds{0}))
        << "still running, so still there";

    let_service_quit();
    EXPECT_TRUE(testing::helper_service_gone_within(std::chrono::seconds{20}))
        << "it was deleted: it goes once it has stopped";
}

TEST_F(UninstallTest, when_both_steps_fail_the_service_error_is_the_result_and_both_are_logged)
{
    // A second uninstall of a service that still runs finds it marked for deletion already.
    const fs::path setup = install_test_service("stubborn");
    start_service_and_wait_until_running();
    ASSERT_EQ(testing::run_program(setup, {L"uninstall"})->exit_code, 0u);
    pnputil.set_store({{"oem7.inf", "tolvekidd.inf"}});
    pnputil.put_file("busy.out", "Failed:\r\n\t\"oem7.inf\" is in use\r\n");
    pnputil.reply("delete-driver", "exit 5\nstdout-file busy.out\n");

    const auto run = testing::run_program(setup, {L"uninstall"});
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->exit_code, 1u);
    const std::regex service_error{R"(the service would not be deleted: .* \(0x80070430\))"};
    std::smatch match;
    const std::string printed = run->standard_error;
    ASSERT_TRUE(printed.ends_with("\n"));
    const std::string service_text = printed.substr(0, printed.size() - 1);
    EXPECT_TRUE(std::regex_match(service_text, service_error)) << printed;

    const std::vector<std::string> messages = log();
    ASSERT_EQ(messages.size(), 5u); // two of install, one of each uninstall, the error
    EXPECT_EQ(messages[3], "uninstalled (service: Err(\"" + service_text +
                               "\"), driver: Err(\"the driver package would not go: Failed:\\r\\n"
                               "\\t\\\"oem7.inf\\\" is in use\"))");
    EXPECT_EQ(messages[4], service_text) << "the entry's line for the result";
}

} // namespace
} // namespace tolvek
