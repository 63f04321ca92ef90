#include "tolvek/error_text.h"

#include <gtest/gtest.h>

namespace tolvek {
namespace {

TEST(ErrorText, win32_codes_become_hresults_of_facility_win32)
{
    EXPECT_EQ(hresult_from_win32(1073), 0x80070431u);
    EXPECT_EQ(hresult_from_win32(5), 0x80070005u);
    EXPECT_EQ(hresult_from_win32(0), 0u);
    EXPECT_EQ(hresult_from_win32(0x8007000Eu), 0x8007000Eu) << "an HRESULT passes unchanged";
}

TEST(ErrorText, the_three_forms)
{
    EXPECT_EQ(format_hresult_error("Service exists.", 0x80070431u), "Service exists. (0x80070431)");
    EXPECT_EQ(format_hresult_error("", 0x8000FFFFu), "0x8000FFFF");
    EXPECT_EQ(format_hresult_error("x", 0x0000002Au), "x (0x0000002A)") << "8 upper-case digits";
    EXPECT_EQ(format_win32_error_code(5), "WIN32_ERROR(5)");
    EXPECT_EQ(format_win32_error_code(1063), "WIN32_ERROR(1063)");
    EXPECT_EQ(format_os_error("File not found.", 2), "File not found. (os error 2)");
    EXPECT_EQ(format_os_error("", 2), "os error 2");
}

} // namespace
} // namespace tolvek
