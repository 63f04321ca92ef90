#pragma once

// A still picture for the feed: a picture file read with the Windows Imaging Component (BMP,
// PNG, JPEG and whatever else the system decodes), scaled to 1280 x 720 whatever its own size
// and shape, and stored as a camera frame, rows bottom-up.

#include <windows.h>

#include "tolvek/result.h"

#include <cstddef>
#include <string_view>
#include <vector>

namespace tolvek::vcam {

// COM must be initialised on the calling thread. The error is the cause alone, as in
// "File not found. (0x80070002)".
[[nodiscard]] Result<std::vector<std::byte>> load_still_picture(std::u16string_view path);

} // namespace tolvek::vcam
