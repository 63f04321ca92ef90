#pragma once

// The detailed text of each thread's last call into the C interface, which
// tolvek_last_error_text() hands out. It lives in a fixed buffer of the thread, so that setting
// it never allocates and never fails: a text that does not fit is cut at a character boundary.

#include <cstddef>
#include <string_view>

namespace tolvek::sdk {

// The buffer's size, its NUL included. The texts of the display client and the producer are
// one line of a few hundred bytes at most.
inline constexpr std::size_t kLastErrorTextCapacity = 1024;

// Makes `text` this thread's last error text, cut to the longest whole-character prefix that
// fits when it is longer than kLastErrorTextCapacity - 1 bytes.
void set_last_error_text(std::string_view text) noexcept;

// This thread's last error text; empty until one is set. Valid until the next set on this
// thread.
[[nodiscard]] const char* last_error_text() noexcept;

} // namespace tolvek::sdk
