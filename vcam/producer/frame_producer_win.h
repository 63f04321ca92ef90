#pragma once

// The frame producer's Windows side: creates the sections "Local\TolvekVcamFrames" and
// "Local\TolvekVcamViewers" in the caller's session and keeps them for its whole life.
// This is how an application feeds the camera (see the README).
//
// One producer per session at a time: two writers of one frame section would both write the
// slot after the latest one, and a camera could take a frame that is half one picture and
// half the other for a whole one. A producer therefore holds the session's producer lock for
// its whole life, and a second one is refused with kAnotherProducerRunning until the first
// has gone (ended, or crashed: the system drops the lock with the process).

#include <windows.h>

#include "frame_publisher.h"
#include "section_view.h"
#include "tolvek/owners_win.h"
#include "viewer_table.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace tolvek::vcam {

// FrameProducer::create's failure while another producer of this session is running:
// HRESULT_FROM_WIN32(ERROR_BUSY). No other step of create reports it.
inline constexpr HRESULT kAnotherProducerRunning = static_cast<HRESULT>(0x8007'00AAu);

// The text for a failure of FrameProducer::create: "another producer is running" for
// kAnotherProducerRunning, else the system's message and the code, as in
// "Not enough memory resources are available to process this command. (0x80070008)".
[[nodiscard]] std::string producer_failure_text(HRESULT result);

// A producer may be created on one thread and destroyed on another. publish, publish_with
// and live_viewers are called from one thread at a time.
class FrameProducer {
public:
    // Takes the session's producer lock, then creates both sections, or joins them when they
    // still exist because a camera holds them open (their frame counter and viewer slots then
    // carry on). S_OK; kAnotherProducerRunning while another producer of this session lives;
    // or the HRESULT of the call that failed. `producer` is set only on success.
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
    FrameProducer(UniqueHandle lock, std::unique_ptr<SectionView> frame_section,
                  std::unique_ptr<SectionView> viewer_section) noexcept;

    // First, so that it is released last, after both views are gone.
    UniqueHandle lock_;
    std::unique_ptr<SectionView> frame_section_;
    std::unique_ptr<SectionView> viewer_section_;
    FramePublisher publisher_;
    ViewerTable viewers_;
};

} // namespace tolvek::vcam
