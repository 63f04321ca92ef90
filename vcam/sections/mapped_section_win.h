#pragma once

// A real mapping of a named section: the mapping handle and the view, each in its owner.
// The camera opens the producer's sections; the producer creates them.

#include <windows.h>

#include "section_view.h"
#include "tolvek/owners_win.h"
#include "view_region_check.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <utility>

namespace tolvek::vcam {

class MappedSection final : public SectionView {
public:
    MappedSection(UniqueHandle mapping, UniqueMappedView view) noexcept
        : mapping_(std::move(mapping)), view_(std::move(view))
    {
    }

    [[nodiscard]] std::byte* base() const noexcept override
    {
        return static_cast<std::byte*>(view_.get());
    }

private:
    // Declared in this order so that the view is unmapped before the handle is closed.
    UniqueHandle mapping_;
    UniqueMappedView view_;
};

static_assert(kMemCommit == MEM_COMMIT);
static_assert(kPageReadOnly == PAGE_READONLY && kPageReadWrite == PAGE_READWRITE &&
              kPageWriteCopy == PAGE_WRITECOPY && kPageExecuteRead == PAGE_EXECUTE_READ &&
              kPageExecuteReadWrite == PAGE_EXECUTE_READWRITE &&
              kPageExecuteWriteCopy == PAGE_EXECUTE_WRITECOPY && kPageGuard == PAGE_GUARD);

// The region of this process's memory that holds `address`, as VirtualQuery reports it.
inline std::optional<MemoryRegion> query_region(std::uintptr_t address) noexcept
{
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(reinterpret_cast<const void*>(address), &info, sizeof info) != sizeof info) {
        return std::nullopt;
    }
    return MemoryRegion{reinterpret_cast<std::uintptr_t>(info.BaseAddress),
                        reinterpret_cast<std::uintptr_t>(info.AllocationBase), info.RegionSize,
                        info.State, info.Protect};
}

// Maps `size` bytes from the start of an open section; null when the view cannot be made
// (the thread's last error tells why), in which case the handle is closed at once. A view
// that is not committed and accessible over all `size` bytes (a section made with
// SEC_RESERVE, or one too small) counts as one that cannot be made, with the last error
// ERROR_INVALID_ADDRESS: touching such a page would end the whole process.
inline std::unique_ptr<SectionView> map_section(UniqueHandle mapping, DWORD access,
                                                std::size_t size) noexcept
{
    UniqueMappedView view{MapViewOfFile(mapping.get(), access, 0, 0, size)};
    if (!view) {
        return nullptr;
    }
    const ViewAccess needed =
        (access & FILE_MAP_WRITE) != 0 ? ViewAccess::read_write : ViewAccess::read_only;
    if (!is_view_usable(reinterpret_cast<std::uintptr_t>(view.get()), size, needed,
                        &query_region)) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return nullptr;
    }
    std::unique_ptr<SectionView> section(new (std::nothrow)
                                             MappedSection(std::move(mapping), std::move(view)));
    if (section == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return section;
}

// Opens the existing section `name` and maps `size` bytes of it with `access` (FILE_MAP_READ
// or FILE_MAP_WRITE); null when the section is absent or cannot be opened or mapped, or its
// view is not usable over all `size` bytes (see map_section).
inline std::unique_ptr<SectionView> open_mapped_section(const wchar_t* name, DWORD access,
                                                        std::size_t size) noexcept
{
    UniqueHandle mapping{OpenFileMappingW(access, FALSE, name)};
    if (!mapping) {
        return nullptr;
    }
    return map_section(std::move(mapping), access, size);
}

} // namespace tolvek::vcam
