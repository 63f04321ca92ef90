// Camera frames saved as PNG files with Wine's own imaging component, read back by the
// feed's still-picture reader (whose tests prove it against files written byte by byte), and
// writes that fail, which leave no file behind.

#include "picture_writer_win.h"

#include <wincodec.h>

#include "com_object_win.h"
#include "still_picture_win.h"
#include "support/test_environment_win.h"
#include "tolvek/com_apartment_win.h"
#include "tolvek/wide_text_win.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <vector>

namespace tolvek::vcam {
namespace {

// Every pixel differs from its neighbours and from row to row, and every fourth byte is 0,
// which taken for alpha would make the picture transparent.
std::vector<std::byte> varied_frame()
{
    std::vector<std::byte> frame(kFrameSize);
    for (std::uint32_t index = 0; index < kFrameSize / kBytesPerPixel; ++index) {
        const std::uint32_t pixel = (index * 0x9E37'79B1u) >> 8;
        std::memcpy(frame.data() + index * kBytesPerPixel, &pixel, sizeof pixel);
    }
    return frame;
}

// A picture of the camera's size that fails when its pixels are asked for.
class FailingPicture final
    : public ComObject<FailingPicture, LiveObject::not_counted, IWICBitmapSource> {
public:
    // IWICBitmapSource
    HRESULT STDMETHODCALLTYPE GetSize(UINT* width, UINT* height) override
    {
        *width = kFrameWidth;
        *height = kFrameHeight;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPixelFormat(WICPixelFormatGUID* format) override
    {
        *format = GUID_WICPixelFormat32bppBGR;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetResolution(double* x, double* y) override
    {
        *x = *y = 96.0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CopyPalette(IWICPalette*) override
    {
        return WINCODEC_ERR_PALETTEUNAVAILABLE;
    }
    HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect*, UINT, UINT, BYTE*) override
    {
        return E_FAIL;
    }
};

class PictureWriterWin : public ::testing::Test {
protected:
    std::u16string path_of(const std::filesystem::path& path) const
    {
        return std::u16string{as_utf16(path.c_str())};
    }

    // The pixel format in which the file holds its picture.
    static WICPixelFormatGUID stored_format(const std::u16string& path)
    {
        ComPtr<IWICImagingFactory> factory;
        ComPtr<IWICBitmapDecoder> decoder;
        ComPtr<IWICBitmapFrameDecode> picture;
        WICPixelFormatGUID format{};
        if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IWICImagingFactory, factory.put_void())) ||
            FAILED(factory->CreateDecoderFromFilename(as_wide(path.c_str()), nullptr, GENERIC_READ,
                                                      WICDecodeMetadataCacheOnDemand,
                                                      decoder.put())) ||
            FAILED(decoder->GetFrame(0, picture.put())) ||
            FAILED(picture->GetPixelFormat(&format))) {
            return {};
        }
        return format;
    }

    ComApartment apartment_;
    tolvek::testing::ScopedTempDir folder_;
};

TEST_F(PictureWriterWin, a_frame_is_saved_the_right_way_up_and_opaque)
{
    const std::vector<std::byte> frame = varied_frame();
    const std::u16string path = path_of(folder_.path() / L"frame.png");

    const Status saved = save_frame_as_png(ConstFramePixels(frame.data(), kFrameSize), path);

    ASSERT_TRUE(saved) << saved.error().text;
    const Result<std::vector<std::byte>> read = load_still_picture(path);
    ASSERT_TRUE(read) << read.error().text;
    std::vector<std::byte> expected = frame;
    for (std::size_t unused = 3; unused < kFrameSize; unused += kBytesPerPixel) {
        expected[unused] = std::byte{0xFF}; // the reader makes every picture opaque
    }
    EXPECT_TRUE(read.value() == expected) << "the picture is turned over or changed";
    const WICPixelFormatGUID format = stored_format(path);
    EXPECT_TRUE(format == GUID_WICPixelFormat24bppBGR || format == GUID_WICPixelFormat32bppBGR)
        << "the file keeps no alpha";
}

TEST_F(PictureWriterWin, a_frame_that_cannot_be_written_leaves_no_file_and_says_why)
{
    const std::vector<std::byte> frame = varied_frame();
    struct Case {
        const char* what;
        std::filesystem::path path;
    };
    const Case cases[] = {
        {"a folder that does not exist", folder_.path() / L"missing" / L"frame.png"},
        {"a folder in the file's place", folder_.path()},
    };
    for (const Case& c : cases) {
        const Status saved =
            save_frame_as_png(ConstFramePixels(frame.data(), kFrameSize), path_of(c.path));

        ASSERT_FALSE(saved) << c.what;
        EXPECT_TRUE(saved.error().text.ends_with(")")) << saved.error().text;
        EXPECT_FALSE(std::filesystem::is_regular_file(c.path)) << c.what;
    }
    EXPECT_TRUE(std::filesystem::is_directory(folder_.path())) << "a folder is never removed";
}

// A file that holds half a picture would be taken for the picture.
TEST_F(PictureWriterWin, a_picture_that_fails_midway_leaves_no_file)
{
    const std::filesystem::path path = folder_.path() / L"broken.png";
    const ComPtr<FailingPicture> picture = FailingPicture::create();

    EXPECT_TRUE(FAILED(write_picture_file(path_of(path), GUID_ContainerFormatPng, picture.get())));

    EXPECT_FALSE(std::filesystem::exists(path));
}

} // namespace
} // namespace tolvek::vcam
