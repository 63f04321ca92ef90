#include "monitor_identity.h"

#include <cstdio>

namespace tolvek {

std::string monitor_instance_id(std::uint32_t serial)
{
    char text[32];
    std::snprintf(text, sizeof text, "TolvekMonitor-%08x", static_cast<unsigned>(serial));
    return text;
}

std::string monitor_spec_text(std::uint32_t width, std::uint32_t height, std::uint32_t refresh_hz,
                              const MonitorIdentity& identity)
{
    // Longest: three 10-digit decimals, 8 + 8 + 8 hex digits and 6 separators.
    char text[80];
    std::snprintf(text, sizeof text, "%ux%u@%u/%04x:%04x:%08x", static_cast<unsigned>(width),
                  static_cast<unsigned>(height), static_cast<unsigned>(refresh_hz),
                  static_cast<unsigned>(identity.vendor_id),
                  static_cast<unsigned>(identity.product_id),
                  static_cast<unsigned>(identity.serial));
    return text;
}

} // namespace tolvek
