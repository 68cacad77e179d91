#include "CKvPngFile.h"

#include <png.h>

#include <cstdio>
#include <cstring>

namespace {

bool Write(const std::string& path, LONG width, LONG height, const void* pixels, png_uint_32 format,
           std::ptrdiff_t rowStride, std::string* error) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = format;
    if (!png_image_write_to_file(&image, path.c_str(), 0, pixels, static_cast<png_int_32>(rowStride),
                                 nullptr)) {
        if (error)
            *error = image.message;
        png_image_free(&image);
        return false;
    }
    return true;
}

} // namespace

namespace CKvPngFile {

bool WriteSrgb8(const std::string& path, LONG width, LONG height, const std::vector<BYTE>& rgb,
                std::string* error) {
    if (rgb.size() != static_cast<std::size_t>(width) * height * 3) {
        if (error)
            *error = "the pixels do not match the picture's size";
        return false;
    }
    return Write(path, width, height, rgb.data(), PNG_FORMAT_RGB, std::ptrdiff_t{width} * 3, error);
}

bool WriteLinear16(const std::string& path, LONG width, LONG height, const std::vector<WORD>& rgb,
                   std::string* error) {
    if (rgb.size() != static_cast<std::size_t>(width) * height * 3) {
        if (error)
            *error = "the pixels do not match the picture's size";
        return false;
    }
    // The simplified writer takes 16-bit samples as linear light and records gamma 1.0 in the file.
    return Write(path, width, height, rgb.data(), PNG_FORMAT_RGB | PNG_FORMAT_FLAG_LINEAR,
                 std::ptrdiff_t{width} * 3, error);
}

} // namespace CKvPngFile
