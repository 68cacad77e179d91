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

void Warned(png_structp, png_const_charp) {}

[[noreturn]] void Failed(png_structp png, png_const_charp message) {
    auto* error = static_cast<std::string*>(png_get_error_ptr(png));
    if (error)
        *error = message;
    png_longjmp(png, 1);
}

// The header, the profile and the rows; false when libpng gave up (its message is in the error pointer).
bool WriteRows(png_structp png, png_infop info, std::FILE* file, LONG width, LONG height,
               const std::vector<BYTE>& rgb, const std::string& name, const std::vector<BYTE>& profile) {
    if (setjmp(png_jmpbuf(png)) != 0)
        return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_iCCP(png, info, name.c_str(), PNG_COMPRESSION_TYPE_BASE, profile.data(),
                 static_cast<png_uint_32>(profile.size()));
    png_write_info(png, info);
    for (LONG y = 0; y < height; ++y)
        png_write_row(png, rgb.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 3);
    png_write_end(png, info);
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

bool WriteRgb8WithProfile(const std::string& path, LONG width, LONG height, const std::vector<BYTE>& rgb,
                          const std::string& profileName, const std::vector<BYTE>& profile,
                          std::string* error) {
    if (rgb.size() != static_cast<std::size_t>(width) * height * 3 || width <= 0 || height <= 0) {
        if (error)
            *error = "the pixels do not match the picture's size";
        return false;
    }
    if (profile.empty() || profile.size() > 0x7FFFFFFF)
        return WriteSrgb8(path, width, height, rgb, error);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        if (error)
            *error = "cannot create the file";
        return false;
    }
    std::string message;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &message, Failed, Warned);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    // Names of 1 to 79 Latin-1 characters; the profile's file name is cut to fit rather than refused.
    const std::string name = profileName.empty() ? std::string("ICC profile") : profileName.substr(0, 79);
    const bool written = info && WriteRows(png, info, file, width, height, rgb, name, profile);
    png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        if (error)
            *error = message.empty() ? "the file cannot be written" : message;
        std::remove(path.c_str());
        return false;
    }
    return true;
}

} // namespace CKvPngFile
