#pragma once

// Fills the camera's sample buffers from the producer's frame section
// "Local\TolvekVcamFrames", or with the fill colour when there is no fresh, complete frame.
// One reader belongs to one streaming worker; nothing else touches it.

#include "section_view.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace tolvek::vcam {

// A high-resolution monotonic clock: the reader judges freshness by it, and the worker paces
// by it.
using MonotonicClock = std::chrono::steady_clock;
using MonotonicTime = MonotonicClock::time_point;

// What a sample ended up holding. The worker does not look at it; tests and diagnostics do.
enum class SampleContent {
    frame,                  // a copy of the newest complete frame
    fill_no_section,        // the section is not open (absent, invalid, or tried too recently)
    fill_small_buffer,      // the buffer cannot hold a whole frame
    fill_nothing_published, // the frame counter is still 0
    fill_bad_latest_slot,   // "latest slot" names no slot
    fill_slot_busy,         // every attempt met a slot that was being written
    fill_stale,             // no new frame for 100 ms or more
};

struct FilledSample {
    std::size_t data_length; // min(size, frame size): the sample's actual data length
    SampleContent content;
};

class FrameReader {
public:
    static constexpr std::chrono::milliseconds kOpenInterval{500};
    static constexpr std::chrono::milliseconds kStaleAfter{100};
    static constexpr int kCopyAttempts = 4;

    // `now` is the time of creation: the first fill already tries to open the section.
    FrameReader(SectionOpener open_section, MonotonicTime now);

    // Fills the first min(size, frame size) bytes of `destination`: with one copy of the
    // newest complete frame, straight from the section, or with the fill colour. Never fails.
    FilledSample fill_sample(std::byte* destination, std::size_t size, MonotonicTime now) noexcept;

    [[nodiscard]] bool is_open() const noexcept { return view_ != nullptr; }

    // Unmaps the view and closes the section; also done when the reader is destroyed.
    void close() noexcept { view_.reset(); }

private:
    bool try_open(MonotonicTime now) noexcept;
    // Copies the newest published frame under the slot sequence protocol; anything but
    // `frame` says why the copy cannot be used.
    SampleContent copy_newest_frame(std::byte* destination) const noexcept;

    SectionOpener open_section_;
    std::unique_ptr<SectionView> view_;
    MonotonicTime last_change_time_;
    MonotonicTime next_open_attempt_;
    std::uint64_t last_seen_counter_ = 0;
};

// Writes the fill colour into every whole 4-byte pixel of the first `length` bytes, 16 bytes
// at a time where it can; a remainder of 1 to 3 bytes is left as it was.
void fill_with_fill_colour(std::byte* destination, std::size_t length) noexcept;

} // namespace tolvek::vcam
