// The moving test picture: bars, marker, frame number and time, each where it belongs, and
// the frame number read back.

#include "pattern_picture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

namespace tolvek::vcam {
namespace {

const TimeOfDay kNoon{12, 0, 0, 0};

class PatternPictureTest : public ::testing::Test {
protected:
    FramePixels pixels() { return FramePixels(frame.data(), kFrameSize); }
    std::uint32_t at(int x, int y) { return pixel_at(pixels(), x, y); }

    std::vector<std::byte> frame = std::vector<std::byte>(kFrameSize);
};

TEST_F(PatternPictureTest, seven_bars_run_from_white_to_blue_across_the_upper_half)
{
    draw_pattern_picture(pixels(), 0, kNoon);

    for (std::size_t bar = 0; bar < kBarColours.size(); ++bar) {
        const int centre = static_cast<int>((2 * bar + 1) * kFrameWidth / 14);
        EXPECT_EQ(at(centre, 0), kBarColours[bar]) << "bar " << bar;
        EXPECT_EQ(at(centre, kBarsHeight - 1), kBarColours[bar]) << "bar " << bar;
        EXPECT_EQ(at(centre, kBarsHeight), kPatternBackground) << "bar " << bar;
    }
    // Yellow is red and green: bytes 00 BF BF FF in memory, where the picture's top row is.
    const std::byte yellow[] = {std::byte{0x00}, std::byte{0xBF}, std::byte{0xBF}, std::byte{0xFF}};
    EXPECT_EQ(std::memcmp(frame.data() + 719 * kFrameStride + 300 * 4, yellow, 4), 0);
}

TEST(PatternPicture, the_marker_sweeps_from_edge_to_edge_and_back_in_two_seconds_each_way)
{
    struct Case {
        std::uint64_t frame_number;
        int left;
    };
    for (const Case& c : std::vector<Case>{
             {0, 0},
             {1, 20},
             {30, 608},
             {60, kFrameWidth - kMarkerSize}, // at the right edge after 2 s
             {61, 1195},
             {119, 20},
             {120, 0},
             {180, kFrameWidth - kMarkerSize},
             {120'000'000'060, kFrameWidth - kMarkerSize},
         }) {
        EXPECT_EQ(marker_left(c.frame_number), c.left) << "frame " << c.frame_number;
    }
}

TEST_F(PatternPictureTest, the_marker_is_drawn_where_marker_left_says)
{
    for (const std::uint64_t frame_number : {0u, 17u, 60u, 95u}) {
        draw_pattern_picture(pixels(), frame_number, kNoon);
        const int left = marker_left(frame_number);
        const int middle = kMarkerTop + kMarkerSize / 2;
        EXPECT_EQ(at(left, middle), kMarkerColour) << frame_number;
        EXPECT_EQ(at(left + kMarkerSize - 1, middle), kMarkerColour) << frame_number;
        if (left > 0) {
            EXPECT_EQ(at(left - 1, middle), kPatternBackground) << frame_number;
        }
        if (left + kMarkerSize < kFrameWidth) {
            EXPECT_EQ(at(left + kMarkerSize, middle), kPatternBackground) << frame_number;
        }
    }
}

TEST_F(PatternPictureTest, the_frame_number_reads_back_modulo_100_million)
{
    struct Case {
        std::uint64_t drawn;
        std::uint64_t read;
    };
    for (const Case& c : std::vector<Case>{
             {0, 0},
             {7, 7},
             {10, 10},
             {12'345'678, 12'345'678},
             {99'999'999, 99'999'999},
             {100'000'000, 0},
             {123'456'789, 23'456'789},
         }) {
        draw_pattern_picture(pixels(), c.drawn, kNoon);
        EXPECT_EQ(read_frame_number(pixels()), c.read) << c.drawn;
    }
}

TEST_F(PatternPictureTest, the_time_is_drawn_as_hours_minutes_seconds_and_milliseconds)
{
    draw_pattern_picture(pixels(), 5, {9, 5, 3, 7});
    EXPECT_EQ(read_text(pixels(), kTimeBox), "09:05:03.007");
}

TEST(PatternPicture, time_text_keeps_its_width_whatever_it_is_given)
{
    struct Case {
        TimeOfDay time;
        const char* text;
    };
    for (const Case& c : std::vector<Case>{
             {{0, 0, 0, 0}, "00:00:00.000"},
             {{23, 59, 59, 999}, "23:59:59.999"},
             {{123, 60, 61, 1000}, "23:60:61.000"},
             {{-1, 0, 0, -5}, "99:00:00.995"},
         }) {
        EXPECT_EQ(time_text(c.time), c.text);
    }
}

// Every pixel is drawn: a slot of the frame section still holds an older picture, and any of
// it left over would show.
TEST_F(PatternPictureTest, every_pixel_of_the_picture_is_drawn_over)
{
    std::fill(frame.begin(), frame.end(), std::byte{0x5A});
    draw_pattern_picture(pixels(), 42, kNoon);

    std::set<std::uint32_t> colours(kBarColours.begin(), kBarColours.end());
    colours.insert({kPatternBackground, kMarkerColour, kTextInk, kTextPaper});
    for (int y = 0; y < kFrameHeight; ++y) {
        for (int x = 0; x < kFrameWidth; ++x) {
            ASSERT_EQ(colours.count(at(x, y)), 1u) << x << "," << y;
        }
    }
}

TEST_F(PatternPictureTest, a_picture_without_the_test_pattern_carries_no_frame_number)
{
    struct Case {
        const char* what;
        std::uint32_t colour;
        PictureRectangle area;
    };
    for (const Case& c : std::vector<Case>{
             {"the camera's fill colour", kFillColour, {0, 0, kFrameWidth, kFrameHeight}},
             {"black", kTextPaper, {0, 0, kFrameWidth, kFrameHeight}},
             {"the number's lower half painted over",
              kTextPaper,
              {0, kFrameNumberBox.top + 40, kFrameWidth, 30}},
         }) {
        draw_pattern_picture(pixels(), 12'345'678, kNoon);
        fill_rectangle(pixels(), c.area, c.colour);
        EXPECT_EQ(read_frame_number(pixels()), std::nullopt) << c.what;
    }
}

} // namespace
} // namespace tolvek::vcam
