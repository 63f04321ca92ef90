// The log file on the real file system calls: folder creation and its access list, the size
// rule, sharing, names that lead elsewhere, a reader holding the writers' lock, and many writers
// in threads and processes at once. Wine cannot make a folder owned by another user (every
// file is the Wine user's), a junction (FSCTL_SET_REPARSE_POINT fails with
// ERROR_NOT_SUPPORTED) or a usable symbolic link; log_file_test covers those decisions.

#include "log.h"

#include <windows.h>
#include <aclapi.h>

#include <gtest/gtest.h>

#include <fstream>
#include <latch>
#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "log_file.h"
#include "service/user_sid_win.h"
#include "support/setup_test_support_win.h"
#include "support/test_environment_win.h"
#include "tolvek/owners_win.h"

namespace tolvek {
namespace {

using testing::lines_of;
using testing::read_file;
using testing::ScopedEnvironmentVariable;
using testing::ScopedTempDir;

const std::regex kTimestampedLine{R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d) (.*))"};

struct AccessEntry {
    std::string trustee; // as the system renders the SID
    BYTE type = 0;
    BYTE flags = 0;
    ACCESS_MASK rights = 0;
    bool operator==(const AccessEntry&) const = default;
};

std::vector<AccessEntry> entries_of(PACL list)
{
    std::vector<AccessEntry> entries;
    for (DWORD index = 0; list != nullptr && index < list->AceCount; ++index) {
        void* entry = nullptr;
        if (!GetAce(list, index, &entry)) {
            break;
        }
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry); // the header and
        // mask are laid out alike for every entry type, and only allowed entries have a SID here
        entries.push_back({rendered_sid(const_cast<DWORD*>(&allowed->SidStart)).value_or("?"),
                           allowed->Header.AceType, allowed->Header.AceFlags, allowed->Mask});
    }
    return entries;
}

// Each test logs below a ProgramData of its own.
class LogTest : public ::testing::Test {
protected:
    ScopedTempDir program_data;
    ScopedEnvironmentVariable variable{L"ProgramData", program_data.path().wstring()};
    std::filesystem::path log_path = program_data.path() / "Tolvek" / "display-helper.log";

    void write_bytes(std::size_t count)
    {
        std::filesystem::create_directories(log_path.parent_path());
        std::ofstream{log_path, std::ios::binary} << std::string(count, 'x');
    }
};

TEST_F(LogTest, first_line_creates_the_folder_and_reads_timestamp_blank_message)
{
    ASSERT_FALSE(std::filesystem::exists(log_path.parent_path()));
    log_line("listening for S-1-5-21-0-0-0-1000");

    const auto text = read_file(log_path);
    ASSERT_TRUE(text.has_value());
    std::smatch match;
    ASSERT_TRUE(std::regex_match(
        *text, match,
        std::regex{R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d listening for S-1-5-21-0-0-0-1000\n)"}))
        << *text;
    EXPECT_EQ(text->find('\r'), std::string::npos);
}

TEST_F(LogTest, a_missing_folder_is_made_with_the_protected_access_list)
{
    // What the text means to the system, through its own conversion.
    const Result<UniqueLocalMemory<void>> descriptor =
        security_descriptor_from_text(kLogFolderSecurityDescriptor);
    ASSERT_TRUE(descriptor.ok()) << descriptor.error().text;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor.value().get(), &control, &revision));
    EXPECT_NE(control & SE_DACL_PROTECTED, 0);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL list = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.value().get(), &present, &list, &defaulted));
    constexpr BYTE kInherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    EXPECT_EQ(entries_of(list),
              (std::vector<AccessEntry>{
                  {"S-1-5-18", ACCESS_ALLOWED_ACE_TYPE, kInherited, FILE_ALL_ACCESS},
                  {"S-1-5-32-544", ACCESS_ALLOWED_ACE_TYPE, kInherited, FILE_ALL_ACCESS},
                  {"S-1-5-32-545", ACCESS_ALLOWED_ACE_TYPE, kInherited, FILE_GENERIC_READ}}));

    // Read back from the folder the first line made. Wine keeps of a descriptor only what the
    // Unix mode bits hold, and makes up the rest; a folder made without the list shows an
    // entry for Everyone there, and on Windows Users may add files below ProgramData.
    log_line("first");
    PACL stored = nullptr;
    UniqueLocalMemory<void> stored_descriptor;
    ASSERT_EQ(GetNamedSecurityInfoW(log_path.parent_path().c_str(), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION, nullptr, nullptr, &stored, nullptr,
                                    stored_descriptor.put()),
              static_cast<DWORD>(ERROR_SUCCESS));
    constexpr ACCESS_MASK kAnyChange = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                       FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE |
                                       WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
    for (const AccessEntry& entry : entries_of(stored)) {
        EXPECT_NE(entry.trustee, "S-1-1-0") << "an entry for Everyone";
        if (entry.trustee == "S-1-5-32-545") {
            EXPECT_EQ(entry.rights & kAnyChange, 0u) << "Users may change the folder";
        }
    }
}

