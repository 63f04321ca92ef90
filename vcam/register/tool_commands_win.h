#pragma once

// What tolvek-vcam-register's commands do for the hosts of every bitness it serves. The tool
// registers in process for the hosts of its own bitness; the 64-bit tool also serves 32-bit
// hosts through the 32-bit registration program in the x86 folder beside it, since only a
// 32-bit program's filter mapper writes the 32-bit registry view.

#include "registration_command.h"

#include <string_view>

namespace tolvek::vcam {

// `register`: the module beside the tool and, from the 64-bit tool, the 32-bit module in the
// x86 folder. A module that is absent leaves the other registered alone.
[[nodiscard]] RunReport register_beside_tool();

// `register <path>`: that module, for the hosts of the tool's own bitness alone.
[[nodiscard]] RunReport register_module(std::u16string_view path);

// `unregister`: the registration for the tool's own bitness and, from the 64-bit tool, the
// 32-bit one: through the 32-bit registration program, or by removing its keys when that
// program is gone.
[[nodiscard]] RunReport unregister_everywhere();

} // namespace tolvek::vcam
