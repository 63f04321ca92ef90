#pragma once

// Owners of the Windows resource kinds that only the display helper uses, one line each over
// the common UniqueResource (tolvek/win32_owners.h has the kinds both deliverables share).
// Like the common owners, closing keeps the thread's last error.

#include <windows.h>

#include "software_device_api_win.h"
#include "tolvek/unique_resource.h"
#include "tolvek/win32_owners.h"

namespace tolvek {

namespace detail {

struct ServiceHandleTraits {
    using Type = SC_HANDLE;
    static constexpr Type empty() noexcept { return nullptr; }
    static bool is_empty(Type h) noexcept { return h == nullptr; }
    static void close(Type h) noexcept
    {
        PreserveLastError keep;
        CloseServiceHandle(h);
    }
};

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

// A service control manager or service handle (OpenSCManagerW, OpenServiceW, CreateServiceW).
using UniqueServiceHandle = UniqueResource<detail::ServiceHandleTraits>;
using UniqueSwDevice = UniqueResource<detail::SoftwareDeviceTraits>;

} // namespace tolvek
