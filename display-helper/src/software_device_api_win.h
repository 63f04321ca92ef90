#pragma once

// SwDeviceCreate and SwDeviceClose, resolved from cfgmgr32.dll at run time. Where the system
// lacks them (Wine, Windows 7) the helper still starts and serves; each create then fails
// with the reason they are missing.

#include "swdevice_win.h"

namespace tolvek {

struct SoftwareDeviceApi {
    SwDeviceCreateFunction create = nullptr; // both set, or neither
    SwDeviceCloseFunction close = nullptr;
    HRESULT missing = S_OK; // why they are not there: the load or lookup failure
};

// Resolved once, on first use, from the system folder alone (where the tests' stand-in is
// placed too). The module stays loaded for the life of the process: device handles and late
// creation callbacks may outlive any caller.
[[nodiscard]] const SoftwareDeviceApi& software_device_api();

// SwDeviceClose through the resolved API. A device exists only where SwDeviceCreate was
// resolved, and SwDeviceClose with it.
void close_software_device(HSWDEVICE device) noexcept;

} // namespace tolvek
