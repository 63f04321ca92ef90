#pragma once

// The monitors the helper makes: what a create may ask for, and how many one connection
// holds. The session applies these rules to every create; a client can apply the same ones
// before it asks. Platform-free.

#include <cstddef>
#include <cstdint>

#include "request_protocol.h"

namespace tolvek {

inline constexpr std::size_t kMonitorsPerConnection = 4;
inline constexpr std::uint32_t kMonitorRefreshHz = 60;
inline constexpr std::uint32_t kMonitorVendorId = 0x546F;
inline constexpr std::uint32_t kMonitorProductId = 0x4C56;
inline constexpr std::uint32_t kMonitorMaxSide = 5120;
inline constexpr std::uint32_t kMonitorMaxPixels = 14'745'600; // 0xE10000

// Whether a create asks for a monitor this service makes: rate 60, the fixed vendor and
// product ids, a serial other than 0, and even sides of at most 5120 with at most
// 14,745,600 pixels.
[[nodiscard]] bool create_values_accepted(const Create& create);

// The create of a monitor of this mode and serial with the rate and ids the helper accepts.
[[nodiscard]] Create monitor_create(std::uint32_t width, std::uint32_t height,
                                    std::uint32_t serial);

} // namespace tolvek
