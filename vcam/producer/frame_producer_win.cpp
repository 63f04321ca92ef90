#include "frame_producer_win.h"

#include "frame_section_layout.h"
#include "mapped_section_win.h"
#include "viewer_section_layout.h"

#include <cstdint>
#include <new>

namespace tolvek::vcam {

namespace {

// Creates the paging-file-backed section `name` of `size` bytes, or opens it when it
// exists, and maps all of it for writing. The default security descriptor leaves it to the
// creating user, which is whom the cameras of the session run as.
HRESULT create_section(const wchar_t* name, std::size_t size,
                       std::unique_ptr<SectionView>& section) noexcept
{
    const auto size64 = static_cast<std::uint64_t>(size);
    UniqueHandle mapping{CreateFileMappingW(INVALID_HANDLE_VALUE, // backed by the paging file
                                            nullptr, PAGE_READWRITE,
                                            static_cast<DWORD>(size64 >> 32),
                                            static_cast<DWORD>(size64), name)};
    if (!mapping) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    // An existing section keeps its size: one smaller than ours fails to map here.
    section = map_section(std::move(mapping), FILE_MAP_WRITE, size);
    return section != nullptr ? S_OK : HRESULT_FROM_WIN32(GetLastError());
}

} // namespace

FrameProducer::FrameProducer(std::unique_ptr<SectionView> frame_section,
                             std::unique_ptr<SectionView> viewer_section) noexcept
    : frame_section_(std::move(frame_section)), viewer_section_(std::move(viewer_section)),
      publisher_(frame_section_->base()), viewers_(viewer_section_->base())
{
}

HRESULT FrameProducer::create(std::unique_ptr<FrameProducer>& producer) noexcept
{
    std::unique_ptr<SectionView> frame_section;
    if (const HRESULT result = create_section(kFrameSectionName, kFrameSectionSize, frame_section);
        FAILED(result)) {
        return result;
    }
    std::unique_ptr<SectionView> viewer_section;
    if (const HRESULT result =
            create_section(kViewerSectionName, kViewerSectionSize, viewer_section);
        FAILED(result)) {
        return result;
    }
    producer.reset(new (std::nothrow)
                       FrameProducer(std::move(frame_section), std::move(viewer_section)));
    return producer != nullptr ? S_OK : E_OUTOFMEMORY;
}

} // namespace tolvek::vcam
