#include "log_file.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace tolvek {
namespace {

TEST(LogFile, only_a_file_past_the_limit_is_emptied)
{
    EXPECT_EQ(log_write_mode(std::nullopt), LogWriteMode::append) << "no file yet";
    EXPECT_EQ(log_write_mode(0), LogWriteMode::append);
    EXPECT_EQ(log_write_mode(262144), LogWriteMode::append) << "exactly the limit is appended to";
    EXPECT_EQ(log_write_mode(262145), LogWriteMode::empty_first);
    EXPECT_EQ(log_write_mode(std::uint64_t{1} << 40), LogWriteMode::empty_first);
}

// Would catch a log written into a folder that another user made or that leads elsewhere: the
// service would write, with LocalSystem's rights, wherever that user points it.
TEST(LogFile, only_a_real_folder_of_the_helpers_own_account_system_or_administrators_is_used)
{
    constexpr std::string_view kService = "S-1-5-18";
    constexpr std::string_view kOwnAccount = "S-1-5-21-1-2-3-500";
    constexpr std::string_view kOtherUser = "S-1-5-21-1-2-3-1001";
    constexpr FileFacts kFolder{true, false, 1};
    constexpr FileFacts kReparsePoint{true, true, 1};
    constexpr FileFacts kFile{false, false, 1};
    struct Case {
        FileFacts folder;
        std::string_view owner;
        std::string_view own_account;
        bool trusted;
    };
    const Case cases[] = {
        {kFolder, "S-1-5-18", kService, true},              // made by the service
        {kFolder, "S-1-5-32-544", kService, true},          // made by an elevated install
        {kFolder, "S-1-5-21-1-2-3-500", kOwnAccount, true}, // the helper's own account
        {kFolder, "S-1-5-18", kOtherUser, true},            // a console command of a user
        {kFolder, "S-1-5-21-1-2-3-1001", kService, false},  // another user made it
        {kFolder, "S-1-5-32-545", kService, false},         // owned by Users
        {kFolder, "S-1-5-180", kService, false},            // a longer SID is another
        {kReparsePoint, "S-1-5-18", kService, false},       // a junction or a link
        {kFile, "S-1-5-18", kService, false},               // a file at the folder's name
        {kFolder, "", "", false},                           // owner and account unknown
        {kFolder, "S-1-5-21-1-2-3-1001", "", false},        // own account unknown
    };
    for (const Case& c : cases) {
        EXPECT_EQ(log_folder_trusted(c.folder, c.owner, c.own_account), c.trusted)
            << "owner " << c.owner << ", reparse " << c.folder.is_reparse_point << ", directory "
            << c.folder.is_directory << ", running as " << c.own_account;
    }
}

// Would catch a write through a hard link or a link at the log's name: the line, or the
// emptying, would land in a file of someone else's choosing.
TEST(LogFile, only_a_plain_file_with_one_link_is_written)
{
    struct Case {
        FileFacts file;
        bool plain;
    };
    const Case cases[] = {
        {{false, false, 1}, true},  {{false, false, 2}, false}, {{false, false, 7}, false},
        {{false, false, 0}, false}, {{false, true, 1}, false},  {{true, false, 1}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(log_file_plain(c.file), c.plain)
            << "links " << c.file.link_count << ", reparse " << c.file.is_reparse_point
            << ", directory " << c.file.is_directory;
    }
}

// Would catch a folder list that inherits ProgramData's entries (every user may create files
// there), lets Users change anything, or leaves the log file below it uncovered.
TEST(LogFile, the_folder_list_is_protected_and_lets_only_system_and_administrators_write)
{
    const std::string_view sddl = kLogFolderSecurityDescriptor;
    EXPECT_TRUE(sddl.starts_with("D:P(")) << "protected: nothing inherited from ProgramData";
    std::map<std::string, std::string> rights_by_trustee;
    for (std::size_t open = sddl.find('('); open != std::string_view::npos;
         open = sddl.find('(', open + 1)) {
        // (type;flags;rights;object;inherited object;trustee)
        std::vector<std::string> fields;
        std::istringstream entry{
            std::string{sddl.substr(open + 1, sddl.find(')', open) - open - 1)}};
        for (std::string field; std::getline(entry, field, ';');) {
            fields.push_back(field);
        }
        ASSERT_EQ(fields.size(), 6u) << sddl.substr(open);
        EXPECT_EQ(fields[0], "A") << "allow entries only";
        EXPECT_EQ(fields[1], "OICI") << "inherited by the log file and any folder below";
        rights_by_trustee[fields[5]] = fields[2];
    }
    EXPECT_EQ(rights_by_trustee,
              (std::map<std::string, std::string>{{"SY", "FA"}, {"BA", "FA"}, {"BU", "FR"}}));
}

TEST(LogFile, path_joins_program_data_with_one_separator)
{
    EXPECT_EQ(log_path_below(u"C:\\ProgramData"), u"C:\\ProgramData\\Tolvek\\display-helper.log");
    EXPECT_EQ(log_path_below(u"C:\\ProgramData\\"), u"C:\\ProgramData\\Tolvek\\display-helper.log");
    EXPECT_EQ(log_path_below(u"D:/data/"), u"D:/data/Tolvek\\display-helper.log");
    EXPECT_FALSE(log_path_below(u"").has_value()) << "no fallback location";
}

TEST(LogFile, timestamp_is_zero_padded_without_milliseconds)
{
    EXPECT_EQ(format_timestamp({2026, 1, 2, 3, 4, 5}), "2026-01-02 03:04:05");
    EXPECT_EQ(format_timestamp({999, 12, 31, 23, 59, 59}), "0999-12-31 23:59:59");
}

TEST(LogFile, line_keeps_the_message_unchanged_and_ends_in_one_line_feed)
{
    EXPECT_EQ(format_log_line("2026-01-02 03:04:05", "listening for S-1-5-18"),
              "2026-01-02 03:04:05 listening for S-1-5-18\n");
    EXPECT_EQ(format_log_line("T", "two\nlines\r"), "T two\nlines\r\n");
}

} // namespace
} // namespace tolvek
