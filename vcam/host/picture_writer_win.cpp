#include "picture_writer_win.h"

#include "com_ptr_win.h"
#include "tolvek/error_text_win.h"
#include "tolvek/wide_text_win.h"

#include <string>

namespace tolvek::vcam {
namespace {

HRESULT make_imaging_factory(ComPtr<IWICImagingFactory>& factory)
{
    return CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                            IID_IWICImagingFactory, factory.put_void());
}

// Encodes `picture` into the file; `created` tells whether the file was opened for writing.
// Every object of the encoding is gone when it returns, so the file is closed by then.
HRESULT encode_into_file(IWICImagingFactory* factory, const wchar_t* path, const GUID& container,
                         IWICBitmapSource* picture, bool& created)
{
    ComPtr<IWICStream> stream;
    HRESULT result = factory->CreateStream(stream.put());
    if (SUCCEEDED(result)) {
        result = stream->InitializeFromFilename(path, GENERIC_WRITE);
        created = SUCCEEDED(result);
    }
    ComPtr<IWICBitmapEncoder> encoder;
    if (SUCCEEDED(result)) {
        result = factory->CreateEncoder(container, nullptr, encoder.put());
    }
    if (SUCCEEDED(result)) {
        result = encoder->Initialize(stream.get(), WICBitmapEncoderNoCache);
    }
    ComPtr<IWICBitmapFrameEncode> frame;
    ComPtr<IPropertyBag2> options;
    if (SUCCEEDED(result)) {
        result = encoder->CreateNewFrame(frame.put(), options.put());
    }
    if (SUCCEEDED(result)) {
        result = frame->Initialize(options.get());
    }
    UINT width = 0;
    UINT height = 0;
    if (SUCCEEDED(result)) {
        result = picture->GetSize(&width, &height);
    }
    if (SUCCEEDED(result)) {
        result = frame->SetSize(width, height);
    }
    // The encoder answers with the format it will write; WriteSource converts to it.
    WICPixelFormatGUID format{};
    if (SUCCEEDED(result)) {
        result = picture->GetPixelFormat(&format);
    }
    if (SUCCEEDED(result)) {
        result = frame->SetPixelFormat(&format);
    }
    if (SUCCEEDED(result)) {
        result = frame->WriteSource(picture, nullptr); // the whole picture
    }
    if (SUCCEEDED(result)) {
        result = frame->Commit();
    }
    if (SUCCEEDED(result)) {
        result = encoder->Commit();
    }
    return result;
}

} // namespace

HRESULT write_picture_file(std::u16string_view path, const GUID& container,
                           IWICBitmapSource* picture)
{
    const std::u16string file(path);
    ComPtr<IWICImagingFactory> factory;
    HRESULT result = make_imaging_factory(factory);
    bool created = false;
    if (SUCCEEDED(result)) {
        result =
            encode_into_file(factory.get(), as_wide(file.c_str()), container, picture, created);
    }
    if (FAILED(result) && created) {
        DeleteFileW(as_wide(file.c_str())); // half a picture would pass for one
    }
    return result;
}

Status save_frame_as_png(ConstFramePixels frame, std::u16string_view path)
{
    ComPtr<IWICImagingFactory> factory;
    HRESULT result = make_imaging_factory(factory);
    // 32bppBGR: the fourth bytes mean nothing to a camera, so they are not taken for alpha.
    // The bitmap copies the pixels; the cast only fits the call's declaration.
    ComPtr<IWICBitmap> bitmap;
    if (SUCCEEDED(result)) {
        result = factory->CreateBitmapFromMemory(
            kFrameWidth, kFrameHeight, GUID_WICPixelFormat32bppBGR, kFrameStride, kFrameSize,
            reinterpret_cast<BYTE*>(const_cast<std::byte*>(frame.data())), bitmap.put());
    }
    // A frame stores its bottom row first.
    ComPtr<IWICBitmapFlipRotator> upright;
    if (SUCCEEDED(result)) {
        result = factory->CreateBitmapFlipRotator(upright.put());
    }
    if (SUCCEEDED(result)) {
        result = upright->Initialize(bitmap.get(), WICBitmapTransformFlipVertical);
    }
    if (SUCCEEDED(result)) {
        result = write_picture_file(path, GUID_ContainerFormatPng, upright.get());
    }
    if (FAILED(result)) {
        return Error{hresult_error_text(result)};
    }
    return success();
}

} // namespace tolvek::vcam
