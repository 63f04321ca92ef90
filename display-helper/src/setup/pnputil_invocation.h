#pragma once

// Where the driver store utility is found and how its output is read. Platform-free.

#include <optional>
#include <string>
#include <string_view>

namespace tolvek {

// Used when the system cannot tell its system folder.
inline constexpr std::u16string_view kFallbackSystemFolder = u"C:\\Windows\\System32";

// `system_folder` (as the system gives it; nothing when it could not be read), then
// "pnputil.exe". An empty value counts as unread: it would make a relative path, and the
// utility would then be looked for in whatever folder the helper was started from.
[[nodiscard]] std::u16string pnputil_path_in(std::optional<std::u16string_view> system_folder);

// The utility's output as message text: decoded as UTF-8 with U+FFFD for each invalid
// sequence, and trimmed of white space (the Unicode White_Space characters) at both ends.
[[nodiscard]] std::string utility_output_text(std::string_view output);

} // namespace tolvek
