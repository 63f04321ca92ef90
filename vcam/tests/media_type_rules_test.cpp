// Which proposed media types the camera accepts, checked natively on structures of the same
// shape as AM_MEDIA_TYPE and VIDEOINFOHEADER.

#include "media_type_rules.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace tolvek::vcam {
namespace {

struct Guid {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};

Guid guid_of(const GuidValue& value)
{
    Guid guid{value.data1, value.data2, value.data3, {}};
    std::memcpy(guid.Data4, value.data4.data(), 8);
    return guid;
}

struct Rect {
    std::int32_t left, top, right, bottom;
};

struct BitmapInfoHeader {
    std::uint32_t biSize;
    std::int32_t biWidth;
    std::int32_t biHeight;
    std::uint16_t biPlanes;
    std::uint16_t biBitCount;
    std::uint32_t biCompression;
    std::uint32_t biSizeImage;
    std::int32_t biXPelsPerMeter;
    std::int32_t biYPelsPerMeter;
    std::uint32_t biClrUsed;
    std::uint32_t biClrImportant;
};

struct VideoInfoHeader {
    Rect rcSource;
    Rect rcTarget;
    std::uint32_t dwBitRate;
    std::uint32_t dwBitErrorRate;
    std::int64_t AvgTimePerFrame;
    BitmapInfoHeader bmiHeader;
};

struct MediaType {
    Guid majortype;
    Guid subtype;
    std::int32_t bFixedSizeSamples;
    std::int32_t bTemporalCompression;
    std::uint32_t lSampleSize;
    Guid formattype;
    void* pUnk;
    std::uint32_t cbFormat;
    std::uint8_t* pbFormat;
};

// The camera's own type, with a format block the test can change.
struct Proposal {
    Proposal()
    {
        header.dwBitRate = kBitRate;
        header.AvgTimePerFrame = kFrameInterval;
        header.bmiHeader = {40, 1280, 720, 1, 32, 0, kFrameSize, 0, 0, 0, 0};
        type.majortype = guid_of(kMediaTypeVideo);
        type.subtype = guid_of(kMediaSubtypeRgb32);
        type.bFixedSizeSamples = 1;
        type.lSampleSize = kFrameSize;
        type.formattype = guid_of(kFormatVideoInfo);
        type.cbFormat = kVideoInfoHeaderSize;
        type.pbFormat = reinterpret_cast<std::uint8_t*>(&header);
    }

    bool accepted() const { return accepts_camera_media_type<VideoInfoHeader>(&type); }

    VideoInfoHeader header{};
    MediaType type{};
};

TEST(MediaTypeRules, the_camera_type_and_what_it_leaves_open_are_accepted)
{
    Proposal camera;
    EXPECT_TRUE(camera.accepted());

    Proposal compression;
    compression.header.bmiHeader.biCompression = 3;
    EXPECT_TRUE(compression.accepted()) << "biCompression is not examined";

    Proposal sample_size;
    sample_size.type.lSampleSize = 1;
    sample_size.type.bFixedSizeSamples = 0;
    sample_size.header.AvgTimePerFrame = 1;
    EXPECT_TRUE(sample_size.accepted());

    Proposal larger_block;
    std::vector<std::uint8_t> block(200);
    std::memcpy(block.data() + 0, &larger_block.header, sizeof larger_block.header);
    larger_block.type.pbFormat = block.data() + 0;
    larger_block.type.cbFormat = 200;
    EXPECT_TRUE(larger_block.accepted());
}

TEST(MediaTypeRules, a_type_without_format_details_is_accepted)
{
    Proposal no_format;
    no_format.type.formattype = guid_of(kGuidNull);
    no_format.type.cbFormat = 3;
    no_format.header.bmiHeader.biWidth = 640; // ignored without a format type
    EXPECT_TRUE(no_format.accepted());

    Proposal no_block;
    no_block.type.pbFormat = nullptr;
    no_block.type.cbFormat = 0;
    EXPECT_TRUE(no_block.accepted()) << "VideoInfo without a block";

    Proposal other_format_without_block;
    other_format_without_block.type.formattype = guid_of(kMediaTypeVideo);
    other_format_without_block.type.pbFormat = nullptr;
    EXPECT_TRUE(other_format_without_block.accepted());
}

TEST(MediaTypeRules, other_sizes_depths_orientations_and_subtypes_are_refused)
{
    Proposal top_down;
    top_down.header.bmiHeader.biHeight = -720;
    EXPECT_FALSE(top_down.accepted());

    Proposal vga;
    vga.header.bmiHeader.biWidth = 640;
    vga.header.bmiHeader.biHeight = 480;
    EXPECT_FALSE(vga.accepted());

    Proposal rgb24_depth;
    rgb24_depth.header.bmiHeader.biBitCount = 24;
    EXPECT_FALSE(rgb24_depth.accepted());

    Proposal rgb24;
    rgb24.type.subtype.Data1 = 0xE436EB7D; // MEDIASUBTYPE_RGB24
    EXPECT_FALSE(rgb24.accepted());

    Proposal audio;
    audio.type.majortype.Data1 = 0x73647561; // MEDIATYPE_Audio
    EXPECT_FALSE(audio.accepted());

    Proposal other_format_with_block;
    other_format_with_block.type.formattype = guid_of(kMediaTypeVideo);
    EXPECT_FALSE(other_format_with_block.accepted());

    EXPECT_FALSE(
        accepts_camera_media_type<VideoInfoHeader>(static_cast<const MediaType*>(nullptr)));
}

// Catches a check that reads the header out of a block too small to hold it.
TEST(MediaTypeRules, a_block_one_byte_short_is_refused_without_being_read)
{
    std::vector<std::uint8_t> short_block(kVideoInfoHeaderSize - 1);
    Proposal truncated;
    std::memcpy(short_block.data(), &truncated.header, short_block.size());
    truncated.type.pbFormat = short_block.data();
    truncated.type.cbFormat = kVideoInfoHeaderSize - 1;

    EXPECT_FALSE(truncated.accepted());
}

} // namespace
} // namespace tolvek::vcam
