#pragma once

// The camera's one picture format, shared by the media type the filter offers, the reader
// that fills samples and any producer that writes frames: 1280 x 720 pixels of 32-bit RGB,
// rows bottom-up, 30 frames a second.

#include <cstddef>
#include <cstdint>

namespace tolvek::vcam {

inline constexpr std::int32_t kFrameWidth = 1280;
inline constexpr std::int32_t kFrameHeight = 720; // positive: the first row is the bottom one
inline constexpr std::uint16_t kBitsPerPixel = 32;
inline constexpr std::size_t kBytesPerPixel = 4; // blue, green, red, unused, in memory order
inline constexpr std::size_t kFrameStride = 5120;
inline constexpr std::size_t kFrameSize = 3'686'400;
inline constexpr std::uint32_t kFrameRate = 30;
// One frame lasts 333,333 units of 100 ns.
inline constexpr std::int64_t kFrameInterval = 333'333;
inline constexpr std::uint32_t kBitRate = 884'736'000;

// The dark picture shown when no fresh frame is available: bytes 1C 1A 18 FF in memory order.
inline constexpr std::uint32_t kFillColour = 0xFF18'1A1C;

static_assert(kFrameStride == kFrameWidth * kBytesPerPixel, "rows follow each other without gaps");
static_assert(kFrameSize == kFrameStride * kFrameHeight);
static_assert(kBitRate == kFrameSize * 8 * kFrameRate);

} // namespace tolvek::vcam
