#include "setup/pnputil_invocation.h"

#include <gtest/gtest.h>

namespace tolvek {
namespace {

TEST(PnputilInvocation, the_utility_is_in_the_system_folder)
{
    EXPECT_EQ(pnputil_path_in(u"C:\\windows\\system32"), u"C:\\windows\\system32\\pnputil.exe");
    EXPECT_EQ(pnputil_path_in(u"D:\\Win\\System32\\"), u"D:\\Win\\System32\\pnputil.exe");
}

TEST(PnputilInvocation, an_unread_or_empty_system_folder_falls_back_to_c_windows_system32)
{
    const std::u16string fallback = u"C:\\Windows\\System32\\pnputil.exe";
    EXPECT_EQ(pnputil_path_in(std::nullopt), fallback);
    // An empty value would make the path relative to the current folder.
    EXPECT_EQ(pnputil_path_in(u""), fallback);
}

TEST(PnputilInvocation, output_is_trimmed_at_both_ends_only)
{
    EXPECT_EQ(utility_output_text(" \r\n\tFailed to add.\r\n\r\nReason: denied\r\n \t"),
              "Failed to add.\r\n\r\nReason: denied");
    EXPECT_EQ(utility_output_text("\xE3\x80\x80wide\xC2\xA0"), "wide"); // Unicode blanks
    EXPECT_EQ(utility_output_text(" \r\n "), "");
}

TEST(PnputilInvocation, invalid_utf8_in_output_becomes_replacement_characters)
{
    EXPECT_EQ(utility_output_text("Fehler: \xE4nderung\xFF\n"),
              "Fehler: \xEF\xBF\xBDnderung\xEF\xBF\xBD");
    // A truncated sequence at the end is replaced, not trimmed away.
    EXPECT_EQ(utility_output_text("x \xE2\x80"), "x \xEF\xBF\xBD");
}

} // namespace
} // namespace tolvek
