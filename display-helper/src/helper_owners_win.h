#pragma once

// Owners of the Windows resource kinds that only the display helper uses, one line each over
// the common UniqueResource. Like the common owners, closing keeps the thread's last error.

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

struct SoftwareDeviceTraits {
    using Type = HSWDEVICE;
    static constexpr Type empty() noexcept { return nullptr; }
    static bool is_empty(Type h) noexcept { return h == nullptr; }
    static void close(Type h) noexcept
    {
        PreserveLastError keep;
        // A device exists only where SwDeviceCreate was resolved, and SwDeviceClose with it.
        software_device_api().close(h);
    }
};

} // namespace detail

// A service control manager or service handle (OpenSCManagerW, OpenServiceW, CreateServiceW).
using UniqueServiceHandle = UniqueResource<detail::ServiceHandleTraits>;

// A software device (SwDeviceCreate): closing the handle removes the device from the system.
using UniqueSwDevice = UniqueResource<detail::SoftwareDeviceTraits>;

} // namespace tolvek
