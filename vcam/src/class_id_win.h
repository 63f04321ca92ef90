#pragma once

// The class identifier under which hosts create the camera's source filter.

#include <windows.h>

namespace tolvek::vcam {

// {6F4A2C58-9B31-4E7D-A5C6-1D0E8B37F942}
inline constexpr CLSID CLSID_VirtualCamera = {
    0x6F4A2C58, 0x9B31, 0x4E7D, {0xA5, 0xC6, 0x1D, 0x0E, 0x8B, 0x37, 0xF9, 0x42}};

} // namespace tolvek::vcam
