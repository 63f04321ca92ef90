#pragma once

// Which media types the camera accepts, as plain C++ over any structure with the fields of
// AM_MEDIA_TYPE and VIDEOINFOHEADER: the Windows build checks the real structures, native
// tests check structures of the same shape.

#include "camera_format.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace tolvek::vcam {

struct GuidValue {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::array<std::uint8_t, 8> data4;
};

// {73646976-0000-0010-8000-00AA00389B71}
inline constexpr GuidValue kMediaTypeVideo{
    0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// {E436EB7E-524F-11CE-9F53-0020AF0BA770}
inline constexpr GuidValue kMediaSubtypeRgb32{
    0xE436EB7E, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
// {05589F80-C356-11CE-BF01-00AA0055595A}
inline constexpr GuidValue kFormatVideoInfo{
    0x05589F80, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
inline constexpr GuidValue kGuidNull{};

// The size of VIDEOINFOHEADER, the camera's format block.
inline constexpr std::uint32_t kVideoInfoHeaderSize = 88;

template <class Guid>
[[nodiscard]] bool is_guid(const Guid& guid, const GuidValue& value) noexcept
{
    return guid.Data1 == value.data1 && guid.Data2 == value.data2 && guid.Data3 == value.data3 &&
           std::equal(std::begin(guid.Data4), std::end(guid.Data4), value.data4.begin());
}

// True for the camera type and for every proposal it can serve: video, RGB32, and either no
// format block or a VIDEOINFOHEADER of 1280 x 720 bottom-up rows of 32 bits. Nothing else
// of the proposal is examined.
template <class VideoInfoHeader, class MediaType>
[[nodiscard]] bool accepts_camera_media_type(const MediaType* proposed) noexcept
{
    static_assert(sizeof(VideoInfoHeader) == kVideoInfoHeaderSize);
    if (proposed == nullptr) {
        return false;
    }
    if (!is_guid(proposed->majortype, kMediaTypeVideo) ||
        !is_guid(proposed->subtype, kMediaSubtypeRgb32)) {
        return false;
    }
    if (is_guid(proposed->formattype, kGuidNull)) {
        return true;
    }
    if (is_guid(proposed->formattype, kFormatVideoInfo) && proposed->pbFormat != nullptr) {
        // The size first: the header is read only when the block holds all of it.
        if (proposed->cbFormat < kVideoInfoHeaderSize) {
            return false;
        }
        VideoInfoHeader header;
        std::memcpy(&header, proposed->pbFormat, sizeof header); // the block may be unaligned
        return header.bmiHeader.biWidth == kFrameWidth &&
               header.bmiHeader.biHeight == kFrameHeight &&
               header.bmiHeader.biBitCount == kBitsPerPixel;
    }
    return proposed->pbFormat == nullptr;
}

} // namespace tolvek::vcam
