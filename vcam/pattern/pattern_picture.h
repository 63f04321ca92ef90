#pragma once

// The feed's moving test picture, 1280 x 720: colour bars across the upper half, a marker
// that sweeps from side to side below them, and in large digits the frame number and the
// time of day. The frame number can be read back from a delivered picture, which is how a
// test proves that pictures travel through the camera whole and in order.

#include "digit_font.h"
#include "frame_canvas.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace tolvek::vcam {

// The seven bars from the left, at 75 %: white, yellow, cyan, green, magenta, red, blue.
inline constexpr std::array<std::uint32_t, 7> kBarColours{
    rgb(0xBF, 0xBF, 0xBF), rgb(0xBF, 0xBF, 0x00), rgb(0x00, 0xBF, 0xBF), rgb(0x00, 0xBF, 0x00),
    rgb(0xBF, 0x00, 0xBF), rgb(0xBF, 0x00, 0x00), rgb(0x00, 0x00, 0xBF),
};
inline constexpr int kBarsHeight = 360;

// Below the bars, black, so that a working feed never looks like the camera's dark fill.
inline constexpr std::uint32_t kPatternBackground = kTextPaper;

// The marker: a white square whose left edge moves one step a frame, from the left edge of
// the picture to the right one and back, in two seconds each way.
inline constexpr std::uint32_t kMarkerColour = rgb(0xFF, 0xFF, 0xFF);
inline constexpr int kMarkerSize = 64;
inline constexpr int kMarkerTop = 388;
inline constexpr int kMarkerStepsPerSweep = 60;

// The frame number, right-aligned in eight digits (counted modulo 100,000,000), and the time
// as "HH:MM:SS.mmm".
inline constexpr int kFrameNumberDigits = 8;
inline constexpr std::uint64_t kFrameNumberModulus = 100'000'000;
inline constexpr TextBox kFrameNumberBox{405, 490, 10, kFrameNumberDigits};
inline constexpr TextBox kTimeBox{285, 600, 10, 12};

struct TimeOfDay {
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// "HH:MM:SS.mmm"; a part out of its range is shown as its last two (three) digits.
[[nodiscard]] std::string time_text(const TimeOfDay& time);

// The left edge of the marker in frame `frame_number`.
[[nodiscard]] int marker_left(std::uint64_t frame_number) noexcept;

// Draws the whole picture of frame `frame_number` at `time`.
void draw_pattern_picture(FramePixels frame, std::uint64_t frame_number,
                          const TimeOfDay& time) noexcept;

// The frame number drawn in `frame` (modulo 100,000,000), or nothing when the picture does
// not carry one: not the test picture, or not whole.
[[nodiscard]] std::optional<std::uint64_t> read_frame_number(ConstFramePixels frame);

} // namespace tolvek::vcam
