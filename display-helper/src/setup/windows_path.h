#pragma once

// Joining and splitting Windows paths as text. Platform-free: paths are UTF-16 text carried
// as char16_t, so that every file name Windows allows (unpaired surrogates included) passes.

#include <string>
#include <string_view>

namespace tolvek {

// `base`, a backslash unless `base` is empty or already ends in a separator, then `name`.
[[nodiscard]] std::u16string join_windows_path(std::u16string_view base, std::u16string_view name);

// Everything before the last separator ("C:\a\b.exe" gives "C:\a"); empty when the path
// holds no separator.
[[nodiscard]] std::u16string_view parent_directory(std::u16string_view path);

} // namespace tolvek
