#pragma once

// Owners of the Windows resource kinds that only the display helper uses, one line each over
// the common UniqueResource. Like the common owners, closing keeps the thread's last error.

#include <windows.h>

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

} // namespace detail

// A service control manager or service handle (OpenSCManagerW, OpenServiceW, CreateServiceW).
using UniqueServiceHandle = UniqueResource<detail::ServiceHandleTraits>;

} // namespace tolvek
