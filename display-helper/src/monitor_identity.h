#pragma once

// Who a virtual monitor is, and the texts that describe it to the platform and to the display
// driver: the software device's instance id and the MonitorSpec property value. Platform-free; the
// Windows shell (monitor_device_win.h) converts them to UTF-16.

#include <cstdint>
#include <string>

namespace tolvek {

// Who the monitor says it is; handed from the session to device creation.
struct MonitorIdentity {
    std::uint32_t vendor_id = 0;
    std::uint32_t product_id = 0;
    std::uint32_t serial = 0;
};

// "TolvekMonitor-" and the serial in at least 8 lower-case hex digits:
// "TolvekMonitor-0000002a".
[[nodiscard]] std::string monitor_instance_id(std::uint32_t serial);

// The mode and identity as the driver reads them: "1920x1080@60/546f:4c56:0000002a".
// The hex fields are minimum widths; a wider value is written in full.
[[nodiscard]] std::string monitor_spec_text(std::uint32_t width, std::uint32_t height,
                                            std::uint32_t refresh_hz,
                                            const MonitorIdentity& identity);

} // namespace tolvek
