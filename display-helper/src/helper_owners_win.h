#pragma once

// Owners of the Win32 resource kinds that only the helper uses, over the common
// UniqueResource (tolvek/win32_owners.h has the kinds both deliverables share).

#include "software_device_api_win.h"
#include "tolvek/win32_owners.h"

namespace tolvek {

namespace detail {

// A software device: closing the handle removes the device from the system.
struct SoftwareDeviceTraits {
    using Type = HSWDEVICE;
    static constexpr Type empty() noexcept { return nullptr; }
    static bool is_empty(Type device) noexcept { return device == nullptr; }
    static void close(Type device) noexcept
    {
        PreserveLastError keep;
        // A handle exists only where SwDeviceCreate was resolved, and SwDeviceClose with it.
        software_device_api().close(device);
    }
};

} // namespace detail

using UniqueSwDevice = UniqueResource<detail::SoftwareDeviceTraits>;

} // namespace tolvek
