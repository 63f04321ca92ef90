#pragma once

// The camera's openers of the producer's two sections, for FrameReader and
// ViewerRegistration. The camera never creates either section.

#include "section_view.h"

#include <memory>

namespace tolvek::vcam {

// "Local\TolvekVcamFrames", read-only, 11,059,456 bytes; null when it cannot be had.
[[nodiscard]] std::unique_ptr<SectionView> open_frame_section() noexcept;

// "Local\TolvekVcamViewers", read-write, 576 bytes; null when it cannot be had.
[[nodiscard]] std::unique_ptr<SectionView> open_viewer_section() noexcept;

} // namespace tolvek::vcam