TEST_F(LogTest, missing_parent_folders_of_program_data_are_created_too)
{
    const std::filesystem::path deeper = program_data.path() / "a" / "b";
    ScopedEnvironmentVariable nested{L"ProgramData", deeper.wstring()};
    log_line("x");
    EXPECT_TRUE(read_file(deeper / "Tolvek" / "display-helper.log").has_value());
}

TEST(LogWithoutProgramData, unset_or_empty_program_data_writes_nothing_anywhere)
{
    ScopedTempDir working;
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(working.path().c_str()));

    for (const std::optional<std::wstring>& value :
         {std::optional<std::wstring>{}, std::optional<std::wstring>{L""}}) {
        ScopedEnvironmentVariable variable{L"ProgramData", value};
        EXPECT_FALSE(log_file_path().has_value());
        log_line("nowhere");
    }
    SetCurrentDirectoryW(previous);
    EXPECT_TRUE(std::filesystem::is_empty(working.path()))
        << "nothing relative to the working folder";
    EXPECT_FALSE(std::filesystem::exists(L"C:\\Tolvek")) << "no fixed fallback";
}

TEST_F(LogTest, a_file_one_byte_past_the_limit_is_emptied_and_then_holds_one_line)
{
    write_bytes(262145);
    log_line("after rotation");
    const auto lines = lines_of(read_file(log_path).value());
    ASSERT_EQ(lines.size(), 1u);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[0], match, kTimestampedLine));
    EXPECT_EQ(match[2], "after rotation");
}

TEST_F(LogTest, a_file_of_exactly_the_limit_is_appended_to)
{
    write_bytes(262144);
    log_line("appended");
    const std::string text = read_file(log_path).value();
    ASSERT_GT(text.size(), 262144u);
    EXPECT_EQ(text.substr(0, 262144), std::string(262144, 'x'));
    EXPECT_TRUE(text.ends_with(" appended\n"));
}

// Would catch the old emptying: the size read by path, then the file opened with
// CREATE_ALWAYS, so that writers which both found it past the limit each emptied it, the later
// one over the earlier one's line.
TEST_F(LogTest, writers_that_meet_a_full_log_empty_it_once_and_lose_no_line)
{
    constexpr int kThreads = 4;
    constexpr int kLinesPerThread = 25;
    write_bytes(262145);
    std::latch start{kThreads};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&start, t] {
            start.arrive_and_wait();
            for (int i = 0; i < kLinesPerThread; ++i) {
                log_line("thread" + std::to_string(t) + " " + std::to_string(i));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    const std::vector<std::string> messages = testing::log_messages(program_data.path());
    EXPECT_EQ(messages.size(), std::size_t{kThreads * kLinesPerThread});
    EXPECT_EQ(std::set<std::string>(messages.begin(), messages.end()).size(), messages.size());
}

// Would catch a write that follows a hard link at the log's name: the line would land in, and
// the emptying would wipe, a file of whoever made the link.
TEST_F(LogTest, a_log_name_linked_to_another_file_writes_and_empties_nothing_there)
{
    const ScopedTempDir elsewhere;
    std::filesystem::create_directories(log_path.parent_path());
    for (const std::size_t size : {std::size_t{12}, std::size_t{262145}}) {
        const std::filesystem::path target = elsewhere.path() / ("file-" + std::to_string(size));
        std::ofstream{target, std::ios::binary} << std::string(size, 'v');
        std::filesystem::remove(log_path);
        ASSERT_TRUE(CreateHardLinkW(log_path.c_str(), target.c_str(), nullptr)) << GetLastError();

        log_line("through the link");
        EXPECT_EQ(read_file(target), std::string(size, 'v')) << size << " bytes";
    }
}

TEST_F(LogTest, a_message_with_line_feeds_gives_several_lines_after_one_timestamp)
{
    log_line("first\nsecond\nthird");
    const auto lines = lines_of(read_file(log_path).value());
    ASSERT_EQ(lines.size(), 3u);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[0], match, kTimestampedLine));
    EXPECT_EQ(match[2], "first");
    EXPECT_EQ(lines[1], "second");
    EXPECT_EQ(lines[2], "third");
}

