#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "tolvek/owners_win.h"
#include "tolvek/result.h"

namespace tolvek {

// A user's security identifier in the two forms the helper works with.
struct UserSid {
    // The text the system renders for the SID ("S-1-5-18" for "SY" or "s-1-5-18").
    std::string text;
    // The binary SID as the system allocated it.
    UniqueLocalMemory<void> sid;
};

// Turns SID text into the system's canonical text and the binary SID: the text must convert
// to a SID and back. Nothing when either conversion fails.
[[nodiscard]] std::optional<UserSid> parse_user_sid(std::string_view sid_text);

// A binary SID as the system renders it ("S-1-5-18"); nothing on failure.
[[nodiscard]] std::optional<std::string> rendered_sid(PSID sid);

// The user SID of a token as the system renders it ("S-1-5-21-..."); nothing on failure.
[[nodiscard]] std::optional<std::string> token_user_sid(HANDLE token);

// The user SID of this process's own token, rendered as above; nothing on failure.
[[nodiscard]] std::optional<std::string> own_user_sid();

// The security descriptor that SDDL text describes, as the system allocates it; on failure,
// the system's text for the error.
[[nodiscard]] Result<UniqueLocalMemory<void>> security_descriptor_from_text(std::string_view sddl);

// The SDDL text of a descriptor's discretionary access list as the system renders it
// ("D:(A;;LCRPLORC;;;SY)"); on failure, the system's text for the error.
[[nodiscard]] Result<std::u16string> rendered_dacl(PSECURITY_DESCRIPTOR descriptor);

} // namespace tolvek
