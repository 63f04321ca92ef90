#pragma once

// Creation of one virtual monitor: a software device with the hardware id "Root\TolvekIdd",
// to which the indirect display driver binds, carrying the monitor's mode and identity in
// its MonitorSpec property.

#include <cstdint>
#include <optional>

#include "helper_owners_win.h"
#include "monitor_identity.h"

namespace tolvek {

// The device property through which the driver learns the monitor's mode and identity.
inline constexpr DEVPROPKEY kMonitorSpecPropertyKey{
    {0xA4C3D9F2, 0x6B1E, 0x4F7A, {0x9D, 0x0C, 0x2E, 0x5B, 0x8F, 0x31, 0xC7, 0x40}}, 2};

// How long a create waits for the platform's creation callback.
inline constexpr DWORD kDeviceCreationTimeoutMs = 15'000;

// Creates the device and waits for the platform to report it created. Gives the device,
// owned by the caller from then on, or nothing when it was not made; the reason is logged
// and no device is left behind. Called with the creation lock held, so at most one device
// is being created at a time.
[[nodiscard]] std::optional<UniqueSwDevice> create_monitor_device(std::uint32_t width,
                                                                  std::uint32_t height,
                                                                  std::uint32_t refresh_hz,
                                                                  const MonitorIdentity& identity);

} // namespace tolvek
