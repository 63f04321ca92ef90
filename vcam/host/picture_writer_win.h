#pragma once

// Pictures written to files with the Windows Imaging Component: any picture with the encoder
// of a container format, and a camera frame as a PNG file, so that a person can look at what
// a host received.

#include <windows.h>
#include <wincodec.h>

#include "frame_publisher.h"
#include "tolvek/result.h"

#include <string_view>

namespace tolvek::vcam {

// Writes `picture` to the file `path`, replacing one that is there, with the imaging
// component's encoder for `container` (GUID_ContainerFormatPng, GUID_ContainerFormatJpeg,
// ...), converted to the pixel format nearest to the picture's that the encoder takes. A
// file this call created is removed again when the writing fails. COM must be initialised on
// the calling thread.
[[nodiscard]] HRESULT write_picture_file(std::u16string_view path, const GUID& container,
                                         IWICBitmapSource* picture);

// Saves a camera frame as a PNG file, its top row first as picture files have it and without
// the frame's unused fourth bytes. The error is the cause alone, as in
// "Path not found. (0x80070003)". COM must be initialised on the calling thread.
[[nodiscard]] Status save_frame_as_png(ConstFramePixels frame, std::u16string_view path);

} // namespace tolvek::vcam
