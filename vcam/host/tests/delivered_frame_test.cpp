// Telling the camera's fill colour from a picture: one pixel anywhere that differs makes it
// a picture, so that a feed's dark frame is never counted as the camera having no feed.

#include "delivered_frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace tolvek::vcam {
namespace {

std::vector<std::byte> fill_frame()
{
    std::vector<std::byte> frame(kFrameSize);
    for (std::size_t offset = 0; offset < kFrameSize; offset += kBytesPerPixel) {
        std::memcpy(frame.data() + offset, &kFillColour, sizeof kFillColour);
    }
    return frame;
}

TEST(DeliveredFrame, only_a_frame_of_nothing_but_the_fill_colour_shows_it)
{
    struct Case {
        const char* what;
        std::size_t changed_byte; // kFrameSize: none
        std::byte value;
        bool fill;
    };
    const Case cases[] = {
        {"the fill colour", kFrameSize, std::byte{0}, true},
        {"the first pixel bluer", 0, std::byte{0x1D}, false},
        {"the last pixel's red", kFrameSize - 2, std::byte{0x19}, false},
        {"an unused byte of the middle", kFrameSize / 2 + 3, std::byte{0x00}, false},
    };
    for (const Case& c : cases) {
        std::vector<std::byte> frame = fill_frame();
        if (c.changed_byte < kFrameSize) {
            frame[c.changed_byte] = c.value;
        }
        EXPECT_EQ(shows_fill_colour(ConstFramePixels(frame.data(), kFrameSize)), c.fill) << c.what;
    }
}

} // namespace
} // namespace tolvek::vcam
