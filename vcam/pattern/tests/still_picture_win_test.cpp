// Still pictures read with Wine's own Windows Imaging Component: decoded, scaled to the
// camera's 1280 x 720 and stored bottom-up, or refused with the cause.

#include "still_picture_win.h"

#include <wincodec.h>

#include "frame_canvas.h"
#include "picture_files_win.h"
#include "support/test_environment_win.h"
#include "tolvek/com_apartment_win.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace tolvek::vcam {
namespace {

using testing::TopDownPicture;

// Top-left, top-right, bottom-left, bottom-right.
constexpr std::uint32_t kQuadrants[4] = {rgb(0xE0, 0x20, 0x20), rgb(0x20, 0xE0, 0x20),
                                         rgb(0x20, 0x20, 0xE0), rgb(0xE0, 0xE0, 0x20)};

class StillPictureWin : public ::testing::Test {
protected:
    std::u16string path_of(const wchar_t* name) const
    {
        const std::wstring path = (folder_.path() / name).native();
        return {path.begin(), path.end()};
    }

    // The colour of each quadrant's centre in `frame`, as far as it is from `expected`.
    static int largest_difference(const std::vector<std::byte>& frame,
                                  const std::uint32_t (&expected)[4])
    {
        const ConstFramePixels pixels(frame.data(), kFrameSize);
        const int centres[4][2] = {{320, 180}, {960, 180}, {320, 540}, {960, 540}};
        int largest = 0;
        for (int quadrant = 0; quadrant < 4; ++quadrant) {
            const std::uint32_t pixel =
                pixel_at(pixels, centres[quadrant][0], centres[quadrant][1]);
            for (int shift = 0; shift < 32; shift += 8) {
                largest = std::max(largest,
                                   std::abs(static_cast<int>(pixel >> shift & 0xFF) -
                                            static_cast<int>(expected[quadrant] >> shift & 0xFF)));
            }
        }
        return largest;
    }

    ComApartment apartment_;
    tolvek::testing::ScopedTempDir folder_;
};

TEST_F(StillPictureWin, a_1280_by_720_png_becomes_the_frame_exactly_with_rows_bottom_up)
{
    const TopDownPicture picture = testing::varied_picture();
    ASSERT_EQ(
        testing::write_encoded_picture(folder_.path() / L"p.png", GUID_ContainerFormatPng, picture),
        S_OK);

    const Result<std::vector<std::byte>> frame = load_still_picture(path_of(L"p.png"));

    ASSERT_TRUE(frame) << frame.error().text;
    std::vector<std::byte> expected(kFrameSize);
    store_top_down_picture(reinterpret_cast<const std::byte*>(picture.pixels.data()), kFrameStride,
                           FramePixels(expected.data(), kFrameSize));
    EXPECT_TRUE(frame.value() == expected);
    EXPECT_EQ(pixel_at(ConstFramePixels(frame.value().data(), kFrameSize), 0, 0), picture.at(0, 0))
        << "the picture's top row is the frame's last";
}

// Scaling smooths the edges between the quadrants; their centres keep their colours, and a
// quadrant in the wrong corner shows a picture turned over or mirrored.
TEST_F(StillPictureWin, pictures_of_other_sizes_and_formats_are_scaled_to_fill_the_frame)
{
    struct Case {
        const wchar_t* name;
        int width;
        int height;
        const GUID* container; // none: a BMP written byte by byte
        int tolerance;         // JPEG is lossy
    };
    for (const Case& c : std::vector<Case>{
             {L"small.bmp", 320, 180, nullptr, 0},
             {L"tall.png", 300, 900, &GUID_ContainerFormatPng, 0},
             {L"large.jpg", 1920, 1080, &GUID_ContainerFormatJpeg, 8},
         }) {
        const TopDownPicture picture = testing::quadrant_picture(c.width, c.height, kQuadrants);
        const auto path = folder_.path() / c.name;
        if (c.container != nullptr) {
            ASSERT_EQ(testing::write_encoded_picture(path, *c.container, picture), S_OK);
        } else {
            ASSERT_TRUE(testing::write_bmp(path, picture));
        }

        const Result<std::vector<std::byte>> frame = load_still_picture(path_of(c.name));

        ASSERT_TRUE(frame) << frame.error().text;
        EXPECT_LE(largest_difference(frame.value(), kQuadrants), c.tolerance) << c.name;
    }
}

TEST_F(StillPictureWin, a_file_that_holds_no_picture_is_refused_with_the_cause)
{
    std::ofstream(folder_.path() / L"text.png") << "not a picture at all\n";
    std::ofstream(folder_.path() / L"empty.bmp");
    ASSERT_EQ(testing::write_encoded_picture(folder_.path() / L"whole.png", GUID_ContainerFormatPng,
                                             testing::quadrant_picture(64, 64, kQuadrants)),
              S_OK);
    const std::string whole = tolvek::testing::read_file(folder_.path() / L"whole.png").value();
    std::ofstream(folder_.path() / L"cut.png", std::ios::binary) << whole.substr(0, 60);

    struct Case {
        const wchar_t* name;
        const char* cause; // a part of the error text
    };
    for (const Case& c : std::vector<Case>{
             {L"missing.png", "(0x80070002)"},
             {L"text.png", "not a picture the system can decode (0x88982F50)"},
             {L"empty.bmp", "(0x"},
             {L"cut.png", "(0x"},
         }) {
        const Result<std::vector<std::byte>> frame = load_still_picture(path_of(c.name));
        ASSERT_FALSE(frame) << "read " << c.name;
        EXPECT_NE(frame.error().text.find(c.cause), std::string::npos) << frame.error().text;
    }
}

} // namespace
} // namespace tolvek::vcam
