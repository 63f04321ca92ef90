#include "log_file.h"

#include <gtest/gtest.h>

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
