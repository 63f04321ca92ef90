// The helper's program entry run as a child process: what a wrong command line prints,
// returns and logs. (Successful install and uninstall runs are in their own tests.)

#include <windows.h>

#include <gtest/gtest.h>

#include "command_line.h"
#include "support/setup_test_support_win.h"

namespace tolvek {
namespace {

TEST(ProgramEntry, every_wrong_command_line_prints_the_usage_logs_it_once_and_exits_with_1)
{
    const testing::ScopedTempDir program_data;
    const testing::ScopedEnvironmentVariable variable{L"ProgramData",
                                                      program_data.path().wstring()};
    const auto helper = testing::executable_folder() / "tolvek-display-helper.exe";
    const std::string usage{kUsage};

    const std::vector<std::vector<std::wstring>> command_lines = {
        {},
        {L"Service", L"S-1-5-18"},
        {L"INSTALL", L"S-1-5-18"},
        {L"UNINSTALL"},
        {L"uninstall", L"now"},
        {L"install"},
        {L"install", L"S-1-5-18", L"S-1-5-19"},
        {L"service"},
        {L"service", L"S-1-5-18", L"extra"},
        {L"help"},
        {L"install", std::wstring(1, wchar_t(0xD800))}, // not valid UTF-16
    };
    std::size_t runs = 0;
    for (const auto& arguments : command_lines) {
        const auto run = testing::run_program(helper, arguments);
        ASSERT_TRUE(run.has_value());
        ++runs;
        EXPECT_EQ(run->exit_code, 1u) << "command line " << runs;
        EXPECT_EQ(run->standard_error, usage + "\n") << "command line " << runs;
        EXPECT_EQ(run->standard_output, "") << "command line " << runs;
        EXPECT_EQ(testing::log_messages(program_data.path()), std::vector<std::string>(runs, usage))
            << "command line " << runs;
    }
}

} // namespace
} // namespace tolvek
