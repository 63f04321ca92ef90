#pragma once

#include <string>

#include "tolvek/result.h"

namespace tolvek {

// Adds the driver package, creates or updates the service for the user named by
// `sid_argument`, and lets that user start it.
[[nodiscard]] Status install(const std::string& sid_argument);

} // namespace tolvek
