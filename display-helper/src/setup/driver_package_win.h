#pragma once

// Adding and removing the display driver package through the system's driver store
// utility, pnputil.exe.

#include <string>
#include <string_view>

#include "tolvek/result.h"

namespace tolvek {

// pnputil.exe in the system folder as the system gives it (GetSystemDirectoryW), never as the
// environment says: install and uninstall run elevated, and SystemRoot is whatever a process
// of the same user set for them. C:\Windows\System32 when the system cannot tell.
[[nodiscard]] std::u16string pnputil_path();

// Adds the package whose .inf file is at `inf_path` to the driver store and installs it.
// Any non-zero exit code of the utility is a refusal, with its output in the error.
[[nodiscard]] Status add_driver_package(std::u16string_view inf_path);

// Deletes the first package in the driver store's listing that names "tolvekidd.inf".
// Success also when there is none.
[[nodiscard]] Status remove_driver_package();

} // namespace tolvek
