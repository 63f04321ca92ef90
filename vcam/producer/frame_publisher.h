#pragma once

// The writer side of the frame section "Local\TolvekVcamFrames": publishes whole frames so
// that a camera reading at the same moment never shows a torn one. Exactly one publisher
// may write a section at a time.

#include "camera_format.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace tolvek::vcam {

using FramePixels = std::span<std::byte, kFrameSize>;
using ConstFramePixels = std::span<const std::byte, kFrameSize>;

class FramePublisher {
public:
    // Takes over a writable view of at least the frame section's size. A section that still
    // carries a valid header (its earlier producer ended while a camera kept it open) is
    // continued: the frame counter and slot sequences go on from where they are, so that
    // such a camera takes the new frames at once. Anything else is initialised, the magic
    // written last.
    explicit FramePublisher(std::byte* section) noexcept;

    // Publishes one frame: 1280 x 720 pixels, B G R X bytes, the bottom row first.
    void publish(ConstFramePixels pixels) noexcept;

    // Publishes the frame that `draw` writes straight into the section, sparing a copy.
    // `draw` receives FramePixels and must not keep them. If it throws, nothing is published
    // and readers never see the half-drawn slot.
    template <class Draw>
    void publish_with(Draw&& draw)
    {
        const std::uint32_t slot = begin_frame();
        draw(slot_pixels(slot));
        end_frame(slot);
    }

    // The value readers see in the frame counter; 0 until the first frame is published.
    [[nodiscard]] std::uint64_t frame_counter() const noexcept;

private:
    std::uint32_t begin_frame() noexcept;
    void end_frame(std::uint32_t slot) noexcept;
    FramePixels slot_pixels(std::uint32_t slot) const noexcept;

    std::byte* section_;
};

} // namespace tolvek::vcam
