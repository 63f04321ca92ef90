#pragma once

// What a frame that reached a camera host shows, told from its bytes. Platform-free.

#include "frame_publisher.h"

namespace tolvek::vcam {

// Whether every pixel of `frame` is the camera's fill colour: what the camera delivers while
// no producer feeds it.
[[nodiscard]] bool shows_fill_colour(ConstFramePixels frame) noexcept;

} // namespace tolvek::vcam
