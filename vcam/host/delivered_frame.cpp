#include "delivered_frame.h"

#include <cstdint>
#include <cstring>

namespace tolvek::vcam {

bool shows_fill_colour(ConstFramePixels frame) noexcept
{
    for (std::size_t offset = 0; offset < frame.size(); offset += kBytesPerPixel) {
        std::uint32_t pixel = 0;
        std::memcpy(&pixel, frame.data() + offset, sizeof pixel);
        if (pixel != kFillColour) {
            return false;
        }
    }
    return true;
}

} // namespace tolvek::vcam
