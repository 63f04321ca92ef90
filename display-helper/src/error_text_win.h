#pragma once

// Error texts of failed Windows calls, with the system's own message for the code.

#include <windows.h>

#include <string>
#include <string_view>

#include "result.h"

namespace tolvek {

// The system message table's text for a code, inserts ignored, trailing white space
// removed; empty when the system has none.
[[nodiscard]] std::string system_message(DWORD code);

// An HRESULT: "message (0x8007000E)" or the code alone.
[[nodiscard]] std::string hresult_error_text(HRESULT result);

// A Win32 code rendered as its HRESULT: "message (0x80070431)" or the code alone.
[[nodiscard]] std::string win32_error_text(DWORD code);

// The context of a failed call followed by the Win32 code's text as above:
// win32_failure("no service manager: ", code) reads "no service manager: ... (0x80070005)".
[[nodiscard]] Error win32_failure(std::string_view context, DWORD code);

// A Win32 code as the service host and pipe listener write it: "WIN32_ERROR(5)".
[[nodiscard]] std::string win32_error_code_text(DWORD code);

// A Win32 code of a child process that could not be started: "message (os error 2)".
[[nodiscard]] std::string os_error_text(DWORD code);

} // namespace tolvek
