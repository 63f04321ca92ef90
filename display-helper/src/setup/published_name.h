#pragma once

// Picking the driver package's published name out of pnputil's driver store listing.
// Platform-free.

#include <optional>
#include <string>
#include <string_view>

namespace tolvek {

// The package file name searched for in the listing, compared without regard to ASCII case.
inline constexpr std::string_view kDriverPackageFileName = "tolvekidd.inf";

// The listing is cut into entries at blank lines ("\r\n\r\n", then "\n\n"). In the first
// entry that names "tolvekidd.inf" (ASCII case ignored), the first word of the form
// "oem" + decimal digits (possibly none) + ".inf" (ASCII case ignored) is returned as it is
// written. A word is a maximal run of ASCII letters, digits and dots. Nothing when no entry
// names the package, or when the first one that does holds no such word.
[[nodiscard]] std::optional<std::string> find_published_name(std::string_view listing);

} // namespace tolvek
