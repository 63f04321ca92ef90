#include "service/user_sid_win.h"

#include <sddl.h>

#include <cstddef>
#include <vector>

#include "tolvek/error_text_win.h"
#include "tolvek/text_encoding.h"
#include "tolvek/wide_text_win.h"

namespace tolvek {

std::optional<std::string> rendered_sid(PSID sid)
{
    UniqueLocalMemory<wchar_t> text;
    if (!ConvertSidToStringSidW(sid, text.put())) {
        return std::nullopt;
    }
    return utf16_to_utf8(as_utf16(text.get()));
}

std::optional<UserSid> parse_user_sid(std::string_view sid_text)
{
    // The system reads up to the first NUL; text with one inside would be judged by its
    // prefix alone. Empty text is no SID either: Wine's parser reads past the end of an
    // empty string, and whether it finds a SID there depends on what lies beyond.
    if (sid_text.empty() || sid_text.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    const std::u16string wide = utf8_to_utf16(sid_text);
    UniqueLocalMemory<void> sid;
    if (!ConvertStringSidToSidW(as_wide(wide.c_str()), sid.put())) {
        return std::nullopt;
    }
    std::optional<std::string> canonical = rendered_sid(sid.get());
    if (!canonical) {
        return std::nullopt;
    }
    return UserSid{std::move(*canonical), std::move(sid)};
}

std::optional<std::string> token_user_sid(HANDLE token)
{
    DWORD length = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &length); // learns the size only
    if (length == 0) {
        return std::nullopt;
    }
    // Allocated memory is aligned for TOKEN_USER, which the system writes at its start.
    std::vector<std::byte> buffer(length);
    if (!GetTokenInformation(token, TokenUser, buffer.data(), length, &length)) {
        return std::nullopt;
    }
    return rendered_sid(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid);
}

std::optional<std::string> own_user_sid()
{
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        return std::nullopt;
    }
    return token_user_sid(token.get());
}

Result<UniqueLocalMemory<void>> security_descriptor_from_text(std::string_view sddl)
{
    const std::u16string wide = utf8_to_utf16(sddl);
    UniqueLocalMemory<void> descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(as_wide(wide.c_str()),
                                                              SDDL_REVISION_1, descriptor.put(),
                                                              nullptr /* size not needed */)) {
        return Error{win32_error_text(GetLastError())};
    }
    return descriptor;
}

Result<std::u16string> rendered_dacl(PSECURITY_DESCRIPTOR descriptor)
{
    UniqueLocalMemory<wchar_t> text;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                              DACL_SECURITY_INFORMATION, text.put(),
                                                              nullptr)) { // length not wanted
        return Error{win32_error_text(GetLastError())};
    }
    return std::u16string{as_utf16(text.get())};
}

} // namespace tolvek
