#include "picture_files_win.h"

#include <wincodec.h>

#include "com_ptr_win.h"
#include "picture_writer_win.h"
#include "tolvek/wide_text_win.h"

#include <cstring>
#include <fstream>

namespace tolvek::vcam::testing {

TopDownPicture varied_picture()
{
    TopDownPicture picture{1280, 720, {}};
    picture.pixels.resize(1280 * 720);
    for (std::uint32_t index = 0; index < picture.pixels.size(); ++index) {
        picture.pixels[index] = 0xFF00'0000u | ((index * 0x9E37'79B1u) >> 8);
    }
    return picture;
}

TopDownPicture quadrant_picture(int width, int height, const std::uint32_t (&colours)[4])
{
    TopDownPicture picture{width, height, {}};
    picture.pixels.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            picture.pixels.push_back(colours[(y < height / 2 ? 0 : 2) + (x < width / 2 ? 0 : 1)]);
        }
    }
    return picture;
}

HRESULT write_encoded_picture(const std::filesystem::path& path, const GUID& container,
                              const TopDownPicture& picture)
{
    ComPtr<IWICImagingFactory> factory;
    HRESULT result = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IWICImagingFactory, factory.put_void());
    // The bitmap copies the pixels; the cast only fits the call's declaration.
    ComPtr<IWICBitmap> bitmap;
    if (SUCCEEDED(result)) {
        const auto width = static_cast<UINT>(picture.width);
        result = factory->CreateBitmapFromMemory(
            width, static_cast<UINT>(picture.height), GUID_WICPixelFormat32bppBGRA, width * 4,
            static_cast<UINT>(picture.pixels.size() * 4),
            reinterpret_cast<BYTE*>(const_cast<std::uint32_t*>(picture.pixels.data())),
            bitmap.put());
    }
    if (SUCCEEDED(result)) {
        result = write_picture_file(as_utf16(path.c_str()), container, bitmap.get());
    }
    return result;
}

bool write_bmp(const std::filesystem::path& path, const TopDownPicture& picture)
{
    const auto row_size = static_cast<std::uint32_t>((picture.width * 3 + 3) / 4 * 4);
    const auto pixel_bytes = row_size * static_cast<std::uint32_t>(picture.height);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file.bfSize = file.bfOffBits + pixel_bytes;
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = picture.width;
    info.biHeight = picture.height; // positive: bottom-up
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = pixel_bytes;

    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info), sizeof info);
    std::vector<char> row(row_size);
    for (int y = picture.height - 1; y >= 0; --y) {
        for (int x = 0; x < picture.width; ++x) {
            const std::uint32_t pixel = picture.at(x, y);
            std::memcpy(&row[static_cast<std::size_t>(x) * 3], &pixel, 3);
        }
        out.write(row.data(), static_cast<std::streamsize>(row.size()));
    }
    return static_cast<bool>(out);
}

} // namespace tolvek::vcam::testing
