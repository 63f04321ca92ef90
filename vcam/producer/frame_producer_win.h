#pragma once

// The frame producer's Windows side: creates the sections "Local\TolvekVcamFrames" and
// "Local\TolvekVcamViewers" in the caller's session and keeps them for its whole life.
// This is how an application feeds the camera (see the README).

#include <windows.h>

#include "frame_publisher.h"
#include "section_view.h"
#include "viewer_table.h"

#include <cstdint>
#include <memory>
#include <utility>

namespace tolvek::vcam {

class FrameProducer {
public:
    // Creates both sections, or joins them when they still exist because a camera holds
    // them open (their frame counter and viewer slots then carry on). S_OK, or the HRESULT
    // of the call that failed; `producer` is set only on success.
    [[nodiscard]] static HRESULT create(std::unique_ptr<FrameProducer>& producer) noexcept;

    // Publishes one frame: 1280 x 720 pixels, B G R X bytes, the bottom row first.
    void publish(ConstFramePixels pixels) noexcept { publisher_.publish(pixels); }

    // Publishes the frame that `draw` writes straight into the shared section.
    template <class Draw>
    void publish_with(Draw&& draw)
    {
        publisher_.publish_with(std::forward<Draw>(draw));
    }

    // Cameras streaming now. Frees the slots of cameras that stopped writing heartbeats.
    [[nodiscard]] std::uint32_t live_viewers() noexcept
    {
        return viewers_.count_live_viewers(GetTickCount64());
    }

    [[nodiscard]] std::uint64_t frame_counter() const noexcept
    {
        return publisher_.frame_counter();
    }

private:
    FrameProducer(std::unique_ptr<SectionView> frame_section,
                  std::unique_ptr<SectionView> viewer_section) noexcept;

    std::unique_ptr<SectionView> frame_section_;
    std::unique_ptr<SectionView> viewer_section_;
    FramePublisher publisher_;
    ViewerTable viewers_;
};

} // namespace tolvek::vcam
