#include "frame_canvas.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tolvek::vcam {

std::uint32_t pixel_at(ConstFramePixels frame, int x, int y) noexcept
{
    std::uint32_t pixel = 0;
    std::memcpy(&pixel, frame.data() + picture_offset(x, y), sizeof pixel);
    return pixel;
}

void fill_rectangle(FramePixels frame, PictureRectangle area, std::uint32_t colour) noexcept
{
    const int left = std::max(area.left, 0);
    const int right = std::min(area.left + area.width, kFrameWidth);
    const int top = std::max(area.top, 0);
    const int bottom = std::min(area.top + area.height, kFrameHeight);
    if (left >= right || top >= bottom) {
        return;
    }
    std::array<std::uint32_t, kFrameWidth> run;
    std::fill_n(run.begin(), right - left, colour);
    const std::size_t length = static_cast<std::size_t>(right - left) * kBytesPerPixel;
    for (int y = top; y < bottom; ++y) {
        std::memcpy(frame.data() + picture_offset(left, y), run.data(), length);
    }
}

void fill_rows(FramePixels frame, int top, int height, const std::uint32_t* row) noexcept
{
    for (int y = std::max(top, 0); y < std::min(top + height, kFrameHeight); ++y) {
        std::memcpy(frame.data() + picture_offset(0, y), row, kFrameStride);
    }
}

void store_top_down_picture(const std::byte* picture, std::size_t stride,
                            FramePixels frame) noexcept
{
    for (int y = 0; y < kFrameHeight; ++y) {
        std::byte* row = frame.data() + picture_offset(0, y);
        std::memcpy(row, picture + static_cast<std::size_t>(y) * stride, kFrameStride);
        for (std::size_t x = 0; x < kFrameStride; x += kBytesPerPixel) {
            row[x + 3] = std::byte{0xFF};
        }
    }
}

} // namespace tolvek::vcam
