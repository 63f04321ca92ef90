#pragma once

// Where install looks for the helper executable and the driver package, relative to the
// folder of the program that runs it. Platform-free.

#include <string>
#include <string_view>
#include <vector>

namespace tolvek {

inline constexpr std::u16string_view kHelperFileName = u"tolvek-display-helper.exe";
// The folder beside the helper that holds the display driver package.
inline constexpr std::u16string_view kDriverFolderName = u"driver";

// The places the helper may sit, in the order they are tried: the "display-helper"
// subfolder, the folder itself, the "deps" subfolder.
[[nodiscard]] std::vector<std::u16string> helper_candidates(std::u16string_view program_folder);

// The driver package that ships with the helper at `helper_path`:
// its folder, "driver", "TolvekIdd.inf".
[[nodiscard]] std::u16string driver_package_path(std::u16string_view helper_path);

} // namespace tolvek
