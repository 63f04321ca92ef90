#include "monitor_values.h"

namespace tolvek {

bool create_values_accepted(const Create& create)
{
    const auto side_accepted = [](std::uint32_t side) {
        return side != 0 && side % 2 == 0 && side <= kMonitorMaxSide;
    };
    // Both sides are at most 5120 when the product is taken, so it fits in 32 bits.
    return create.refresh_hz == kMonitorRefreshHz && create.vendor_id == kMonitorVendorId &&
           create.product_id == kMonitorProductId && create.serial != 0 &&
           side_accepted(create.width) && side_accepted(create.height) &&
           create.width * create.height <= kMonitorMaxPixels;
}

Create monitor_create(std::uint32_t width, std::uint32_t height, std::uint32_t serial)
{
    return Create{width, height, kMonitorRefreshHz, kMonitorVendorId, kMonitorProductId, serial};
}

} // namespace tolvek
