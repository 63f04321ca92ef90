#include "still_picture_win.h"

#include <wincodec.h>

#include "com_ptr_win.h"
#include "frame_canvas.h"
#include "tolvek/error_text.h"
#include "tolvek/error_text_win.h"
#include "tolvek/wide_text_win.h"

#include <cstdint>
#include <string>

namespace tolvek::vcam {

namespace {

// The system has no message for the imaging component's own codes; these are the ones a
// user meets with a file that is not a picture.
std::string failure_text(HRESULT result)
{
    switch (result) {
    case WINCODEC_ERR_COMPONENTNOTFOUND:
    case WINCODEC_ERR_UNKNOWNIMAGEFORMAT:
        return format_hresult_error("not a picture the system can decode",
                                    static_cast<std::uint32_t>(result));
    case WINCODEC_ERR_BADIMAGE:
    case WINCODEC_ERR_BADHEADER:
    case WINCODEC_ERR_FRAMEMISSING:
    case WINCODEC_ERR_STREAMREAD:
        return format_hresult_error("the picture is damaged", static_cast<std::uint32_t>(result));
    default:
        return hresult_error_text(result);
    }
}

} // namespace

Result<std::vector<std::byte>> load_still_picture(std::u16string_view path)
{
    const std::u16string file(path);
    ComPtr<IWICImagingFactory> factory;
    HRESULT result = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IWICImagingFactory, factory.put_void());
    ComPtr<IWICBitmapDecoder> decoder;
    if (SUCCEEDED(result)) {
        result = factory->CreateDecoderFromFilename(as_wide(file.c_str()), nullptr, GENERIC_READ,
                                                    WICDecodeMetadataCacheOnDemand, decoder.put());
    }
    ComPtr<IWICBitmapFrameDecode> picture; // the first of a file that holds several
    if (SUCCEEDED(result)) {
        result = decoder->GetFrame(0, picture.put());
    }
    // Converted before it is scaled, so that the scaler meets one plain 32-bit format
    // whatever the file held (palettes, 16-bit channels, grey).
    ComPtr<IWICFormatConverter> converter;
    if (SUCCEEDED(result)) {
        result = factory->CreateFormatConverter(converter.put());
    }
    if (SUCCEEDED(result)) {
        result = converter->Initialize(picture.get(), GUID_WICPixelFormat32bppBGRA,
                                       WICBitmapDitherTypeNone, nullptr, 0.0,
                                       WICBitmapPaletteTypeCustom);
    }
    ComPtr<IWICBitmapScaler> scaler;
    if (SUCCEEDED(result)) {
        result = factory->CreateBitmapScaler(scaler.put());
    }
    if (SUCCEEDED(result)) {
        result = scaler->Initialize(converter.get(), kFrameWidth, kFrameHeight,
                                    WICBitmapInterpolationModeFant);
    }
    std::vector<std::byte> top_down(kFrameSize);
    if (SUCCEEDED(result)) {
        result =
            scaler->CopyPixels(nullptr, // the whole picture
                               kFrameStride, kFrameSize, reinterpret_cast<BYTE*>(top_down.data()));
    }
    if (FAILED(result)) {
        return Error{failure_text(result)};
    }
    std::vector<std::byte> frame(kFrameSize);
    store_top_down_picture(top_down.data(), kFrameStride, FramePixels(frame.data(), kFrameSize));
    return frame;
}

} // namespace tolvek::vcam
