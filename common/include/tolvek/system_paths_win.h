#pragma once

// Texts that the system writes into a caller's buffer without telling their length first:
// environment variables, module paths, full paths, the system folder. Each is read whole, in a
// buffer grown until the text fits.

#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>

#include "tolvek/error_text_win.h"
#include "tolvek/result.h"
#include "tolvek/wide_text_win.h"

namespace tolvek {

// Longer than any text these calls give (a path or a variable has at most 32,767 units).
inline constexpr DWORD kLongestSystemText = 65536;

// Calls `fill(buffer, capacity)` with ever larger buffers until the whole text fits, and
// gives the text. `fill` follows the convention that GetEnvironmentVariableW,
// GetFullPathNameW, GetModuleFileNameW and GetSystemDirectoryW share: 0 for a failure, a length
// below `capacity` for the text written (its NUL not counted), anything else for a buffer too small
// (the size needed, or the capacity itself when the text was cut off). A failure gives the system's
// text for the thread's last error, taken at once.
template <class Fill>
[[nodiscard]] Result<std::u16string> read_system_text(Fill&& fill)
{
    std::u16string text;
    for (DWORD capacity = MAX_PATH;;) {
        text.resize(capacity);
        const DWORD length = fill(as_wide(text.data()), capacity);
        if (length == 0) {
            return Error{win32_error_text(GetLastError())};
        }
        if (length < capacity) {
            text.resize(length);
            return text;
        }
        if (capacity >= kLongestSystemText) {
            return Error{win32_error_text(ERROR_INSUFFICIENT_BUFFER)};
        }
        capacity = std::min(std::max(length, capacity * 2), kLongestSystemText);
    }
}

// This process's environment variable `name`; nothing when it is unset or empty, which the
// system reports alike.
[[nodiscard]] std::optional<std::u16string> environment_variable(const wchar_t* name);

// The full path of the file that `module` was loaded from; for null, the program's own
// executable.
[[nodiscard]] Result<std::u16string> module_path(HMODULE module = nullptr);

// The system folder ("C:\Windows\System32"), as the system knows it. Unlike a path built from
// SystemRoot, nothing in the environment, which any process of the user can set for the
// programs it starts, changes it.
[[nodiscard]] Result<std::u16string> system_folder();

} // namespace tolvek
