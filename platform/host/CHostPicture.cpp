#include "CHostPicture.h"

#include "platform/pravon/IPravonError.h"
#include "platform/pravon/IPravonImage.h"
#include "platform/pravon/PravonTypes.h"

namespace {

// 65535 / 255: a 16-bit sample over this is its 8-bit level.
constexpr std::uint32_t kWideStep = 257;

} // namespace

LONG CHostPicture::ColorSpace() const {
    if (bits != 8 && bits != 16)
        return 0;
    const bool wide = bits == 16;
    switch (channels) {
    case 1:
        return wide ? PravonColorSpace::kGrey16 : PravonColorSpace::kGrey8;
    case 3:
        return wide ? PravonColorSpace::kRGB16 : PravonColorSpace::kRGB8;
    case 4:
        return wide ? kHostFourChannels16 : kHostFourChannels8;
    default:
        return 0;
    }
}

BYTE CHostPicture::Level8(LONG x, LONG y, LONG channel) const {
    const std::uint32_t value = Sample(x, y, channel);
    return static_cast<BYTE>(bits == 16 ? (value + kWideStep / 2) / kWideStep : value);
}

void CHostPicture::SetSample(LONG x, LONG y, LONG channel, std::uint32_t value) {
    const std::size_t at = ((static_cast<std::size_t>(y) * width + x) * channels + channel) * SampleBytes();
    samples[at] = static_cast<BYTE>(value);
    if (bits == 16)
        samples[at + 1] = static_cast<BYTE>(value >> 8);
}

IproPixels CHostPicture::ToPixels() const {
    IproPixels pixels{width, height, {}};
    pixels.argb.resize(static_cast<std::size_t>(width) * height);
    const LONG first = channels == 4 ? 1 : 0;
    for (LONG y = 0; y < height; ++y) {
        for (LONG x = 0; x < width; ++x) {
            const auto level = [&](LONG c) {
                return static_cast<std::uint32_t>(Level8(x, y, channels == 1 ? 0 : first + c));
            };
            pixels.At(x, y) = 0xFF000000u | level(0) << 16 | level(1) << 8 | level(2);
        }
    }
    return pixels;
}

CHostPicture CHostPicture::Pattern(LONG width, LONG height, LONG channels) {
    CHostPicture picture{width, height, channels, {}};
    picture.samples.resize(static_cast<std::size_t>(width) * height * channels);
    std::size_t at = 0;
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x)
            for (LONG c = 0; c < channels; ++c)
                picture.samples[at++] = static_cast<BYTE>((x * 7 + y * 13 + c * 61) & 0xFF);
    return picture;
}

CHostPicture CHostPicture::Pattern16(LONG width, LONG height, LONG channels) {
    CHostPicture picture{width, height, channels, {}, 16};
    picture.samples.resize(picture.RowBytes() * height);
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x)
            for (LONG c = 0; c < channels; ++c)
                picture.SetSample(x, y, c,
                                  static_cast<std::uint32_t>(x * 1031 + y * 3079 + c * 7919) & 0xFFFF);
    return picture;
}

CHostPicture CHostPicture::Solid(LONG width, LONG height, const std::vector<BYTE>& pixel) {
    CHostPicture picture{width, height, static_cast<LONG>(pixel.size()), {}};
    picture.samples.reserve(static_cast<std::size_t>(width) * height * pixel.size());
    for (LONG i = 0; i < width * height; ++i)
        picture.samples.insert(picture.samples.end(), pixel.begin(), pixel.end());
    return picture;
}

CHostPicture CHostPicture::FromPixels(const IproPixels& pixels, LONG channels) {
    CHostPicture picture{pixels.width, pixels.height, channels == 1 ? 1 : 3, {}};
    picture.samples.reserve(pixels.argb.size() * static_cast<std::size_t>(picture.channels));
    for (std::uint32_t pixel : pixels.argb) {
        picture.samples.push_back(static_cast<BYTE>(pixel >> 16));
        if (picture.channels == 3) {
            picture.samples.push_back(static_cast<BYTE>(pixel >> 8));
            picture.samples.push_back(static_cast<BYTE>(pixel));
        }
    }
    return picture;
}

bool CHostPicture::FromImage(IPravonImage& image, CHostPicture& picture) {
    LONG width = 0, height = 0, colorSpace = 0;
    if (PravonErrorPtr(image.GetSize(&width, &height)) || PravonErrorPtr(image.GetColorSpace(&colorSpace)) ||
        width < 1 || height < 1 || !IproLimits::Allowed(width, height))
        return false;
    CHostPicture read;
    read.width = width;
    read.height = height;
    read.bits = static_cast<LONG>(static_cast<std::uint32_t>(colorSpace) >> 24);
    if (read.bits != 8 && read.bits != 16)
        return false;
    PravonPixel first;
    if (PravonErrorPtr(image.GetPixel(0, 0, &first)))
        return false;
    read.channels = first.channels;
    if (read.ColorSpace() == 0)
        return false;
    read.samples.resize(read.RowBytes() * height);
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x) {
            PravonPixel pixel;
            if (PravonErrorPtr(image.GetPixel(x, y, &pixel)) || pixel.channels != read.channels)
                return false;
            for (LONG c = 0; c < read.channels; ++c)
                read.SetSample(x, y, c, pixel.sample[c]);
        }
    picture = std::move(read);
    return true;
}
