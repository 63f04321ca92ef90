#include "tolvek/error_text_win.h"

#include "tolvek/error_text.h"
#include "tolvek/owners_win.h"
#include "tolvek/text_encoding.h"
#include "tolvek/wide_text_win.h"

namespace tolvek {

std::string system_message(DWORD code)
{
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0,
        reinterpret_cast<wchar_t*>(&buffer), // with ALLOCATE_BUFFER the system allocates
        0, nullptr);
    const UniqueLocalMemory<wchar_t> owner{buffer};
    if (length == 0 || buffer == nullptr) {
        return {};
    }
    std::u16string_view text = as_utf16(buffer, length);
    while (!text.empty() && (text.back() == u' ' || text.back() == u'\t' || text.back() == u'\r' ||
                             text.back() == u'\n')) {
        text.remove_suffix(1);
    }
    return utf16_to_utf8(text).value_or(std::string{});
}

std::string hresult_error_text(HRESULT result)
{
    const auto code = static_cast<DWORD>(result);
    return format_hresult_error(system_message(code), code);
}

std::string win32_error_text(DWORD code)
{
    return hresult_error_text(static_cast<HRESULT>(hresult_from_win32(code)));
}

Error win32_failure(std::string_view context, DWORD code)
{
    std::string text{context};
    text += win32_error_text(code);
    return Error{std::move(text)};
}

std::string win32_error_code_text(DWORD code)
{
    return format_win32_error_code(code);
}

std::string os_error_text(DWORD code)
{
    return format_os_error(system_message(code), code);
}

} // namespace tolvek
