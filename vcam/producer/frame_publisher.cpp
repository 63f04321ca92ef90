#include "frame_publisher.h"

#include "frame_section_layout.h"
#include "shared_memory.h"

#include <cstring>

namespace tolvek::vcam {

namespace {

std::atomic_ref<std::uint32_t> slot_sequence(std::byte* section, std::uint32_t slot) noexcept
{
    return shared_field<std::uint32_t>(section, slot_sequence_offset(slot));
}

std::atomic_ref<std::uint32_t> latest_slot(std::byte* section) noexcept
{
    return shared_field<std::uint32_t>(section, kLatestSlotOffset);
}

std::atomic_ref<std::uint64_t> frame_counter_field(std::byte* section) noexcept
{
    return shared_field<std::uint64_t>(section, kFrameCounterOffset);
}

bool has_valid_header(std::byte* section) noexcept
{
    return shared_field<std::uint32_t>(section, kFrameMagicOffset).load() == kFrameSectionMagic &&
           shared_field<std::uint32_t>(section, kFrameVersionOffset).load() ==
               kFrameSectionVersion &&
           latest_slot(section).load() < kFrameSlotCount;
}

} // namespace

FramePublisher::FramePublisher(std::byte* section) noexcept : section_(section)
{
    if (has_valid_header(section_)) {
        return;
    }
    // A reader checks the magic before anything else, so it goes in last: until then the
    // section reads as absent.
    shared_field<std::uint32_t>(section_, kFrameMagicOffset).store(0);
    shared_field<std::uint32_t>(section_, kFrameVersionOffset).store(kFrameSectionVersion);
    latest_slot(section_).store(0);
    frame_counter_field(section_).store(0);
    for (std::uint32_t slot = 0; slot < kFrameSlotCount; ++slot) {
        slot_sequence(section_, slot).store(0);
    }
    shared_field<std::uint32_t>(section_, kFrameMagicOffset)
        .store(kFrameSectionMagic, std::memory_order_release);
}

void FramePublisher::publish(ConstFramePixels pixels) noexcept
{
    publish_with([&](FramePixels slot) { std::memcpy(slot.data(), pixels.data(), kFrameSize); });
}

std::uint64_t FramePublisher::frame_counter() const noexcept
{
    return frame_counter_field(section_).load();
}

std::uint32_t FramePublisher::begin_frame() noexcept
{
    // Never the slot that readers are told to copy: a reader retrying at once would meet an
    // odd sequence every time and show the fill colour.
    const std::uint32_t slot = (latest_slot(section_).load() + 1) % kFrameSlotCount;
    auto sequence = slot_sequence(section_, slot);
    // Already odd when an earlier frame was abandoned half-drawn (a producer that died, or a
    // draw that threw): it stays odd, and the end of this frame makes it even again.
    if (const std::uint32_t value = sequence.load(std::memory_order_relaxed); value % 2 == 0) {
        sequence.store(value + 1, std::memory_order_relaxed);
    }
    fence_before_racy_write();
    return slot;
}

void FramePublisher::end_frame(std::uint32_t slot) noexcept
{
    auto sequence = slot_sequence(section_, slot);
    sequence.store(sequence.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    // The slot first, then the counter: a reader that sees the new counter also sees the slot
    // that holds its frame.
    latest_slot(section_).store(slot, std::memory_order_release);
    std::uint64_t next = frame_counter_field(section_).load(std::memory_order_relaxed) + 1;
    if (next == 0) {
        next = 1; // 0 means "nothing published yet"
    }
    frame_counter_field(section_).store(next, std::memory_order_release);
}

FramePixels FramePublisher::slot_pixels(std::uint32_t slot) const noexcept
{
    return FramePixels(section_ + slot_pixels_offset(slot), kFrameSize);
}

} // namespace tolvek::vcam
