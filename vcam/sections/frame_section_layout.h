#pragma once

// Layout of the shared section "Local\TolvekVcamFrames", the contract between the camera,
// which only reads it, and the producer, which creates and writes it. All integers are
// little-endian and naturally aligned.
//
//   offset 0    header, 64 bytes: magic "TKV1", version 1, latest slot, frame counter
//   offset 64   three frame slots of 3,686,464 bytes: a 64-byte slot header whose first
//               word is the sequence (odd while the pixels change), then one frame
//
// The writer's rules: it creates the section committed (not SEC_RESERVE) and at least as
// large as the layout, or readers treat it as absent. It changes the pixels of a slot other
// than the one "latest slot" names, making that slot's sequence odd before and a new even
// value after; then it points "latest slot" at it and changes the frame counter, never back
// to 0.

#include "camera_format.h"
#include "shared_memory.h"

#include <cstddef>
#include <cstdint>

namespace tolvek::vcam {

inline constexpr wchar_t kFrameSectionName[] = L"Local\\TolvekVcamFrames";

inline constexpr std::uint32_t kFrameSectionMagic = 0x3156'4B54; // "TKV1"
inline constexpr std::uint32_t kFrameSectionVersion = 1;

inline constexpr std::size_t kFrameHeaderSize = 64;
inline constexpr std::size_t kFrameMagicOffset = 0;    // 32-bit
inline constexpr std::size_t kFrameVersionOffset = 4;  // 32-bit
inline constexpr std::size_t kLatestSlotOffset = 24;   // 32-bit
inline constexpr std::size_t kFrameCounterOffset = 32; // 64-bit

inline constexpr std::uint32_t kFrameSlotCount = 3;
inline constexpr std::size_t kFrameSlotHeaderSize = 64;
inline constexpr std::size_t kSlotSequenceOffset = 0; // 32-bit, within a slot
inline constexpr std::size_t kFrameSlotSize = kFrameSlotHeaderSize + kFrameSize;
inline constexpr std::size_t kFrameSectionSize =
    kFrameHeaderSize + kFrameSlotCount * kFrameSlotSize;

static_assert(kFrameSlotSize == 3'686'464);
static_assert(kFrameSectionSize == 11'059'456);

constexpr std::size_t frame_slot_offset(std::uint32_t slot)
{
    return kFrameHeaderSize + slot * kFrameSlotSize;
}

constexpr std::size_t slot_sequence_offset(std::uint32_t slot)
{
    return frame_slot_offset(slot) + kSlotSequenceOffset;
}

constexpr std::size_t slot_pixels_offset(std::uint32_t slot)
{
    return frame_slot_offset(slot) + kFrameSlotHeaderSize;
}

// One contract for 32-bit and 64-bit processes on either side: the offsets are fixed numbers,
// the same in both builds, and every field sits where both bitnesses access it in one
// lock-free load or store.
static_assert(kFrameCounterOffset + sizeof(std::uint64_t) <= kFrameHeaderSize);
static_assert(frame_slot_offset(1) == 3'686'528 && frame_slot_offset(2) == 7'372'992);
static_assert(slot_pixels_offset(0) == 128 && slot_pixels_offset(2) == 7'373'056);
static_assert(is_shareable_field<std::uint32_t>(kFrameMagicOffset));
static_assert(is_shareable_field<std::uint32_t>(kFrameVersionOffset));
static_assert(is_shareable_field<std::uint32_t>(kLatestSlotOffset));
static_assert(is_shareable_field<std::uint64_t>(kFrameCounterOffset));
static_assert(is_shareable_field<std::uint32_t>(slot_sequence_offset(0)) &&
              is_shareable_field<std::uint32_t>(slot_sequence_offset(1)) &&
              is_shareable_field<std::uint32_t>(slot_sequence_offset(2)));

} // namespace tolvek::vcam
