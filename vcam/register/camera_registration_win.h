#pragma once

// Registration of the camera for the whole machine, in the 64-bit registry view: the COM
// class under HKLM\Software\Classes\CLSID and the entry in DirectShow's video input device
// category. The camera module itself registers nothing.

#include "tolvek/result.h"

#include <string>
#include <string_view>

namespace tolvek::vcam {

// Checks that `module_path` names a camera module (it exists and exports DllGetClassObject)
// and registers it by its full path. Registering the same module again changes nothing.
[[nodiscard]] Result<std::u16string> register_camera(std::u16string_view module_path);

// Removes what register_camera writes; succeeds when nothing is registered.
[[nodiscard]] Status unregister_camera();

// The camera module in the folder of the running program.
[[nodiscard]] Result<std::u16string> module_beside_this_program();

} // namespace tolvek::vcam
