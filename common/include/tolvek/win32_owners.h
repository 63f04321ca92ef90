#pragma once

// Owners of the Win32 resource kinds that both deliverables use. Closing never changes the
// thread's last error, so an error taken after a failed call survives the clean-up of
// whatever was open at that point.

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

// Kernel object handles: some calls report failure with NULL, others (CreateFileW,
// CreateNamedPipeW) with INVALID_HANDLE_VALUE; neither is ever closed.
struct KernelHandleTraits {
    using Type = HANDLE;
    static constexpr Type empty() noexcept { return nullptr; }
    static bool is_empty(Type h) noexcept { return h == nullptr || h == INVALID_HANDLE_VALUE; }
    static void close(Type h) noexcept
    {
        PreserveLastError keep;
        CloseHandle(h);
    }
};

template <class T>
struct LocalMemoryTraits {
    using Type = T*;
    static constexpr Type empty() noexcept { return nullptr; }
    static bool is_empty(Type p) noexcept { return p == nullptr; }
    static void close(Type p) noexcept
    {
        PreserveLastError keep;
        LocalFree(const_cast<void*>(static_cast<const void*>(p)));
    }
};

template <class T>
struct TaskMemoryTraits {
    using Type = T*;
    static constexpr Type empty() noexcept { return nullptr; }
    static bool is_empty(Type p) noexcept { return p == nullptr; }
    static void close(Type p) noexcept
    {
        CoTaskMemFree(const_cast<void*>(static_cast<const void*>(p)));
    }
};

struct MappedViewTraits {
    using Type = void*;
    static constexpr Type empty() noexcept { return nullptr; }
    static bool is_empty(Type p) noexcept { return p == nullptr; }
    static void close(Type p) noexcept
    {
        PreserveLastError keep;
        UnmapViewOfFile(p);
    }
};

// A reference to a loaded module (LoadLibraryW, GetModuleHandleExW without
// GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT).
struct LibraryTraits {
    using Type = HMODULE;
    static constexpr Type empty() noexcept { return nullptr; }
    static bool is_empty(Type m) noexcept { return m == nullptr; }
    static void close(Type m) noexcept
    {
        PreserveLastError keep;
        FreeLibrary(m);
    }
};

} // namespace detail

using UniqueHandle = UniqueResource<detail::KernelHandleTraits>;
// Memory that the system allocated for the caller and that LocalFree releases
// (ConvertSidToStringSidW, ConvertStringSecurityDescriptorToSecurityDescriptorW, ...).
template <class T>
using UniqueLocalMemory = UniqueResource<detail::LocalMemoryTraits<T>>;
// COM task memory (CoTaskMemAlloc / CoTaskMemFree).
template <class T>
using UniqueTaskMemory = UniqueResource<detail::TaskMemoryTraits<T>>;
// A view of a file mapping (MapViewOfFile / UnmapViewOfFile).
using UniqueMappedView = UniqueResource<detail::MappedViewTraits>;
// A module reference that keeps a DLL loaded.
using UniqueLibrary = UniqueResource<detail::LibraryTraits>;

} // namespace tolvek
