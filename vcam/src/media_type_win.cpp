#include "media_type_win.h"

#include <amvideo.h>
#include <uuids.h>

#include "camera_format.h"
#include "media_type_rules.h"
#include "tolvek/owners_win.h"

#include <cstring>

namespace tolvek::vcam {

namespace {

static_assert(sizeof(VIDEOINFOHEADER) == kVideoInfoHeaderSize);

// Every field of the type, pointing at `format`, which gets the camera's VIDEOINFOHEADER.
void write_camera_media_type(AM_MEDIA_TYPE& media_type, BYTE* format) noexcept
{
    VIDEOINFOHEADER header{}; // every field not set below is zero; the structure has no padding
    header.dwBitRate = kBitRate;
    header.AvgTimePerFrame = kFrameInterval;
    header.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    header.bmiHeader.biWidth = kFrameWidth;
    header.bmiHeader.biHeight = kFrameHeight;
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = kBitsPerPixel;
    header.bmiHeader.biCompression = BI_RGB;
    header.bmiHeader.biSizeImage = kFrameSize;
    std::memcpy(format, &header, sizeof header);

    media_type.majortype = MEDIATYPE_Video;
    media_type.subtype = MEDIASUBTYPE_RGB32;
    media_type.bFixedSizeSamples = TRUE;
    media_type.bTemporalCompression = FALSE;
    media_type.lSampleSize = kFrameSize;
    media_type.formattype = FORMAT_VideoInfo;
    media_type.pUnk = nullptr;
    media_type.cbFormat = kVideoInfoHeaderSize;
    media_type.pbFormat = format;
}

} // namespace

void MediaTypeDeleter::operator()(AM_MEDIA_TYPE* media_type) const noexcept
{
    CoTaskMemFree(media_type->pbFormat);
    CoTaskMemFree(media_type);
}

UniqueMediaType build_media_type() noexcept
{
    UniqueTaskMemory<AM_MEDIA_TYPE> media_type{
        static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)))};
    if (!media_type) {
        return nullptr;
    }
    std::memset(media_type.get(), 0, sizeof(AM_MEDIA_TYPE)); // padding included
    if (FAILED(fill_media_type(*media_type.get()))) {
        return nullptr;
    }
    return UniqueMediaType(media_type.release());
}

HRESULT fill_media_type(AM_MEDIA_TYPE& media_type) noexcept
{
    auto* format = static_cast<BYTE*>(CoTaskMemAlloc(kVideoInfoHeaderSize));
    if (format == nullptr) {
        return E_OUTOFMEMORY;
    }
    write_camera_media_type(media_type, format);
    return S_OK;
}

bool accepts_media_type(const AM_MEDIA_TYPE* proposed) noexcept
{
    return accepts_camera_media_type<VIDEOINFOHEADER>(proposed);
}

} // namespace tolvek::vcam
