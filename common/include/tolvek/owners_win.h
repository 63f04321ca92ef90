#pragma once

// Owners of the Win32 resource kinds that both deliverables use: one line per kind over the
// common UniqueResource and one traits template. Closing never changes the thread's last
// error, so an error taken after a failed call survives the clean-up of whatever was open at
// that point.

#include <windows.h>
#include <objbase.h>

#include "tolvek/unique_resource.h"

namespace tolvek {

namespace detail {

class PreserveLastError {
public:
    PreserveLastError() noexcept : error_(GetLastError()) {}
    ~PreserveLastError() { SetLastError(error_); }
    PreserveLastError(const PreserveLastError&) = delete;
    PreserveLastError& operator=(const PreserveLastError&) = delete;

private:
    DWORD error_;
};

} // namespace detail

// The traits of a resource kind `T` whose empty value is null and which `close_function`
// releases, its result ignored (there is nothing left to do when a close fails).
template <class T, auto close_function>
struct ClosedWith {
    using Type = T;
    static constexpr Type empty() noexcept { return nullptr; }
    static bool is_empty(Type value) noexcept { return value == nullptr; }
    static void close(Type value) noexcept
    {
        const detail::PreserveLastError keep;
        close_function(value);
    }
};

namespace detail {

// Kernel object handles: some calls report failure with NULL, others (CreateFileW,
// CreateNamedPipeW) with INVALID_HANDLE_VALUE; neither is ever closed.
struct KernelHandleTraits : ClosedWith<HANDLE, CloseHandle> {
    static bool is_empty(HANDLE value) noexcept
    {
        return value == nullptr || value == INVALID_HANDLE_VALUE;
    }
};

} // namespace detail

using UniqueHandle = UniqueResource<detail::KernelHandleTraits>;
// Memory that the system allocated for the caller and that LocalFree releases
// (ConvertSidToStringSidW, ConvertStringSecurityDescriptorToSecurityDescriptorW, ...).
template <class T>
using UniqueLocalMemory = UniqueResource<ClosedWith<T*, LocalFree>>;
// COM task memory (CoTaskMemAlloc / CoTaskMemFree).
template <class T>
using UniqueTaskMemory = UniqueResource<ClosedWith<T*, CoTaskMemFree>>;
// A view of a file mapping (MapViewOfFile / UnmapViewOfFile).
using UniqueMappedView = UniqueResource<ClosedWith<void*, UnmapViewOfFile>>;
// An opened or created registry key (RegCreateKeyExW, RegOpenKeyExW / RegCloseKey); the
// predefined root keys are never held.
using UniqueRegistryKey = UniqueResource<ClosedWith<HKEY, RegCloseKey>>;
// A module reference that keeps a DLL loaded (LoadLibraryW, LoadLibraryExW,
// GetModuleHandleExW without GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT).
using UniqueLibrary = UniqueResource<ClosedWith<HMODULE, FreeLibrary>>;
// A service control manager or service handle (OpenSCManagerW, OpenServiceW, CreateServiceW).
using UniqueServiceHandle = UniqueResource<ClosedWith<SC_HANDLE, CloseServiceHandle>>;

} // namespace tolvek
