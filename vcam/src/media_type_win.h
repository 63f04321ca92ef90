#pragma once

// The camera's one media type: 1280 x 720 RGB32, bottom-up, 30 frames a second, with a
// VIDEOINFOHEADER format block in task memory.

#include <windows.h>
#include <strmif.h>

#include <memory>

namespace tolvek::vcam {

// Frees a media type from build_media_type: its format block, then the structure.
struct MediaTypeDeleter {
    void operator()(AM_MEDIA_TYPE* media_type) const noexcept;
};
using UniqueMediaType = std::unique_ptr<AM_MEDIA_TYPE, MediaTypeDeleter>;

// A new media type in task memory holding the camera type; null when memory ran out. A COM
// caller that gets it (release()) frees both blocks with CoTaskMemFree.
[[nodiscard]] UniqueMediaType build_media_type() noexcept;

// Writes the camera type and a new format block into a caller's structure, without freeing
// what it held. E_OUTOFMEMORY, with the structure untouched, when memory ran out.
[[nodiscard]] HRESULT fill_media_type(AM_MEDIA_TYPE& media_type) noexcept;

// Whether the camera can deliver `proposed`; null is refused.
[[nodiscard]] bool accepts_media_type(const AM_MEDIA_TYPE* proposed) noexcept;

} // namespace tolvek::vcam
