#pragma once

// What install writes into the service's configuration: its names, its command line and the
// access entry that lets the served user start it. Platform-free.

#include <optional>
#include <string>
#include <string_view>

#include "service_name.h"

namespace tolvek {

inline constexpr char16_t kServiceDisplayName[] = u"Tolvek Display Helper";

// The helper's full path in double quotes, then "service" and the SID text:
// "C:\Program Files\Tolvek\tolvek-display-helper.exe" service S-1-5-21-1-2-3-1001
[[nodiscard]] std::u16string service_command_line(std::u16string_view helper_path,
                                                  std::string_view sid_text);

// The SDDL entry that allows the user RP (start), LC (query status), LO (interrogate) and
// RC (read the descriptor): "(A;;RPLCLORC;;;S-1-5-21-1-2-3-1001)".
[[nodiscard]] std::string user_access_entry(std::string_view sid_text);

// The descriptor text with the user's entry appended, or nothing when the text already
// holds the entry. The test is textual and case-sensitive: an entry the system renders in
// another form (a well-known SID by its alias, say) is not recognised and is added again.
[[nodiscard]] std::optional<std::string> widened_descriptor(std::string_view descriptor_text,
                                                            std::string_view sid_text);

} // namespace tolvek
