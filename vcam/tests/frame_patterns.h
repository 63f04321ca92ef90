#pragma once

// Test frames that differ from each other in every pixel and within themselves from pixel to
// pixel, so that a copy that mixes two frames, or is shifted, never passes for a whole one.
// The first pixel names the pattern.

#include "camera_format.h"
#include "shared_memory.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tolvek::vcam::testing {

namespace detail {

inline constexpr std::uint32_t kPatternStep = 0x0100'0193; // odd, so it has an inverse
inline constexpr std::uint32_t kPatternBase = 0x5BD1'E995;

constexpr std::uint32_t inverse_of(std::uint32_t odd)
{
    std::uint32_t inverse = odd; // Newton's iteration doubles the correct low bits each step
    for (int step = 0; step < 5; ++step) {
        inverse *= 2 - odd * inverse;
    }
    return inverse;
}
static_assert(kPatternStep * inverse_of(kPatternStep) == 1);

constexpr std::uint32_t pixel_of(std::uint32_t pattern, std::uint32_t index)
{
    return (index * 0x9E37'79B1u) ^ (pattern * kPatternStep + kPatternBase);
}

} // namespace detail

// Writes pattern `pattern` into a whole frame.
inline void draw_pattern(std::byte* frame, std::uint32_t pattern)
{
    for (std::uint32_t index = 0; index < kFrameSize / kBytesPerPixel; ++index) {
        const std::uint32_t pixel = detail::pixel_of(pattern, index);
        std::memcpy(frame + index * kBytesPerPixel, &pixel, sizeof pixel);
    }
}

[[nodiscard]] inline std::vector<std::byte> pattern_frame(std::uint32_t pattern)
{
    std::vector<std::byte> frame(kFrameSize);
    draw_pattern(frame.data(), pattern);
    return frame;
}

// The pattern a whole frame of that pattern would start with.
[[nodiscard]] inline std::uint32_t pattern_named_by(const std::byte* frame)
{
    std::uint32_t first = 0;
    std::memcpy(&first, frame, sizeof first);
    return (first - detail::kPatternBase) * detail::inverse_of(detail::kPatternStep);
}

// True when every pixel of `frame` is that of pattern `pattern`.
[[nodiscard]] inline bool is_whole_pattern(const std::byte* frame, std::uint32_t pattern)
{
    for (std::uint32_t index = 0; index < kFrameSize / kBytesPerPixel; ++index) {
        const std::uint32_t expected = detail::pixel_of(pattern, index);
        if (std::memcmp(frame + index * kBytesPerPixel, &expected, sizeof expected) != 0) {
            return false;
        }
    }
    return true;
}

// memcmp of two buffers that only the calling thread reads and writes now. Under
// ThreadSanitizer a range check of a whole frame costs milliseconds and could find nothing
// here, so it is switched off for this one call; that keeps a 10,000-sample stress test
// within minutes there.
[[nodiscard]] inline bool same_bytes(const std::byte* a, const std::byte* b, std::size_t size)
{
#if defined(TOLVEK_THREAD_SANITIZER)
    AnnotateIgnoreReadsBegin(__FILE__, __LINE__);
#endif
    const bool same = std::memcmp(a, b, size) == 0;
#if defined(TOLVEK_THREAD_SANITIZER)
    AnnotateIgnoreReadsEnd(__FILE__, __LINE__);
#endif
    return same;
}

// True when the first `pixels` pixels of `buffer` are the fill colour.
[[nodiscard]] inline bool is_fill_colour(const std::byte* buffer, std::size_t pixels)
{
    for (std::size_t index = 0; index < pixels; ++index) {
        std::uint32_t pixel = 0;
        std::memcpy(&pixel, buffer + index * kBytesPerPixel, sizeof pixel);
        if (pixel != kFillColour) {
            return false;
        }
    }
    return true;
}

} // namespace tolvek::vcam::testing
