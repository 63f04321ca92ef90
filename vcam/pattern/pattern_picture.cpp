#include "pattern_picture.h"

#include <cstdio>

namespace tolvek::vcam {

namespace {

// One row of the bars, made once: every row of the bars is a copy of it.
const std::array<std::uint32_t, kFrameWidth>& bars_row() noexcept
{
    static const std::array<std::uint32_t, kFrameWidth> row = [] {
        std::array<std::uint32_t, kFrameWidth> pixels{};
        for (int x = 0; x < kFrameWidth; ++x) {
            pixels[static_cast<std::size_t>(x)] =
                kBarColours[static_cast<std::size_t>(x) * kBarColours.size() / kFrameWidth];
        }
        return pixels;
    }();
    return row;
}

int last_digits(int value, int modulus)
{
    const int rest = value % modulus;
    return rest < 0 ? rest + modulus : rest;
}

} // namespace

std::string time_text(const TimeOfDay& time)
{
    char text[64]; // "HH:MM:SS.mmm" needs 13; the compiler cannot see the ranges
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", last_digits(time.hour, 100),
                  last_digits(time.minute, 100), last_digits(time.second, 100),
                  last_digits(time.millisecond, 1000));
    return text;
}

int marker_left(std::uint64_t frame_number) noexcept
{
    constexpr std::uint64_t kPeriod = 2 * kMarkerStepsPerSweep;
    const auto phase = static_cast<int>(frame_number % kPeriod);
    const int step = phase <= kMarkerStepsPerSweep ? phase : static_cast<int>(kPeriod) - phase;
    return step * (kFrameWidth - kMarkerSize) / kMarkerStepsPerSweep;
}

void draw_pattern_picture(FramePixels frame, std::uint64_t frame_number,
                          const TimeOfDay& time) noexcept
{
    fill_rows(frame, 0, kBarsHeight, bars_row().data());
    fill_rectangle(frame, {0, kBarsHeight, kFrameWidth, kFrameHeight - kBarsHeight},
                   kPatternBackground);
    fill_rectangle(frame, {marker_left(frame_number), kMarkerTop, kMarkerSize, kMarkerSize},
                   kMarkerColour);

    char number[24];
    std::snprintf(number, sizeof number, "%*llu", kFrameNumberDigits,
                  static_cast<unsigned long long>(frame_number % kFrameNumberModulus));
    draw_text(frame, kFrameNumberBox, number);
    draw_text(frame, kTimeBox, time_text(time));
}

std::optional<std::uint64_t> read_frame_number(ConstFramePixels frame)
{
    const std::optional<std::string> text = read_text(frame, kFrameNumberBox);
    if (!text) {
        return std::nullopt;
    }
    // Blanks first, then at least one digit and nothing else, as draw_pattern_picture writes.
    const std::size_t first_digit = text->find_first_not_of(' ');
    if (first_digit == std::string::npos) {
        return std::nullopt;
    }
    std::uint64_t number = 0;
    for (std::size_t index = first_digit; index < text->size(); ++index) {
        const char digit = (*text)[index];
        if (digit < '0' || digit > '9') {
            return std::nullopt;
        }
        number = number * 10 + static_cast<std::uint64_t>(digit - '0');
    }
    return number;
}

} // namespace tolvek::vcam
