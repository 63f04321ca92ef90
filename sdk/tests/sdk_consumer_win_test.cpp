// The consumer project (consumer/), built by the fixture step sdk_consumer_built against a fresh
// install of this build's SDK and nothing else, run under Wine: its C++ program on the static
// libraries and its C program on tolvek_sdk.dll each feed the camera a frame and hold a monitor
// of the helper, installed as the service of the test prefix.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/helper_service_win.h"
#include "support/setup_test_support_win.h"
#include "support/software_device_standin_win.h"
#include "support/test_environment_win.h"
#include "tolvek/system_paths_win.h"
#include "tolvek/wide_text_win.h"
#include "tolvek_sdk_version.h"

namespace tolvek::sdk {
namespace {

using namespace std::chrono_literals;

// The output lines, line ends of either kind taken off.
std::vector<std::string> output_lines(const std::string& output)
{
    std::vector<std::string> lines = testing::lines_of(output);
    for (std::string& line : lines) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
    }
    return lines;
}

TEST(SdkConsumer, programs_built_on_the_installed_sdk_alone_feed_the_camera_and_hold_a_monitor)
{
    testing::reset_software_device_standin();
    ASSERT_TRUE(testing::remove_helper_service());
    const testing::HelperService service{testing::kWineUserSid};
    ASSERT_TRUE(service.registered());
    const std::optional<std::u16string> folder = environment_variable(L"TOLVEK_SDK_CONSUMER_BIN");
    ASSERT_TRUE(folder.has_value()) << "the consumer's build folder is not named";

    struct Case {
        const wchar_t* program;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {L"cpp_consumer.exe",
         {"camera: published frame 1 to 0 viewers",
          "monitors: helper 0.0.0 holds 1920x1080 as serial 1"}},
        {L"c_consumer.exe",
         {std::string{"sdk "} + TOLVEK_SDK_VERSION_TEXT, "camera: published a frame to 0 viewers",
          "monitors: helper 0.0.0 holds 2560x1440 as serial 2"}},
    };
    for (const Case& c : cases) {
        const std::filesystem::path program =
            std::filesystem::path{as_wide(folder->c_str())} / c.program;
        const std::optional<testing::ProcessOutcome> outcome =
            testing::run_process(L"\"" + program.wstring() + L"\"", 60s);
        ASSERT_TRUE(outcome.has_value()) << program << " did not start or did not end";
        EXPECT_EQ(outcome->exit_code, 0u) << program << outcome->standard_error;
        EXPECT_EQ(output_lines(outcome->standard_output), c.lines) << program;
    }
}

} // namespace
} // namespace tolvek::sdk
