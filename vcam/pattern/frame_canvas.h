#pragma once

// Drawing into a camera frame in picture coordinates: x from the left, y from the top, while
// the frame stores its rows bottom-up (the first 5120 bytes are the bottom row). Pixels are
// 32-bit values 0xXXRRGGBB, that is B, G, R, X bytes in memory order.

#include "camera_format.h"
#include "frame_publisher.h"

#include <cstddef>
#include <cstdint>

namespace tolvek::vcam {

// A pixel from its red, green and blue parts; the fourth byte is 0xFF, as in the fill colour.
[[nodiscard]] constexpr std::uint32_t rgb(std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    return 0xFF00'0000u | std::uint32_t{red} << 16 | std::uint32_t{green} << 8 | blue;
}

// A rectangle of the picture: `left` and `top` from the top-left corner, in pixels.
struct PictureRectangle {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// The byte offset of pixel (x, y) of the picture in a bottom-up frame.
[[nodiscard]] constexpr std::size_t picture_offset(int x, int y)
{
    return static_cast<std::size_t>(kFrameHeight - 1 - y) * kFrameStride +
           static_cast<std::size_t>(x) * kBytesPerPixel;
}

[[nodiscard]] std::uint32_t pixel_at(ConstFramePixels frame, int x, int y) noexcept;

// Fills `area`, clipped to the picture, with `colour`.
void fill_rectangle(FramePixels frame, PictureRectangle area, std::uint32_t colour) noexcept;

// Fills every row from `top` to `top + height - 1` with the 1280 pixels of `row`.
void fill_rows(FramePixels frame, int top, int height, const std::uint32_t* row) noexcept;

// Stores a picture of 1280 x 720 32-bit pixels whose rows run top-down, `stride` bytes apart
// (as imaging libraries deliver them), into a bottom-up frame, and sets every fourth byte to
// 0xFF: what the picture had there (alpha, or nothing) means nothing to a camera.
void store_top_down_picture(const std::byte* picture, std::size_t stride,
                            FramePixels frame) noexcept;

} // namespace tolvek::vcam
