#include "frame_reader.h"

#include "camera_format.h"
#include "frame_section_layout.h"
#include "shared_memory.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace tolvek::vcam {

namespace {

bool has_valid_header(const std::byte* section) noexcept
{
    return load_shared<std::uint32_t>(section, kFrameMagicOffset, std::memory_order_acquire) ==
               kFrameSectionMagic &&
           load_shared<std::uint32_t>(section, kFrameVersionOffset, std::memory_order_relaxed) ==
               kFrameSectionVersion;
}

std::uint64_t load_frame_counter(const std::byte* section) noexcept
{
    // Acquire: a counter the writer changed after publishing a slot makes that slot's index
    // visible too.
    return load_shared<std::uint64_t>(section, kFrameCounterOffset, std::memory_order_acquire);
}

} // namespace

void fill_with_fill_colour(std::byte* destination, std::size_t length) noexcept
{
    constexpr std::array<std::uint32_t, 4> kFourPixels{kFillColour, kFillColour, kFillColour,
                                                       kFillColour};
    const std::size_t pixel_bytes = length - length % kBytesPerPixel;
    std::size_t offset = 0;
    for (; offset + sizeof kFourPixels <= pixel_bytes; offset += sizeof kFourPixels) {
        std::memcpy(destination + offset, kFourPixels.data(), sizeof kFourPixels);
    }
    for (; offset < pixel_bytes; offset += kBytesPerPixel) {
        std::memcpy(destination + offset, kFourPixels.data(), kBytesPerPixel);
    }
}

FrameReader::FrameReader(SectionOpener open_section, MonotonicTime now)
    : open_section_(std::move(open_section)), last_change_time_(now), next_open_attempt_(now)
{
}

FilledSample FrameReader::fill_sample(std::byte* destination, std::size_t size,
                                      MonotonicTime now) noexcept
{
    const std::size_t length = std::min(size, kFrameSize);
    const auto fill = [&](SampleContent why) {
        fill_with_fill_colour(destination, length);
        return FilledSample{length, why};
    };

    if (!is_open() && !try_open(now)) {
        return fill(SampleContent::fill_no_section);
    }
    if (size < kFrameSize) {
        return fill(SampleContent::fill_small_buffer);
    }
    if (load_frame_counter(view_->base()) == 0) {
        return fill(SampleContent::fill_nothing_published);
    }
    if (const SampleContent copied = copy_newest_frame(destination);
        copied != SampleContent::frame) {
        return fill(copied);
    }

    // Read after the copy: a counter that moved on since the last new frame makes this one
    // new as well, even if the copy is one frame behind; the next sample catches up.
    const std::uint64_t counter = load_frame_counter(view_->base());
    if (counter != last_seen_counter_) {
        last_seen_counter_ = counter;
        last_change_time_ = now;
        return {length, SampleContent::frame};
    }
    // A clock that went backwards counts as no time passed.
    const auto unchanged_for = std::max(now - last_change_time_, MonotonicClock::duration::zero());
    if (unchanged_for < kStaleAfter) {
        return {length, SampleContent::frame};
    }
    return fill(SampleContent::fill_stale);
}

bool FrameReader::try_open(MonotonicTime now) noexcept
{
    if (now < next_open_attempt_) {
        return false;
    }
    next_open_attempt_ = now + kOpenInterval;
    std::unique_ptr<SectionView> view = open_section_();
    if (view == nullptr || !has_valid_header(view->base())) {
        return false; // an invalid section is unmapped and closed again right here
    }
    view_ = std::move(view);
    last_change_time_ = now;
    return true;
}

SampleContent FrameReader::copy_newest_frame(std::byte* destination) const noexcept
{
    const std::byte* section = view_->base();
    for (int attempt = 0; attempt < kCopyAttempts; ++attempt) {
        const auto slot =
            load_shared<std::uint32_t>(section, kLatestSlotOffset, std::memory_order_acquire);
        if (slot >= kFrameSlotCount) {
            return SampleContent::fill_bad_latest_slot;
        }
        const std::size_t sequence_offset = slot_sequence_offset(slot);
        const auto before =
            load_shared<std::uint32_t>(section, sequence_offset, std::memory_order_acquire);
        if (before % 2 != 0) {
            continue; // the writer is inside this slot; try again at once
        }
        copy_racing_writer(destination, section + slot_pixels_offset(slot), kFrameSize);
        fence_after_racy_read();
        if (load_shared<std::uint32_t>(section, sequence_offset, std::memory_order_relaxed) ==
            before) {
            return SampleContent::frame;
        }
    }
    return SampleContent::fill_slot_busy;
}

} // namespace tolvek::vcam
