#pragma once

// The forms in which a failed system call is rendered into a message. Platform-free: the
// Windows shell (error_text_win.h) supplies the system's message for a code.

#include <cstdint>
#include <string>
#include <string_view>

namespace tolvek {

// A Win32 error code as the HRESULT that carries it: 0x8007 and the code in four hex digits
// (ERROR_SERVICE_EXISTS, 1073, is 0x80070431). Codes 0 and those already HRESULTs pass as
// they are.
[[nodiscard]] std::uint32_t hresult_from_win32(std::uint32_t code);

// "Service exists. (0x80070431)", or "0x80070431" alone when the system has no message.
[[nodiscard]] std::string format_hresult_error(std::string_view system_message,
                                               std::uint32_t hresult);

// "WIN32_ERROR(5)": the form used by the service host and the pipe listener.
[[nodiscard]] std::string format_win32_error_code(std::uint32_t code);

// "File not found. (os error 2)": the form for a child process that cannot be started;
// "os error 2" alone when the system has no message.
[[nodiscard]] std::string format_os_error(std::string_view system_message, std::uint32_t code);

} // namespace tolvek
