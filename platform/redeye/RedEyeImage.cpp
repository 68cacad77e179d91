#include "RedEyeInternal.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace redeye {

ImageAccess::ImageAccess(const ReImage& image)
    : m_pixels(static_cast<BYTE*>(image.pixels)), m_width(image.width), m_height(image.height),
      m_rowBytes(image.rowBytes), m_wide(image.format == RE_FORMAT_RGB16), m_shift(m_wide ? 8 : 0) {}

const BYTE* ImageAccess::Address(LONG x, LONG y) const {
    return m_pixels + y * m_rowBytes + static_cast<std::ptrdiff_t>(x) * (m_wide ? 6 : 3);
}

Pixel ImageAccess::Get(LONG x, LONG y) const {
    const BYTE* at = Address(x, y);
    if (!m_wide)
        return {at[0], at[1], at[2]};
    WORD s[3];
    std::memcpy(s, at, sizeof s);
    return {s[0], s[1], s[2]};
}

void ImageAccess::SetRed(LONG x, LONG y, DWORD red) {
    BYTE* at = const_cast<BYTE*>(Address(x, y));
    if (!m_wide) {
        at[0] = static_cast<BYTE>(red);
        return;
    }
    const WORD r = static_cast<WORD>(red);
    std::memcpy(at, &r, sizeof r);
}

DWORD CheckImage(const ReImage* image) {
    if (!image || image->size != sizeof(ReImage) || !image->pixels || image->width <= 0 || image->height <= 0)
        return RE_E_ARGUMENT;
    if (image->format != RE_FORMAT_RGB8 && image->format != RE_FORMAT_RGB16)
        return RE_E_ARGUMENT;
    const std::int64_t pixelBytes = image->format == RE_FORMAT_RGB16 ? 6 : 3;
    if (image->rowBytes < static_cast<std::int64_t>(image->width) * pixelBytes)
        return RE_E_ARGUMENT;
    if (image->camera && image->camera->size != sizeof(ReCameraInfo))
        return RE_E_ARGUMENT;
    return RE_OK;
}

std::string DescribeImage(const ReImage* image) {
    if (!image)
        return "no image";
    char text[160];
    std::snprintf(text, sizeof text, "%" PRId32 "x%" PRId32 " format 0x%" PRIX32, image->width, image->height,
                  image->format);
    std::string out = text;
    const ReCameraInfo* camera = image->size == sizeof(ReImage) ? image->camera : nullptr;
    if (!camera || camera->size != sizeof(ReCameraInfo))
        return out + " camera none";
    out += " camera model \"";
    out += camera->model ? camera->model : "";
    std::snprintf(text, sizeof text, "\" flash %" PRId32 " focal %" PRId32 " distance %" PRId32,
                  camera->flash, camera->focalLength, camera->subjectDistance);
    return out + text;
}

std::string DescribeBox(const ReRegion& box) {
    char text[96];
    std::snprintf(text, sizeof text, "box (%" PRId32 ",%" PRId32 ")-(%" PRId32 ",%" PRId32 ")", box.left,
                  box.top, box.right, box.bottom);
    return text;
}

} // namespace redeye
