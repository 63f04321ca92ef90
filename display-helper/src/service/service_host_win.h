#pragma once

#include <string>

#include "tolvek/result.h"

namespace tolvek {

// Connects the process to the service control manager and runs the service for the user
// named by `sid_text`. Blocks until the service has stopped.
[[nodiscard]] Status run_dispatcher(std::string sid_text);

} // namespace tolvek
