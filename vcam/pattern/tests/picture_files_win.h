#pragma once

// Picture files that the feed's tests write: through the Windows Imaging Component's
// encoders, and a BMP written byte by byte, so that the reading side meets files that
// nothing of ours made.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace tolvek::vcam::testing {

// A picture of `width` x `height` pixels 0xXXRRGGBB, rows top-down.
struct TopDownPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;

    [[nodiscard]] std::uint32_t at(int x, int y) const
    {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
};

// 1280 x 720 pixels that differ from their neighbours and from row to row, fully opaque.
[[nodiscard]] TopDownPicture varied_picture();

// Four quadrants of one colour each: top-left, top-right, bottom-left, bottom-right.
[[nodiscard]] TopDownPicture quadrant_picture(int width, int height,
                                              const std::uint32_t (&colours)[4]);

// Writes `picture` with the imaging component's encoder for `container`
// (GUID_ContainerFormatPng, GUID_ContainerFormatJpeg, ...), through the camera host's
// picture writer: 32-bit pixels where the encoder keeps them (PNG), converted where it wants
// no fourth byte (JPEG). COM must be initialised.
[[nodiscard]] HRESULT write_encoded_picture(const std::filesystem::path& path,
                                            const GUID& container, const TopDownPicture& picture);

// Writes `picture` as a 24-bit BMP, rows bottom-up as the format stores them.
[[nodiscard]] bool write_bmp(const std::filesystem::path& path, const TopDownPicture& picture);

} // namespace tolvek::vcam::testing
