#pragma once

// Whether a freshly mapped view of another program's section can be relied on over the
// whole layout. Whoever creates a section decides what its pages are: made with SEC_RESERVE
// and never committed, a view of it maps fine, but the first touch of a page raises an
// access violation in the process that touches it, which for the camera is any host that
// loaded it, elevated ones included. The system describes a view as a run of regions
// (VirtualQuery); the view is usable only when those regions cover the whole layout, all
// belong to this one view, are committed, and allow the access the caller needs.
//
// The state and protection values are the ones the Windows API defines, so that this
// decision is built and tested natively too; the Windows side checks that they match.

#include <cstddef>
#include <cstdint>
#include <optional>

namespace tolvek::vcam {

inline constexpr std::uint32_t kMemCommit = 0x1000;

inline constexpr std::uint32_t kPageReadOnly = 0x02;
inline constexpr std::uint32_t kPageReadWrite = 0x04;
inline constexpr std::uint32_t kPageWriteCopy = 0x08;
inline constexpr std::uint32_t kPageExecuteRead = 0x20;
inline constexpr std::uint32_t kPageExecuteReadWrite = 0x40;
inline constexpr std::uint32_t kPageExecuteWriteCopy = 0x80;
inline constexpr std::uint32_t kPageGuard = 0x100;
// The low byte holds the one base protection; the bits above it are modifiers
// (guard, no cache, write combine, ...).
inline constexpr std::uint32_t kPageBaseProtectionMask = 0xFF;

enum class ViewAccess {
    read_only,  // the camera's view of the frame section
    read_write, // the camera's view of the viewer record, and a producer's views
};

// One region as the system reports it: pages from `base` on that share state and
// protection.
struct MemoryRegion {
    std::uintptr_t base;            // BaseAddress
    std::uintptr_t allocation_base; // AllocationBase: for a mapped view, the view's base
    std::size_t size;               // RegionSize, from `base` on
    std::uint32_t state;            // MEM_COMMIT, MEM_RESERVE or MEM_FREE
    std::uint32_t protection;       // PAGE_* with its modifiers
};

// True when the pages of `region` can be read, and written too for `read_write`.
[[nodiscard]] constexpr bool region_allows(const MemoryRegion& region, ViewAccess access) noexcept
{
    if (region.state != kMemCommit || (region.protection & kPageGuard) != 0) {
        return false; // a guard page faults once on its first touch
    }
    switch (region.protection & kPageBaseProtectionMask) {
    case kPageReadWrite:
    case kPageExecuteReadWrite:
        return true;
    case kPageReadOnly:
    case kPageExecuteRead:
    case kPageWriteCopy: // writes would go to a private copy the other side never sees
    case kPageExecuteWriteCopy:
        return access == ViewAccess::read_only;
    default:
        return false; // no access, execute only, or nothing known
    }
}

// True when the regions that `query` reports from `view` on cover `layout_size` bytes, all
// of them part of the allocation that starts at `view`, committed and allowing `access`.
// `query(address)` gives the region holding `address`, or nothing when it cannot tell.
template <class RegionQuery>
[[nodiscard]] bool is_view_usable(std::uintptr_t view, std::size_t layout_size, ViewAccess access,
                                  RegionQuery&& query) noexcept
{
    if (view == 0 || layout_size > UINTPTR_MAX - view) {
        return false;
    }
    const std::uintptr_t end = view + layout_size;
    for (std::uintptr_t address = view; address < end;) {
        const std::optional<MemoryRegion> region = query(address);
        // A region that does not hold `address`, or reaches past the address space, is a
        // report that cannot be trusted; without the check on the allocation, a view smaller
        // than the layout followed by some other committed memory would pass.
        if (!region || region->allocation_base != view || region->base > address ||
            region->size > UINTPTR_MAX - region->base || region->base + region->size <= address ||
            !region_allows(*region, access)) {
            return false;
        }
        address = region->base + region->size;
    }
    return true;
}

} // namespace tolvek::vcam
