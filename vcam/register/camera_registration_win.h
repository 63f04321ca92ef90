#pragma once

// Registration of the camera for the whole machine, for the hosts of this program's bitness:
// the COM class under HKLM\Software\Classes\CLSID and, through the system's filter mapper,
// the entry in DirectShow's video input device category, both in the registry view that COM
// reads in those hosts. The camera module itself registers nothing.

#include "camera_registry_layout.h"
#include "tolvek/result.h"

#include <string>
#include <string_view>

namespace tolvek::vcam {

// The hosts this program registers for: those of its own bitness. The filter mapper writes
// the registry view of the process that calls it.
inline constexpr HostBitness kThisProgramBitness =
    sizeof(void*) == 8 ? HostBitness::bits64 : HostBitness::bits32;

// Checks that `module_path` names a camera module (it exists and exports DllGetClassObject)
// and registers it by its full path: first the class, then the category entry, which the
// filter mapper writes with the pin and media type that hosts match filters by. Registering
// the same module again changes nothing.
[[nodiscard]] Result<std::u16string> register_camera(std::u16string_view module_path);

// Removes what register_camera writes: the category entry through the filter mapper, then
// the class. Succeeds when nothing is registered.
[[nodiscard]] Status unregister_camera();

// Removes the keys of the registration for the hosts of `bitness` without the filter mapper,
// for a registry view that no program of that bitness is there to unregister.
[[nodiscard]] Status remove_camera_keys(HostBitness bitness);

// Whether a file (not a folder) is at `path`.
[[nodiscard]] bool is_file(std::u16string_view path);

// The camera module in the folder of the running program.
[[nodiscard]] Result<std::u16string> module_beside_this_program();

} // namespace tolvek::vcam
