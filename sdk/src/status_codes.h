#pragma once

// The status codes of the C interface: their texts, and the status of each failure of the
// display client.

#include "tolvek/display_client.h"
#include "tolvek_sdk.h"

namespace tolvek::sdk {

// The general text of a status; "unknown status" for any other number. Static.
[[nodiscard]] const char* status_text(tolvek_status status) noexcept;

// The status that reports a display client failure of this kind.
[[nodiscard]] tolvek_status status_of(display::ErrorKind kind) noexcept;

} // namespace tolvek::sdk
