#include "viewer_registration.h"

#include "shared_memory.h"
#include "viewer_section_layout.h"

#include <utility>

namespace tolvek::vcam {

namespace {

std::atomic_ref<std::uint64_t> slot_owner(std::byte* record, std::uint32_t slot) noexcept
{
    return shared_field<std::uint64_t>(record, viewer_slot_owner_offset(slot));
}

std::atomic_ref<std::uint64_t> slot_heartbeat(std::byte* record, std::uint32_t slot) noexcept
{
    return shared_field<std::uint64_t>(record, viewer_slot_heartbeat_offset(slot));
}

} // namespace

ViewerRegistration::ViewerRegistration(SectionOpener open_section)
    : open_section_(std::move(open_section))
{
}

void ViewerRegistration::refresh(std::uint64_t now_ms) noexcept
{
    if (is_open() && holds_slot_) {
        // Heartbeats and this first owner test are plain aligned loads and stores: nobody
        // synchronises on them, the owner itself changes only by compare-and-exchange.
        if (slot_owner(view_->base(), slot_index_).load(std::memory_order_relaxed) == viewer_id_) {
            slot_heartbeat(view_->base(), slot_index_).store(now_ms, std::memory_order_relaxed);
            return;
        }
        holds_slot_ = false; // the producer (or anyone) took the slot away
    }
    if (now_ms < next_attempt_) {
        return;
    }
    next_attempt_ = now_ms + kAttemptInterval;
    if (!is_open() && !try_open()) {
        return;
    }
    claim_slot(now_ms);
}

void ViewerRegistration::release() noexcept
{
    if (is_open() && holds_slot_) {
        std::uint64_t expected = viewer_id_;
        // Fails, and so leaves the slot alone, when it now belongs to another id.
        slot_owner(view_->base(), slot_index_).compare_exchange_strong(expected, 0);
    }
    holds_slot_ = false;
    view_.reset();
}

bool ViewerRegistration::try_open() noexcept
{
    std::unique_ptr<SectionView> view = open_section_();
    if (view == nullptr) {
        return false;
    }
    const std::byte* record = view->base();
    if (load_shared<std::uint32_t>(record, kViewerMagicOffset, std::memory_order_acquire) !=
            kViewerSectionMagic ||
        load_shared<std::uint32_t>(record, kViewerVersionOffset, std::memory_order_relaxed) !=
            kViewerSectionVersion) {
        return false; // unmapped and closed again right here
    }
    view_ = std::move(view);
    return true;
}

void ViewerRegistration::claim_slot(std::uint64_t now_ms) noexcept
{
    std::byte* record = view_->base();
    viewer_id_ = shared_field<std::uint64_t>(record, kViewerIdCounterOffset).fetch_add(1) + 1;
    if (viewer_id_ == 0) {
        // The counter wrapped, which only a writer that scribbled on the record brings about.
        // 0 marks a free slot: "holding" one under it would leave the slot looking free to
        // everybody else. This attempt claims nothing; the next one draws 1.
        return;
    }
    for (std::uint32_t slot = 0; slot < kViewerSlotCount; ++slot) {
        if (slot_owner(record, slot).load(std::memory_order_relaxed) != 0) {
            continue;
        }
        // The heartbeat goes first, so that the producer never sees a new owner with an old
        // heartbeat. A claimant that then loses the race has refreshed the winner's slot.
        slot_heartbeat(record, slot).store(now_ms, std::memory_order_relaxed);
        std::uint64_t expected = 0;
        if (slot_owner(record, slot).compare_exchange_strong(expected, viewer_id_)) {
            holds_slot_ = true;
            slot_index_ = slot;
            return;
        }
    }
}

} // namespace tolvek::vcam
