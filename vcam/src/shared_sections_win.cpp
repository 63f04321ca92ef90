#include "shared_sections_win.h"

#include "frame_section_layout.h"
#include "mapped_section_win.h"
#include "viewer_section_layout.h"

namespace tolvek::vcam {

std::unique_ptr<SectionView> open_frame_section() noexcept
{
    return open_mapped_section(kFrameSectionName, FILE_MAP_READ, kFrameSectionSize);
}

std::unique_ptr<SectionView> open_viewer_section() noexcept
{
    return open_mapped_section(kViewerSectionName, FILE_MAP_WRITE, kViewerSectionSize);
}

} // namespace tolvek::vcam
