#include "viewer_table.h"

#include "shared_memory.h"
#include "viewer_section_layout.h"

namespace tolvek::vcam {

ViewerTable::ViewerTable(std::byte* record) noexcept : record_(record)
{
    auto magic = shared_field<std::uint32_t>(record_, kViewerMagicOffset);
    if (magic.load() == kViewerSectionMagic &&
        shared_field<std::uint32_t>(record_, kViewerVersionOffset).load() ==
            kViewerSectionVersion) {
        return;
    }
    magic.store(0);
    shared_field<std::uint32_t>(record_, kViewerVersionOffset).store(kViewerSectionVersion);
    shared_field<std::uint64_t>(record_, kViewerIdCounterOffset).store(0);
    for (std::uint32_t slot = 0; slot < kViewerSlotCount; ++slot) {
        shared_field<std::uint64_t>(record_, viewer_slot_owner_offset(slot)).store(0);
        shared_field<std::uint64_t>(record_, viewer_slot_heartbeat_offset(slot)).store(0);
    }
    magic.store(kViewerSectionMagic, std::memory_order_release);
}

std::uint32_t ViewerTable::count_live_viewers(std::uint64_t now_ms,
                                              std::uint64_t stale_after_ms) noexcept
{
    std::uint32_t live = 0;
    for (std::uint32_t slot = 0; slot < kViewerSlotCount; ++slot) {
        auto owner = shared_field<std::uint64_t>(record_, viewer_slot_owner_offset(slot));
        std::uint64_t holder = owner.load();
        if (holder == 0) {
            continue;
        }
        // Loaded after the owner: a claimant writes its heartbeat before it takes the slot.
        const std::uint64_t heartbeat =
            shared_field<std::uint64_t>(record_, viewer_slot_heartbeat_offset(slot))
                .load(std::memory_order_relaxed);
        // A heartbeat written after `now_ms` was taken is as fresh as can be.
        if (heartbeat >= now_ms || now_ms - heartbeat < stale_after_ms) {
            ++live;
            continue;
        }
        // Only this holder's slot is freed; a camera that claimed it since keeps it.
        owner.compare_exchange_strong(holder, 0);
    }
    return live;
}

} // namespace tolvek::vcam
