// The error texts with the system's real messages. Wine's wording differs from Windows', so
// these tests check the form, not the words.

#include "tolvek/error_text_win.h"

#include <gtest/gtest.h>

#include <regex>

namespace tolvek {
namespace {

TEST(ErrorTextWin, a_win32_code_with_a_message_reads_message_then_its_hresult)
{
    const std::string text = win32_error_text(ERROR_SERVICE_EXISTS);
    EXPECT_TRUE(std::regex_match(text, std::regex{R"(\S.*\S \(0x80070431\))"})) << text;
    EXPECT_EQ(text.find('\n'), std::string::npos) << "trailing line breaks are removed";
}

TEST(ErrorTextWin, a_code_without_a_message_is_the_code_alone)
{
    EXPECT_EQ(hresult_error_text(static_cast<HRESULT>(0xA0B0C0D0u)), "0xA0B0C0D0");
}

TEST(ErrorTextWin, listener_and_child_process_forms)
{
    EXPECT_EQ(win32_error_code_text(ERROR_ACCESS_DENIED), "WIN32_ERROR(5)");
    const std::string text = os_error_text(ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(std::regex_match(text, std::regex{R"(\S.*\S \(os error 2\))"})) << text;
}

} // namespace
} // namespace tolvek
