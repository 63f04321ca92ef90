// The feed's digits: what is drawn reads back, nothing else does, and nothing is drawn
// outside the text's box.

#include "digit_font.h"

#include <gtest/gtest.h>

#include <vector>

namespace tolvek::vcam {
namespace {

constexpr std::uint32_t kGrey = rgb(0x80, 0x80, 0x80);
constexpr std::uint32_t kOutside = rgb(0x12, 0x34, 0x56);

class DigitFontTest : public ::testing::Test {
protected:
    FramePixels pixels() { return FramePixels(frame.data(), kFrameSize); }

    std::vector<std::byte> frame = std::vector<std::byte>(kFrameSize);
};

TEST_F(DigitFontTest, drawn_text_reads_back)
{
    struct Case {
        TextBox box;
        std::string text;
        std::string read;
    };
    for (const Case& c : std::vector<Case>{
             {{0, 0, 1, 10}, "0123456789", "0123456789"},
             {{285, 600, 10, 12}, "23:59:07.042", "23:59:07.042"},
             {{1000, 100, 3, 8}, "      42", "      42"},
             {{50, 50, 2, 4}, "7", "7   "},    // blanks after the end
             {{50, 50, 2, 3}, "12345", "123"}, // cut at the box's length
             {{50, 50, 4, 3}, "A-1", "  1"},   // outside the font: blanks
         }) {
        draw_text(pixels(), c.box, c.text);
        EXPECT_EQ(read_text(pixels(), c.box), c.read) << c.text;
    }
}

TEST_F(DigitFontTest, nothing_is_drawn_outside_the_box)
{
    const TextBox box{100, 200, 6, 5};
    fill_rectangle(pixels(), {0, 0, kFrameWidth, kFrameHeight}, kOutside);

    draw_text(pixels(), box, "88:88");

    for (int y = box.top - 1; y <= box.top + box.height(); ++y) {
        for (int x = box.left - 1; x <= box.left + box.width(); ++x) {
            const bool inside = x >= box.left && x < box.left + box.width() && y >= box.top &&
                                y < box.top + box.height();
            ASSERT_EQ(pixel_at(pixels(), x, y) == kOutside, !inside) << x << "," << y;
        }
    }
}

// A reader that took whatever it met for a digit would read a number from a picture that
// carries none, or from a torn one.
TEST_F(DigitFontTest, a_cell_that_is_neither_ink_nor_paper_or_no_glyph_reads_as_nothing)
{
    const TextBox box{40, 40, 10, 2};
    struct Case {
        const char* what;
        PictureRectangle damage;
        std::uint32_t colour;
    };
    for (const Case& c : std::vector<Case>{
             // The centre of the first glyph's top-left cell, grey.
             {"grey cell", {40, 40, 10, 10}, kGrey},
             // The top-left cell of '8' inked: no glyph of the font looks like that.
             {"unknown glyph", {40, 40, 10, 10}, kTextInk},
             // The upper half of the '8' blank, as in a picture torn across it.
             {"half a glyph", {40, 40, 50, 35}, kTextPaper},
         }) {
        draw_text(pixels(), box, "80");
        ASSERT_EQ(read_text(pixels(), box), "80");
        fill_rectangle(pixels(), c.damage, c.colour);
        EXPECT_EQ(read_text(pixels(), box), std::nullopt) << c.what;
    }
}

} // namespace
} // namespace tolvek::vcam
