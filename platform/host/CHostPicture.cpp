#include "CHostPicture.h"

#include "platform/pravon/PravonTypes.h"

LONG CHostPicture::ColorSpace() const {
    switch (channels) {
    case 1:
        return PravonColorSpace::kGrey8;
    case 3:
        return PravonColorSpace::kRGB8;
    case 4:
        return kHostFourChannels8;
    default:
        return 0;
    }
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

CHostPicture CHostPicture::Solid(LONG width, LONG height, const std::vector<BYTE>& pixel) {
    CHostPicture picture{width, height, static_cast<LONG>(pixel.size()), {}};
    picture.samples.reserve(static_cast<std::size_t>(width) * height * pixel.size());
    for (LONG i = 0; i < width * height; ++i)
        picture.samples.insert(picture.samples.end(), pixel.begin(), pixel.end());
    return picture;
}
