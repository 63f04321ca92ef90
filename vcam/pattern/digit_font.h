#pragma once

// Large digits of the test pattern, in a 5 x 7 cell font of the feed's own (no system font is
// needed), and the reader that takes them back out of a frame. The reader is how tests and
// tools tell which frame a camera delivered: it needs the picture at its own size and place,
// as the camera passes it on, and refuses any cell that is neither clearly ink nor clearly
// paper and any shape that is no glyph of this font.

#include "frame_canvas.h"

#include <optional>
#include <string>
#include <string_view>

namespace tolvek::vcam {

inline constexpr int kGlyphColumns = 5;
inline constexpr int kGlyphRows = 7;
inline constexpr int kGlyphAdvance = kGlyphColumns + 1; // one empty column between glyphs

// Where a line of text of `length` characters stands, and how large: each font cell is a
// square of `cell` pixels.
struct TextBox {
    int left = 0;
    int top = 0;
    int cell = 1;
    int length = 0;

    [[nodiscard]] constexpr int width() const
    {
        return length > 0 ? (length * kGlyphAdvance - 1) * cell : 0;
    }
    [[nodiscard]] constexpr int height() const { return kGlyphRows * cell; }
};

inline constexpr std::uint32_t kTextInk = rgb(0xFF, 0xFF, 0xFF);
inline constexpr std::uint32_t kTextPaper = rgb(0x00, 0x00, 0x00);

// Draws `text` (its first box.length characters, blanks after its end) in white on black into
// the box. The font has the digits, ':', '.' and the blank; any other character is drawn as a
// blank.
void draw_text(FramePixels frame, const TextBox& box, std::string_view text) noexcept;

// The box.length characters drawn in the box, or nothing when a character cell holds
// anything but a glyph of the font.
[[nodiscard]] std::optional<std::string> read_text(ConstFramePixels frame, const TextBox& box);

} // namespace tolvek::vcam
