#pragma once

// The feed's loop: publishes a picture 30 times a second while at least one camera streams,
// and while nobody watches draws and copies nothing, only looks a few times a second whether
// somebody has come.

#include <windows.h>

#include "frame_producer_win.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tolvek::vcam {

// How often the feed looks for viewers while nobody watches.
inline constexpr std::chrono::milliseconds kIdleCheckInterval{250};

struct FeedSettings {
    // Draws the picture of frame `frame_number` (0 for the first frame the feed publishes).
    std::function<void(FramePixels frame, std::uint64_t frame_number)> draw;
    // How long the feed runs; without it, until `stop` is set.
    std::optional<std::chrono::seconds> duration;
    // An event whose signal ends the feed within a frame.
    HANDLE stop = nullptr;
    // Takes each line the feed has to say: the viewers coming and going.
    std::function<void(const std::string& line)> say;
};

// Draws the moving test picture of frame `frame_number` at the local time of day.
void draw_pattern_now(FramePixels frame, std::uint64_t frame_number) noexcept;

// Runs the feed until `settings.stop` is set or its duration has passed; gives the number of
// frames it published.
std::uint64_t run_feed(FrameProducer& producer, const FeedSettings& settings);

} // namespace tolvek::vcam
