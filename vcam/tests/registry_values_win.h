#pragma once

// Reads of the camera's registration below HKEY_LOCAL_MACHINE as COM in hosts of either
// bitness sees it: in the registry view of that bitness.

#include <windows.h>

#include "camera_registry_layout.h"
#include "tolvek/wide_text_win.h"

#include <string>

namespace tolvek::vcam::testing {

inline DWORD registry_view_of(HostBitness bitness)
{
    return bitness == HostBitness::bits64 ? RRF_SUBKEY_WOW6464KEY : RRF_SUBKEY_WOW6432KEY;
}

// A string value, or "(absent)".
inline std::wstring string_value(HostBitness bitness, const std::u16string& key,
                                 const wchar_t* name)
{
    wchar_t data[1024] = {};
    DWORD size = sizeof data;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, as_wide(key.c_str()), name,
                     RRF_RT_REG_SZ | registry_view_of(bitness), nullptr, data,
                     &size) != ERROR_SUCCESS) {
        return L"(absent)";
    }
    return data;
}

// The size of a binary value; 0 when it is absent or of another type.
inline DWORD binary_value_size(HostBitness bitness, const std::u16string& key, const wchar_t* name)
{
    DWORD size = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, as_wide(key.c_str()), name,
                     RRF_RT_REG_BINARY | registry_view_of(bitness), nullptr, nullptr,
                     &size) != ERROR_SUCCESS) {
        return 0;
    }
    return size;
}

} // namespace tolvek::vcam::testing
