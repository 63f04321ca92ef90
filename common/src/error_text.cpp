#include "tolvek/error_text.h"

#include <cstdio>

namespace tolvek {

std::uint32_t hresult_from_win32(std::uint32_t code)
{
    constexpr std::uint32_t kFacilityWin32 = 7;
    if (code == 0 || (code & 0x80000000u) != 0) {
        return code;
    }
    return (code & 0xFFFFu) | (kFacilityWin32 << 16) | 0x80000000u;
}

std::string format_hresult_error(std::string_view system_message, std::uint32_t hresult)
{
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hresult));
    if (system_message.empty()) {
        return code;
    }
    std::string text{system_message};
    text += " (";
    text += code;
    text += ')';
    return text;
}

std::string format_win32_error_code(std::uint32_t code)
{
    return "WIN32_ERROR(" + std::to_string(code) + ")";
}

std::string format_os_error(std::string_view system_message, std::uint32_t code)
{
    std::string text{system_message};
    text += system_message.empty() ? "os error " : " (os error ";
    text += std::to_string(code);
    if (!system_message.empty()) {
        text += ')';
    }
    return text;
}

} // namespace tolvek
