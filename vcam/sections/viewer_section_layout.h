#pragma once

// Layout of the shared section "Local\TolvekVcamViewers", created by the producer, in which
// every streaming camera keeps one slot with a heartbeat so that the producer can tell that
// somebody is watching. All integers are little-endian and naturally aligned.
//
//   offset 0    header, 64 bytes: magic "TKVW", version 1, id counter at 16
//   offset 64   eight slots of 64 bytes: owner (0 = free, else the holder's viewer id) and
//               heartbeat (the holder's last GetTickCount64 value)
//
// The record is created committed (not SEC_RESERVE), or cameras treat it as absent. The id
// counter changes only by atomic fetch-and-add, owners only by compare-and-exchange; a slot
// is given back by setting its owner to 0, which is therefore nobody's id.

#include "shared_memory.h"

#include <cstddef>
#include <cstdint>

namespace tolvek::vcam {

inline constexpr wchar_t kViewerSectionName[] = L"Local\\TolvekVcamViewers";

inline constexpr std::uint32_t kViewerSectionMagic = 0x5756'4B54; // "TKVW"
inline constexpr std::uint32_t kViewerSectionVersion = 1;

inline constexpr std::size_t kViewerHeaderSize = 64;
inline constexpr std::size_t kViewerMagicOffset = 0;      // 32-bit
inline constexpr std::size_t kViewerVersionOffset = 4;    // 32-bit
inline constexpr std::size_t kViewerIdCounterOffset = 16; // 64-bit

inline constexpr std::uint32_t kViewerSlotCount = 8;
inline constexpr std::size_t kViewerSlotSize = 64;
inline constexpr std::size_t kSlotOwnerOffset = 0;     // 64-bit, within a slot
inline constexpr std::size_t kSlotHeartbeatOffset = 8; // 64-bit, within a slot
inline constexpr std::size_t kViewerSectionSize =
    kViewerHeaderSize + kViewerSlotCount * kViewerSlotSize;

static_assert(kViewerSectionSize == 576);

constexpr std::size_t viewer_slot_offset(std::uint32_t slot)
{
    return kViewerHeaderSize + slot * kViewerSlotSize;
}

constexpr std::size_t viewer_slot_owner_offset(std::uint32_t slot)
{
    return viewer_slot_offset(slot) + kSlotOwnerOffset;
}

constexpr std::size_t viewer_slot_heartbeat_offset(std::uint32_t slot)
{
    return viewer_slot_offset(slot) + kSlotHeartbeatOffset;
}

// True when every slot's owner and heartbeat can be shared by processes of either bitness.
constexpr bool viewer_slots_are_shareable()
{
    for (std::uint32_t slot = 0; slot < kViewerSlotCount; ++slot) {
        if (!is_shareable_field<std::uint64_t>(viewer_slot_owner_offset(slot)) ||
            !is_shareable_field<std::uint64_t>(viewer_slot_heartbeat_offset(slot))) {
            return false;
        }
    }
    return true;
}

// One contract for 32-bit and 64-bit processes on either side: the offsets are fixed numbers,
// the same in both builds, and every field sits where both bitnesses access it in one
// lock-free load, store, fetch-and-add or compare-and-exchange.
static_assert(viewer_slot_owner_offset(7) == 512 && viewer_slot_heartbeat_offset(7) == 520);
static_assert(is_shareable_field<std::uint32_t>(kViewerMagicOffset));
static_assert(is_shareable_field<std::uint32_t>(kViewerVersionOffset));
static_assert(is_shareable_field<std::uint64_t>(kViewerIdCounterOffset));
static_assert(viewer_slots_are_shareable());

} // namespace tolvek::vcam
