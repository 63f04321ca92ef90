#pragma once

// A real mapping of a named section: the mapping handle and the view, each in its owner.
// The camera opens the producer's sections; the producer creates them.

#include <windows.h>

#include "section_view.h"
#include "tolvek/owners_win.h"

#include <cstddef>
#include <memory>
#include <new>
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

// Maps `size` bytes from the start of an open section; null when the view cannot be made
// (the thread's last error tells why), in which case the handle is closed at once.
inline std::unique_ptr<SectionView> map_section(UniqueHandle mapping, DWORD access,
                                                std::size_t size) noexcept
{
    UniqueMappedView view{MapViewOfFile(mapping.get(), access, 0, 0, size)};
    if (!view) {
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
// or FILE_MAP_WRITE); null when the section is absent or cannot be opened or mapped.
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
