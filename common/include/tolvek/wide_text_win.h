#pragma once

// The platform-free code carries UTF-16 as char16_t; the Windows API takes wchar_t, which is
// the same 16-bit unit on Windows. These casts cross between the two without copying.

#include <cstddef>
#include <string_view>

namespace tolvek {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");

[[nodiscard]] inline const wchar_t* as_wide(const char16_t* text) noexcept
{
    return reinterpret_cast<const wchar_t*>(text);
}

[[nodiscard]] inline wchar_t* as_wide(char16_t* text) noexcept
{
    return reinterpret_cast<wchar_t*>(text);
}

[[nodiscard]] inline std::u16string_view as_utf16(const wchar_t* text) noexcept
{
    return reinterpret_cast<const char16_t*>(text);
}

[[nodiscard]] inline std::u16string_view as_utf16(const wchar_t* text, std::size_t length) noexcept
{
    return {reinterpret_cast<const char16_t*>(text), length};
}

[[nodiscard]] inline std::u16string_view as_utf16(std::wstring_view text) noexcept
{
    return as_utf16(text.data(), text.size());
}

} // namespace tolvek
