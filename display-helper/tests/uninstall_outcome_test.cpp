#include "setup/uninstall_outcome.h"

#include <gtest/gtest.h>

namespace tolvek {
namespace {

TEST(UninstallOutcome, nothing_to_remove_reads_ok_twice)
{
    EXPECT_EQ(uninstall_log_line(success(), success()),
              "uninstalled (service: Ok(()), driver: Ok(()))");
}

TEST(UninstallOutcome, errors_are_quoted_with_escapes)
{
    EXPECT_EQ(uninstall_log_line(Error{"the service would not be deleted: Access denied. "
                                       "(0x80070005)"},
                                 Error{"the driver package would not go: \"oem3.inf\"\r\nC:\\x"}),
              "uninstalled (service: Err(\"the service would not be deleted: Access denied. "
              "(0x80070005)\"), driver: Err(\"the driver package would not go: "
              "\\\"oem3.inf\\\"\\r\\nC:\\\\x\"))");
}

TEST(UninstallOutcome, the_six_named_escapes)
{
    EXPECT_EQ(quoted_for_log(std::string_view{"\"\\\t\r\n\0", 6}), R"("\"\\\t\r\n\0")");
}

TEST(UninstallOutcome, other_invisible_characters_are_written_as_code_points)
{
    EXPECT_EQ(quoted_for_log("\x01\x1B\x7F"), R"("\u{1}\u{1b}\u{7f}")");
    EXPECT_EQ(quoted_for_log("\xC2\x85\xC2\xA0\xC2\xAD"),
              R"("\u{85}\u{a0}\u{ad}")"); // NEL, NBSP, SHY
    // Zero-width space, right-to-left override, line separator, byte order mark, ideographic
    // space: each would hide or rearrange what the log shows.
    EXPECT_EQ(quoted_for_log("\xE2\x80\x8B\xE2\x80\xAE\xE2\x80\xA8\xEF\xBB\xBF\xE3\x80\x80"),
              R"("\u{200b}\u{202e}\u{2028}\u{feff}\u{3000}")");
    // Private use, a noncharacter, a tag character.
    EXPECT_EQ(quoted_for_log("\xEE\x80\x80\xEF\xBF\xBE\xF3\xA0\x80\x81"),
              R"("\u{e000}\u{fffe}\u{e0001}")");
}

TEST(UninstallOutcome, printable_non_ascii_characters_are_kept)
{
    const std::string text = "caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80 \xE2\x80\x94 e\xCC\x81";
    EXPECT_EQ(quoted_for_log(text), "\"" + text + "\"");
}

TEST(UninstallOutcome, invalid_utf8_is_shown_as_replacement_characters)
{
    EXPECT_EQ(quoted_for_log("a\xFF\xE4\xB8z"), "\"a\xEF\xBF\xBD\xEF\xBF\xBDz\"");
}

TEST(UninstallOutcome, only_a_missing_service_counts_as_nothing_to_remove)
{
    EXPECT_TRUE(unopened_service_outcome(1060, "The specified service does not exist.").ok());
}

// Without the right to delete the service, opening it fails with access denied; the service
// stays installed, and uninstall must say so instead of reporting success.
TEST(UninstallOutcome, any_other_failure_to_open_the_service_is_the_service_error)
{
    const Status denied = unopened_service_outcome(5, "Access is denied. (0x80070005)");
    ASSERT_FALSE(denied.ok());
    EXPECT_EQ(denied.error().text, "the service would not open: Access is denied. (0x80070005)");
    EXPECT_EQ(uninstall_result(denied, success()).error().text, denied.error().text);
    EXPECT_EQ(uninstall_log_line(denied, success()),
              "uninstalled (service: Err(\"the service would not open: Access is denied. "
              "(0x80070005)\"), driver: Ok(()))");
    EXPECT_FALSE(unopened_service_outcome(1072, "Service marked for delete. (0x80070430)").ok());
}

TEST(UninstallOutcome, a_failed_service_step_is_the_result_even_when_the_driver_step_failed_too)
{
    EXPECT_EQ(uninstall_result(Error{"service"}, Error{"driver"}).error().text, "service");
    EXPECT_EQ(uninstall_result(Error{"service"}, success()).error().text, "service");
    EXPECT_EQ(uninstall_result(success(), Error{"driver"}).error().text, "driver");
    EXPECT_TRUE(uninstall_result(success(), success()).ok());
}

} // namespace
} // namespace tolvek
