#pragma once

#include "tolvek/result.h"

namespace tolvek {

// Stops and deletes the service, then deletes the driver package.
[[nodiscard]] Status uninstall();

} // namespace tolvek
