// The Win32 owners: which values count as empty, and that a close keeps the thread's last
// error.

#include "tolvek/owners_win.h"

#include <gtest/gtest.h>

namespace tolvek {
namespace {

TEST(Owners, both_failure_values_of_kernel_handles_are_empty_and_never_closed)
{
    UniqueHandle null_handle;
    EXPECT_FALSE(null_handle.valid());
    UniqueHandle invalid{INVALID_HANDLE_VALUE};
    EXPECT_FALSE(invalid.valid());
    SetLastError(ERROR_SUCCESS);
    invalid.reset(); // a CloseHandle of it would fail and set the last error
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
}

TEST(Owners, closing_keeps_the_last_error_taken_after_a_failed_call)
{
    UniqueHandle event{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    ASSERT_TRUE(event.valid());
    UniqueLocalMemory<void> block{LocalAlloc(LMEM_FIXED, 16)};
    ASSERT_TRUE(block.valid());

    SetLastError(ERROR_ACCESS_DENIED);
    event.reset();
    block.reset();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(event.valid());
}

} // namespace
} // namespace tolvek
