#pragma once

// The camera's entry in the producer's viewer record "Local\TolvekVcamViewers": one slot
// claimed when streaming starts, a heartbeat written at every sample, the slot given back
// when streaming ends. One registration belongs to one streaming worker.

#include "section_view.h"

#include <cstdint>
#include <memory>

namespace tolvek::vcam {

class ViewerRegistration {
public:
    // Open and claim attempts are at least this far apart, in milliseconds.
    static constexpr std::uint64_t kAttemptInterval = 500;

    explicit ViewerRegistration(SectionOpener open_section);
    ~ViewerRegistration() { release(); }
    ViewerRegistration(const ViewerRegistration&) = delete;
    ViewerRegistration& operator=(const ViewerRegistration&) = delete;

    // Called once per sample with the system tick count (GetTickCount64 on Windows): keeps
    // the held slot's heartbeat fresh, or opens the record and claims a slot when the last
    // attempt is long enough ago. Never fails; without the record the camera streams alone.
    void refresh(std::uint64_t now_ms) noexcept;

    // Gives the slot back if this registration still owns it (a slot meanwhile given to
    // another id is left alone), then unmaps and closes the record.
    void release() noexcept;

    [[nodiscard]] bool is_open() const noexcept { return view_ != nullptr; }
    [[nodiscard]] bool holds_slot() const noexcept { return holds_slot_; }
    [[nodiscard]] std::uint32_t slot_index() const noexcept { return slot_index_; }
    [[nodiscard]] std::uint64_t viewer_id() const noexcept { return viewer_id_; }

private:
    bool try_open() noexcept;
    void claim_slot(std::uint64_t now_ms) noexcept;

    SectionOpener open_section_;
    std::unique_ptr<SectionView> view_;
    bool holds_slot_ = false;
    std::uint32_t slot_index_ = 0;
    std::uint64_t viewer_id_ = 0;
    std::uint64_t next_attempt_ = 0; // tick count before which nothing is tried
};

} // namespace tolvek::vcam
