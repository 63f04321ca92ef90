#include "digit_font.h"

#include <array>
#include <cstdint>

namespace tolvek::vcam {

namespace {

// One glyph: seven rows of five cells, the leftmost cell in the highest of the five bits.
struct Glyph {
    char character;
    std::array<std::uint8_t, kGlyphRows> rows;
};

constexpr std::array<Glyph, 13> kGlyphs{{
    {' ', {0b00000, 0b00000, 0b00000, 0b00000, 0b00000, 0b00000, 0b00000}},
    {'0', {0b01110, 0b10001, 0b10011, 0b10101, 0b11001, 0b10001, 0b01110}},
    {'1', {0b00100, 0b01100, 0b00100, 0b00100, 0b00100, 0b00100, 0b01110}},
    {'2', {0b01110, 0b10001, 0b00001, 0b00010, 0b00100, 0b01000, 0b11111}},
    {'3', {0b11111, 0b00010, 0b00100, 0b00010, 0b00001, 0b10001, 0b01110}},
    {'4', {0b00010, 0b00110, 0b01010, 0b10010, 0b11111, 0b00010, 0b00010}},
    {'5', {0b11111, 0b10000, 0b11110, 0b00001, 0b00001, 0b10001, 0b01110}},
    {'6', {0b00110, 0b01000, 0b10000, 0b11110, 0b10001, 0b10001, 0b01110}},
    {'7', {0b11111, 0b00001, 0b00010, 0b00100, 0b01000, 0b01000, 0b01000}},
    {'8', {0b01110, 0b10001, 0b10001, 0b01110, 0b10001, 0b10001, 0b01110}},
    {'9', {0b01110, 0b10001, 0b10001, 0b01111, 0b00001, 0b00010, 0b01100}},
    {':', {0b00000, 0b01100, 0b01100, 0b00000, 0b01100, 0b01100, 0b00000}},
    {'.', {0b00000, 0b00000, 0b00000, 0b00000, 0b00000, 0b01100, 0b01100}},
}};

const Glyph& glyph_of(char character) noexcept
{
    for (const Glyph& glyph : kGlyphs) {
        if (glyph.character == character) {
            return glyph;
        }
    }
    return kGlyphs[0];
}

constexpr bool cell_is_inked(const Glyph& glyph, int row, int column)
{
    return (glyph.rows[static_cast<std::size_t>(row)] >> (kGlyphColumns - 1 - column) & 1) != 0;
}

int glyph_left(const TextBox& box, int index)
{
    return box.left + index * kGlyphAdvance * box.cell;
}

// Ink or paper, judged by the green part at the cell's centre with a wide margin, so that a
// picture whose colours changed a little on the way still reads; anything in between is
// neither.
std::optional<bool> read_cell(ConstFramePixels frame, const TextBox& box, int index, int row,
                              int column)
{
    const int x = glyph_left(box, index) + column * box.cell + box.cell / 2;
    const int y = box.top + row * box.cell + box.cell / 2;
    const std::uint32_t green = pixel_at(frame, x, y) >> 8 & 0xFF;
    if (green >= 0xC0) {
        return true;
    }
    if (green <= 0x40) {
        return false;
    }
    return std::nullopt;
}

} // namespace

void draw_text(FramePixels frame, const TextBox& box, std::string_view text) noexcept
{
    fill_rectangle(frame, {box.left, box.top, box.width(), box.height()}, kTextPaper);
    for (int index = 0; index < box.length; ++index) {
        const auto position = static_cast<std::size_t>(index);
        const Glyph& glyph = glyph_of(position < text.size() ? text[position] : ' ');
        for (int row = 0; row < kGlyphRows; ++row) {
            for (int column = 0; column < kGlyphColumns; ++column) {
                if (cell_is_inked(glyph, row, column)) {
                    fill_rectangle(frame,
                                   {glyph_left(box, index) + column * box.cell,
                                    box.top + row * box.cell, box.cell, box.cell},
                                   kTextInk);
                }
            }
        }
    }
}

std::optional<std::string> read_text(ConstFramePixels frame, const TextBox& box)
{
    std::string text;
    for (int index = 0; index < box.length; ++index) {
        std::array<std::uint8_t, kGlyphRows> rows{};
        for (int row = 0; row < kGlyphRows; ++row) {
            for (int column = 0; column < kGlyphColumns; ++column) {
                const std::optional<bool> inked = read_cell(frame, box, index, row, column);
                if (!inked) {
                    return std::nullopt;
                }
                rows[static_cast<std::size_t>(row)] |=
                    static_cast<std::uint8_t>(*inked << (kGlyphColumns - 1 - column));
            }
        }
        const Glyph* match = nullptr;
        for (const Glyph& glyph : kGlyphs) {
            if (glyph.rows == rows) {
                match = &glyph;
            }
        }
        if (match == nullptr) {
            return std::nullopt;
        }
        text.push_back(match->character);
    }
    return text;
}

} // namespace tolvek::vcam
