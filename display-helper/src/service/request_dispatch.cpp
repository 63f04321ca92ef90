#include "service/request_dispatch.h"

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

} // namespace tolvek
