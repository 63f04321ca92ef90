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

// The access entries of a discretionary access list as the system renders it: everything
// from the first entry on ("D:P(A;;GA;;;SY)" gives "(A;;GA;;;SY)"); nothing without an entry.
[[nodiscard]] std::optional<std::string> access_entries_of(std::string_view rendered_dacl);

// The descriptor text with the user's entry appended, or nothing when the text already holds
// it. The descriptor is the system's rendering, which writes an entry its own way (the rights
// in bit order, "LCRPLORC"; a well-known SID by its alias), so presence is decided on
// `rendered_entry`: the user's entry put through the same rendering. The test is textual and
// case-sensitive; other rights for the same user are another entry.
[[nodiscard]] std::optional<std::string> widened_descriptor(std::string_view descriptor_text,
                                                            std::string_view sid_text,
                                                            std::string_view rendered_entry);

} // namespace tolvek