TEST_F(LogTest, a_reader_sharing_read_write_and_delete_does_not_stop_logging_or_emptying)
{
    log_line("before");
    const UniqueHandle reader{CreateFileW(log_path.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
    ASSERT_TRUE(reader.valid());

    log_line("while read");
    EXPECT_EQ(lines_of(read_file(log_path).value()).size(), 2u);

    std::ofstream{log_path, std::ios::binary | std::ios::app} << std::string(262145, 'x');
    log_line("emptied while read");
    const auto lines = lines_of(read_file(log_path).value());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with(" emptied while read"));
}

// Would catch a writer that waits for the writers' lock without bound: any user who can read
// the log can take that lock and keep it. The writer runs in a process of its own, so that a
// writer stuck for ever fails the test through the run's timeout instead of hanging it.
TEST_F(LogTest, a_reader_holding_the_writers_lock_delays_lines_by_moments_only)
{
    log_line("before");
    const testing::LogLockHolder reader{log_path};
    ASSERT_TRUE(reader.holds()) << "the reader holds the lock for the rest of the test";

    const std::filesystem::path writer = testing::executable_folder() / "log_writer_for_tests.exe";
    const auto child =
        testing::run_process(L"\"" + writer.wstring() + L"\" held 3", std::chrono::seconds{30});
    ASSERT_TRUE(child.has_value()) << "the writer stalled on the held lock";
    EXPECT_EQ(child->exit_code, 0u);
    EXPECT_EQ(testing::log_messages(program_data.path()),
              (std::vector<std::string>{"before", "held 0", "held 1", "held 2"}));
}

TEST_F(LogTest, threads_and_processes_logging_at_once_lose_and_interleave_no_line)
{
    constexpr int kThreads = 4;
    constexpr int kLinesPerWriter = 300;
    const std::filesystem::path writer = testing::executable_folder() / "log_writer_for_tests.exe";

    std::vector<std::thread> threads;
    std::vector<std::optional<testing::ProcessOutcome>> children(2);
    for (int p = 0; p < 2; ++p) {
        threads.emplace_back([&, p] {
            const std::wstring command = L"\"" + writer.wstring() + L"\" process" +
                                         std::to_wstring(p) + L" " +
                                         std::to_wstring(kLinesPerWriter);
            children[p] = testing::run_process(command, std::chrono::seconds{60});
        });
    }
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLinesPerWriter; ++i) {
                log_line("thread" + std::to_string(t) + " " + std::to_string(i));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (const auto& child : children) {
        ASSERT_TRUE(child.has_value()) << "the second process did not finish";
        ASSERT_EQ(child->exit_code, 0u);
    }

    std::multiset<std::string> seen;
    for (const auto& line : lines_of(read_file(log_path).value())) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, kTimestampedLine)) << "torn line: " << line;
        seen.insert(match[2]);
    }
    std::multiset<std::string> expected;
    for (int i = 0; i < kLinesPerWriter; ++i) {
        for (int t = 0; t < kThreads; ++t) {
            expected.insert("thread" + std::to_string(t) + " " + std::to_string(i));
        }
        for (int p = 0; p < 2; ++p) {
            expected.insert("process" + std::to_string(p) + " " + std::to_string(i));
        }
    }
    EXPECT_EQ(seen, expected);
}

} // namespace
} // namespace tolvek
