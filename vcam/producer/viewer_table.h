#pragma once

// The producer's side of the viewer record "Local\TolvekVcamViewers": it creates the record
// and counts the cameras that are streaming now from their heartbeats. A camera that
// crashed never gives its slot back, so a slot whose heartbeat has gone stale is freed here;
// otherwise eight such leaks would fill the table for good.

#include <cstddef>
#include <cstdint>

namespace tolvek::vcam {

class ViewerTable {
public:
    // A streaming camera writes its heartbeat 30 times a second. It pauses while the
    // downstream filter holds every buffer (a paused renderer does), so a slot is judged
    // dead only after a generous silence.
    static constexpr std::uint64_t kDefaultStaleAfterMs = 3000;

    // Takes over a writable view of at least the record's size. A record with a valid header
    // is continued (its id counter and held slots stay); anything else is initialised, the
    // magic written last.
    explicit ViewerTable(std::byte* record) noexcept;

    // The number of slots whose holder wrote a heartbeat less than `stale_after_ms` before
    // `now_ms` (GetTickCount64 on Windows). Slots with an older heartbeat are freed, unless
    // their owner changed meanwhile.
    [[nodiscard]] std::uint32_t
    count_live_viewers(std::uint64_t now_ms,
                       std::uint64_t stale_after_ms = kDefaultStaleAfterMs) noexcept;

private:
    std::byte* record_;
};

} // namespace tolvek::vcam
