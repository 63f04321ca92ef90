#pragma once

// Conversions between the UTF-8 text the helper works in and the UTF-16 text of the
// Windows API. Platform-free: UTF-16 is carried as char16_t here; the Windows shell views
// its wchar_t strings (16-bit on Windows) as char16_t.

#include <optional>
#include <string>
#include <string_view>

namespace tolvek {

// UTF-16 to UTF-8; nothing when the input holds an unpaired surrogate.
[[nodiscard]] std::optional<std::string> utf16_to_utf8(std::u16string_view text);

// UTF-16 to UTF-8 with every unpaired surrogate replaced by U+FFFD, so that any text the
// system hands out (a path, say) can be shown in a message.
[[nodiscard]] std::string utf16_to_utf8_lossy(std::u16string_view text);

// A command-line argument as an error message shows it, in UTF-8: control characters (a line
// feed, an escape that would steer the terminal) and unpaired surrogates become U+FFFD, so
// that whatever was typed, the message stays one plain line.
[[nodiscard]] std::string argument_as_shown(std::u16string_view argument);
[[nodiscard]] std::string argument_as_shown(std::string_view utf8_argument);

// UTF-8 to UTF-16. Invalid sequences become U+FFFD.
[[nodiscard]] std::u16string utf8_to_utf16(std::string_view text);

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing
// above U+10FFFF).
[[nodiscard]] bool is_valid_utf8(std::string_view bytes);

// Decodes one UTF-8 sequence starting at `pos` and advances `pos` past it. An invalid
// sequence yields nothing and advances past its maximal valid prefix (at least one byte),
// so that each such prefix counts as one replaced character. `pos` must be within `bytes`.
[[nodiscard]] std::optional<char32_t> decode_utf8_at(std::string_view bytes, std::size_t& pos);

// Bytes decoded as UTF-8, each maximal invalid subpart replaced by U+FFFD.
[[nodiscard]] std::string decode_utf8_lossy(std::string_view bytes);

} // namespace tolvek
