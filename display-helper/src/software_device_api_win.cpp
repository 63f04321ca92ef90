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
    const HMODULE module = LoadLibraryW(L"cfgmgr32.dll");
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
