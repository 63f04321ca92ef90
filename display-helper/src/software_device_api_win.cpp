#include "software_device_api_win.h"

namespace tolvek {
namespace {

// An exported procedure by its real signature; null when the module lacks it.
template <class Function>
Function find_procedure(HMODULE module, const char* name)
{
    // GetProcAddress gives a generic pointer; void (*)() is the type from which any function
    // pointer type converts without a cast-function-type warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

SoftwareDeviceApi resolve_software_device_api()
{
    // Only the system folder's copy: the service runs as LocalSystem, and a cfgmgr32.dll that
    // someone put beside the program (a download folder, a share) must never be run.
    const HMODULE module = LoadLibraryExW(L"cfgmgr32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) {
        return {nullptr, nullptr, HRESULT_FROM_WIN32(GetLastError())};
    }
    const auto create = find_procedure<SwDeviceCreateFunction>(module, "SwDeviceCreate");
    if (create == nullptr) {
        return {nullptr, nullptr, HRESULT_FROM_WIN32(GetLastError())};
    }
    const auto close = find_procedure<SwDeviceCloseFunction>(module, "SwDeviceClose");
    if (close == nullptr) {
        return {nullptr, nullptr, HRESULT_FROM_WIN32(GetLastError())};
    }
    return {create, close, S_OK};
}

} // namespace

const SoftwareDeviceApi& software_device_api()
{
    static const SoftwareDeviceApi api = resolve_software_device_api();
    return api;
}

void close_software_device(HSWDEVICE device) noexcept
{
    software_device_api().close(device);
}

} // namespace tolvek
