// The child process runner against a real child (the fake pnputil): the arguments it reads
// back, its empty input, both output streams at once, and a program that cannot start.

#include "tolvek/child_process_win.h"

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <future>
#include <regex>
#include <thread>

#include "argument_quoting_cases.h"
#include "support/setup_test_support_win.h"
#include "tolvek/argument_quoting.h"
#include "tolvek/owners_win.h"
#include "tolvek/text_encoding.h"
#include "tolvek/wide_text_win.h"

namespace tolvek {
namespace {

const std::u16string kFakePnputil = u"C:\\windows\\system32\\pnputil.exe";

std::vector<std::string> utf8_all(const std::vector<std::u16string>& texts)
{
    std::vector<std::string> out;
    for (const std::u16string& text : texts) {
        out.push_back(utf16_to_utf8(text).value());
    }
    return out;
}

TEST(ChildProcess, command_line_to_argv_reads_every_quoted_argument_back)
{
    const std::vector<std::u16string> arguments = testing::quoting_cases();
    const std::u16string line = child_command_line(kFakePnputil, arguments);
    int count = 0;
    const UniqueLocalMemory<wchar_t*> argv{CommandLineToArgvW(as_wide(line.c_str()), &count)};
    ASSERT_TRUE(argv.valid());
    ASSERT_EQ(count, static_cast<int>(arguments.size()) + 1);
    EXPECT_EQ(as_utf16(argv.get()[0]), kFakePnputil);
    for (int i = 1; i < count; ++i) {
        EXPECT_EQ(as_utf16(argv.get()[i]), arguments[i - 1]) << "argument " << i;
    }
}

TEST(ChildProcess, the_child_gets_exactly_the_arguments_and_an_empty_input)
{
    const testing::FakePnputil fake;
    fake.reply("read-stdin-probe", "read-stdin 1\nexit 7\n");
    std::vector<std::u16string> arguments = testing::quoting_cases();
    arguments.insert(arguments.begin(), u"/read-stdin-probe");

    const auto run = run_child_process(kFakePnputil, arguments);
    ASSERT_TRUE(run.ok()) << run.error().text;
    EXPECT_EQ(run.value().exit_code, 7u);
    EXPECT_EQ(run.value().standard_output, "stdin held 0 bytes");
    EXPECT_EQ(fake.calls(), std::vector<std::vector<std::string>>{utf8_all(arguments)});
}

// A runner that read one stream to its end before the other would hang here: the fake
// writes both streams in turns, 8 MiB each.
TEST(ChildProcess, several_megabytes_on_both_streams_are_captured_whole_without_deadlock)
{
    const testing::FakePnputil fake;
    constexpr std::size_t kSize = 8u << 20;
    fake.reply("flood", "stdout-fill " + std::to_string(kSize) + "\nstderr-fill " +
                            std::to_string(kSize + 1) + "\nexit 0\n");

    std::packaged_task<Result<ChildProcessOutput>()> task{
        [] { return run_child_process(kFakePnputil, {u"/flood"}); }};
    auto finished = task.get_future();
    std::thread runner{std::move(task)};
    if (finished.wait_for(std::chrono::seconds{60}) != std::future_status::ready) {
        runner.detach();
        FAIL() << "the run did not end: the streams deadlocked";
    }
    runner.join();
    const auto run = finished.get();
    ASSERT_TRUE(run.ok()) << run.error().text;
    EXPECT_EQ(run.value().standard_output.size(), kSize);
    EXPECT_EQ(run.value().standard_error.size(), kSize + 1);
    EXPECT_EQ(run.value().standard_output.find_first_not_of("o\n"), std::string::npos);
}

TEST(ChildProcess, a_program_that_cannot_start_gives_the_os_error_form)
{
    const testing::ScopedTempDir folder;
    const std::u16string missing{as_utf16((folder.path() / "missing.exe").c_str())};
    const auto run = run_child_process(missing, {u"/enum-drivers"});
    ASSERT_FALSE(run.ok());
    EXPECT_TRUE(std::regex_match(run.error().text, std::regex{R"(.+ \(os error 2\))"}))
        << run.error().text;
}

} // namespace
} // namespace tolvek
