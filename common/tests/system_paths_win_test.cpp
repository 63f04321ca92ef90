// Texts read from the system whole, however long: the growing buffer, environment variables
// and the program's own path.

#include "tolvek/system_paths_win.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tolvek/text_encoding.h"

namespace tolvek {
namespace {

TEST(SystemPaths, a_text_longer_than_the_first_buffer_is_read_whole)
{
    const std::u16string long_value(5000, u'x');
    ASSERT_TRUE(SetEnvironmentVariableW(L"TOLVEK_SYSTEM_PATHS_TEST", as_wide(long_value.c_str())));
    EXPECT_EQ(environment_variable(L"TOLVEK_SYSTEM_PATHS_TEST"), long_value);
    SetEnvironmentVariableW(L"TOLVEK_SYSTEM_PATHS_TEST", nullptr);
}

TEST(SystemPaths, an_unset_or_empty_variable_gives_nothing)
{
    SetEnvironmentVariableW(L"TOLVEK_SYSTEM_PATHS_TEST", nullptr);
    EXPECT_EQ(environment_variable(L"TOLVEK_SYSTEM_PATHS_TEST"), std::nullopt);
    ASSERT_TRUE(SetEnvironmentVariableW(L"TOLVEK_SYSTEM_PATHS_TEST", L""));
    EXPECT_EQ(environment_variable(L"TOLVEK_SYSTEM_PATHS_TEST"), std::nullopt);
    SetEnvironmentVariableW(L"TOLVEK_SYSTEM_PATHS_TEST", nullptr);
}

TEST(SystemPaths, the_program_path_names_this_executable)
{
    const Result<std::u16string> path = module_path();
    ASSERT_TRUE(path.ok());
    EXPECT_TRUE(path.value().ends_with(u"\\common_win_tests.exe"))
        << utf16_to_utf8_lossy(path.value());
}

// GetModuleFileNameW reports a buffer too small by filling it to the brim.
TEST(SystemPaths, a_text_cut_off_at_the_capacity_is_read_again_in_a_larger_buffer)
{
    int calls = 0;
    const Result<std::u16string> text = read_system_text([&calls](wchar_t* buffer, DWORD capacity) {
        ++calls;
        const DWORD length = std::min<DWORD>(capacity, 700);
        std::fill_n(buffer, length, L'y');
        return length;
    });
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(text.value(), std::u16string(700, u'y'));
    EXPECT_EQ(calls, 3) << "260, 520, then 1040 units";
}

TEST(SystemPaths, a_failure_gives_the_systems_text_and_an_endless_text_is_refused)
{
    const Result<std::u16string> failed = read_system_text([](wchar_t*, DWORD) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return DWORD{0};
    });
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().text, win32_error_text(ERROR_FILE_NOT_FOUND));

    const Result<std::u16string> endless =
        read_system_text([](wchar_t*, DWORD capacity) { return capacity; });
    ASSERT_FALSE(endless.ok());
    EXPECT_EQ(endless.error().text, win32_error_text(ERROR_INSUFFICIENT_BUFFER));
}

} // namespace
} // namespace tolvek
