#pragma once

// Where the driver store utility is found and how its output is read. Platform-free.

#include <optional>
#include <string>
#include <string_view>

namespace tolvek {

// Used when SystemRoot is missing, empty or not valid UTF-16.
inline constexpr std::u16string_view kFallbackSystemRoot = u"C:\\Windows";

// `system_root` (the value of SystemRoot, nothing when unset), then "System32", then
// "pnputil.exe". An empty value counts as unset: it would make a relative path, and the
// utility would then be looked for in whatever folder the helper was started from.
[[nodiscard]] std::u16string pnputil_path_under(std::optional<std::u16string_view> system_root);

// The utility's output as message text: decoded as UTF-8 with U+FFFD for each invalid
// sequence, and trimmed of white space (the Unicode White_Space characters) at both ends.
[[nodiscard]] std::string utility_output_text(std::string_view output);

} // namespace tolvek
