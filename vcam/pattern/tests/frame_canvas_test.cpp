// Drawing in picture coordinates into bottom-up camera frames.

#include "frame_canvas.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace tolvek::vcam {
namespace {

constexpr std::uint32_t kRed = rgb(0xFF, 0, 0);

class FrameCanvasTest : public ::testing::Test {
protected:
    FramePixels pixels() { return FramePixels(frame.data(), kFrameSize); }
    std::uint32_t at(int x, int y) { return pixel_at(pixels(), x, y); }

    std::vector<std::byte> frame = std::vector<std::byte>(kFrameSize);
};

TEST_F(FrameCanvasTest, the_top_row_of_the_picture_is_the_last_row_of_the_frame)
{
    fill_rectangle(pixels(), {0, 0, 1, 1}, kRed);

    // B, G, R, X in memory order.
    const std::byte red[] = {std::byte{0}, std::byte{0}, std::byte{0xFF}, std::byte{0xFF}};
    EXPECT_EQ(std::memcmp(frame.data() + 719 * kFrameStride, red, 4), 0);
    EXPECT_EQ(at(0, 0), kRed);
    EXPECT_EQ(at(0, 719), 0u);
}

TEST_F(FrameCanvasTest, a_rectangle_is_clipped_to_the_picture)
{
    struct Case {
        PictureRectangle area;
        int filled_pixels;
    };
    for (const Case& c : std::vector<Case>{
             {{10, 20, 3, 2}, 6},
             {{-5, -5, 10, 10}, 25},
             {{1275, 715, 10, 10}, 25},
             {{-100, 0, 50, 10}, 0},
             {{1280, 0, 5, 5}, 0},
             {{0, 720, 5, 5}, 0},
             {{3, 3, 0, 5}, 0},
             {{3, 3, -4, 5}, 0},
         }) {
        std::fill(frame.begin(), frame.end(), std::byte{0});
        fill_rectangle(pixels(), c.area, kRed);
        int filled = 0;
        for (int y = 0; y < kFrameHeight; ++y) {
            for (int x = 0; x < kFrameWidth; ++x) {
                filled += at(x, y) == kRed;
            }
        }
        EXPECT_EQ(filled, c.filled_pixels) << c.area.left << "," << c.area.top;
    }
}

TEST_F(FrameCanvasTest, a_top_down_picture_is_stored_bottom_up_with_the_fourth_byte_set)
{
    // Rows padded to 5200 bytes, as an imaging library may deliver them; the fourth byte 0.
    constexpr std::size_t kStride = kFrameStride + 80;
    std::vector<std::byte> picture(kStride * kFrameHeight, std::byte{0xEE});
    for (int y = 0; y < kFrameHeight; ++y) {
        for (int x = 0; x < kFrameWidth; ++x) {
            const std::uint32_t pixel = static_cast<std::uint32_t>(y) << 11 | x;
            std::memcpy(picture.data() + y * kStride + x * 4, &pixel, 4);
        }
    }

    store_top_down_picture(picture.data(), kStride, pixels());

    for (const auto& [x, y] :
         std::vector<std::pair<int, int>>{{0, 0}, {1279, 0}, {0, 719}, {640, 360}, {1279, 719}}) {
        EXPECT_EQ(at(x, y), 0xFF00'0000u | static_cast<std::uint32_t>(y) << 11 | x)
            << x << "," << y;
    }
}

} // namespace
} // namespace tolvek::vcam
