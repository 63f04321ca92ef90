// The camera media type byte for byte, built independently here from the published field
// values and offsets, and the acceptance rule on the real structures.

#include "media_type_win.h"

#include <amvideo.h>
#include <uuids.h>

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tolvek::vcam {
namespace {

template <std::size_t Size>
struct Bytes {
    void put32(std::size_t offset, std::uint32_t value)
    {
        for (int index = 0; index < 4; ++index) {
            bytes[offset + index] = static_cast<std::uint8_t>(value >> (8 * index));
        }
    }
    void put16(std::size_t offset, std::uint16_t value)
    {
        bytes[offset] = static_cast<std::uint8_t>(value);
        bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
    }
    void put_guid(std::size_t offset, std::array<std::uint8_t, 16> guid_bytes)
    {
        std::memcpy(bytes.data() + offset, guid_bytes.data(), 16);
    }
    std::array<std::uint8_t, Size> bytes{};
};

// The VIDEOINFOHEADER of the camera type, as the format block must read.
std::array<std::uint8_t, 88> expected_format_block()
{
    Bytes<88> format;
    format.put32(32, 884'736'000); // dwBitRate
    format.put32(40, 333'333);     // AvgTimePerFrame, low half
    format.put32(48, 40);          // biSize
    format.put32(52, 1280);        // biWidth
    format.put32(56, 720);         // biHeight
    format.put16(60, 1);           // biPlanes
    format.put16(62, 32);          // biBitCount
    format.put32(68, 3'686'400);   // biSizeImage
    return format.bytes;
}

// Where AM_MEDIA_TYPE's pointer-sized tail lies. A 64-bit host pads 4 bytes before pUnk and
// before pbFormat; a 32-bit host packs pUnk, cbFormat and pbFormat one after the other.
struct MediaTypeLayout {
    std::size_t unknown; // pUnk
    std::size_t format_size;
    std::size_t format;
    std::size_t size;
};
#if defined(_WIN64)
constexpr MediaTypeLayout kLayout{64, 72, 80, 88};
#else
constexpr MediaTypeLayout kLayout{60, 64, 68, 72};
#endif
static_assert(sizeof(AM_MEDIA_TYPE) == kLayout.size &&
              offsetof(AM_MEDIA_TYPE, pUnk) == kLayout.unknown &&
              offsetof(AM_MEDIA_TYPE, cbFormat) == kLayout.format_size &&
              offsetof(AM_MEDIA_TYPE, pbFormat) == kLayout.format);

using MediaTypeHead = std::array<std::uint8_t, kLayout.format>;

// The AM_MEDIA_TYPE of the camera type without its format pointer.
MediaTypeHead expected_media_type_head()
{
    Bytes<kLayout.format> type;
    type.put_guid(0, {0x76, 0x69, 0x64, 0x73, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00,
                      0x38, 0x9B, 0x71}); // MEDIATYPE_Video
    type.put_guid(16, {0x7E, 0xEB, 0x36, 0xE4, 0x4F, 0x52, 0xCE, 0x11, 0x9F, 0x53, 0x00, 0x20, 0xAF,
                       0x0B, 0xA7, 0x70}); // MEDIASUBTYPE_RGB32
    type.put32(32, 1);                     // bFixedSizeSamples
    type.put32(40, 3'686'400);             // lSampleSize
    type.put_guid(44, {0x80, 0x9F, 0x58, 0x05, 0x56, 0xC3, 0xCE, 0x11, 0xBF, 0x01, 0x00, 0xAA, 0x00,
                       0x55, 0x59, 0x5A}); // FORMAT_VideoInfo
    type.put32(kLayout.format_size, 88);   // cbFormat
    return type.bytes;
}

// Zeroes the bytes of the caller's structure that no field covers (64-bit hosts only).
void clear_padding(MediaTypeHead& head)
{
    constexpr std::size_t kFieldsBeforePadding = 60; // up to the end of formattype
    std::memset(head.data() + kFieldsBeforePadding, 0, kLayout.unknown - kFieldsBeforePadding);
    const std::size_t after_format_size = kLayout.format_size + 4;
    std::memset(head.data() + after_format_size, 0, kLayout.format - after_format_size);
}

void expect_camera_type(const AM_MEDIA_TYPE& type, bool padding_zero)
{
    const MediaTypeHead head = expected_media_type_head();
    MediaTypeHead actual{};
    std::memcpy(actual.data(), &type, actual.size());
    if (!padding_zero) {
        clear_padding(actual);
    }
    EXPECT_EQ(actual, head);
    ASSERT_NE(type.pbFormat, nullptr);
    auto format = std::array<std::uint8_t, 88>{};
    std::memcpy(format.data(), type.pbFormat, 88);
    EXPECT_EQ(format, expected_format_block());
}

TEST(MediaTypeWin, build_gives_the_camera_type_byte_for_byte)
{
    UniqueMediaType type = build_media_type();
    ASSERT_NE(type, nullptr);
    expect_camera_type(*type, true);
    EXPECT_TRUE(accepts_media_type(type.get()));
}

TEST(MediaTypeWin, two_builds_are_independent_allocations)
{
    UniqueMediaType first = build_media_type();
    UniqueMediaType second = build_media_type();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first.get(), second.get());
    EXPECT_NE(first->pbFormat, second->pbFormat);

    first->pbFormat[52] = 0; // the width of one must not change the other
    expect_camera_type(*second, true);
}

TEST(MediaTypeWin, fill_overwrites_every_field_without_freeing_the_old_block)
{
    AM_MEDIA_TYPE type;
    std::memset(&type, 0xCD, sizeof type);
    BYTE old_block[4] = {1, 2, 3, 4};
    type.pbFormat = old_block; // not task memory: freeing it would fail loudly

    ASSERT_EQ(fill_media_type(type), S_OK);

    expect_camera_type(type, false);
    EXPECT_NE(type.pbFormat, old_block);
    EXPECT_EQ(old_block[0], 1);
    CoTaskMemFree(type.pbFormat);
}

TEST(MediaTypeWin, acceptance_reads_the_real_structures)
{
    UniqueMediaType type = build_media_type();
    ASSERT_NE(type, nullptr);
    auto* header = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);

    header->bmiHeader.biHeight = -720;
    EXPECT_FALSE(accepts_media_type(type.get()));
    header->bmiHeader.biHeight = 720;
    type->cbFormat = 87;
    EXPECT_FALSE(accepts_media_type(type.get()));
    type->cbFormat = 88;
    type->subtype = MEDIASUBTYPE_RGB24;
    EXPECT_FALSE(accepts_media_type(type.get()));
    type->subtype = MEDIASUBTYPE_RGB32;
    type->formattype = GUID_NULL;
    header->bmiHeader.biWidth = 640;
    EXPECT_TRUE(accepts_media_type(type.get()));
    EXPECT_FALSE(accepts_media_type(nullptr));
}

} // namespace
} // namespace tolvek::vcam
