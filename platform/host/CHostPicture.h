// A picture the host serves for an item: samples of one channel (grey), three (red, green, blue) or four (a
// fourth sample first, which the host does not show, then red, green, blue), pixel after pixel, row after
// row; 8 bits a sample, or 16 (two bytes each, the low byte first, as the imaging framework keeps them).
#pragma once

#include "platform/win/wintypes.h"
#include "platform/zizoraz/IproPixels.h"

class IPravonImage;

#include <cstdint>
#include <vector>

// The colour-space codes of the host's four-channel pictures: 8 or 16 bits a sample, four channels.
constexpr LONG kHostFourChannels8 = 0x08080201;
constexpr LONG kHostFourChannels16 = 0x10080201;

struct CHostPicture {
    LONG width = 0;
    LONG height = 0;
    LONG channels = 3;
    std::vector<BYTE> samples;
    LONG bits = 8;

    // The imaging framework's code for the channel count and depth (0 for one the host does not serve).
    LONG ColorSpace() const;
    std::size_t SampleBytes() const { return bits == 16 ? 2 : 1; }
    std::size_t RowBytes() const { return static_cast<std::size_t>(width) * channels * SampleBytes(); }
    // A sample at the picture's own depth.
    std::uint32_t Sample(LONG x, LONG y, LONG channel) const {
        const std::size_t at =
            ((static_cast<std::size_t>(y) * width + x) * channels + channel) * SampleBytes();
        return bits == 16 ? static_cast<std::uint32_t>(samples[at] | samples[at + 1] << 8) : samples[at];
    }
    // A sample as 8 bits: a 16-bit one rounded to the nearest of 0 .. 255 (v / 257).
    BYTE Level8(LONG x, LONG y, LONG channel) const;
    // Sets a sample at the picture's own depth (samples already sized).
    void SetSample(LONG x, LONG y, LONG channel, std::uint32_t value);
    // The picture as the canvas library's pixels, opaque, in 8 bits.
    IproPixels ToPixels() const;

    // Every sample a different mix of its position and channel: (x * 7 + y * 13 + channel * 61) mod 256.
    static CHostPicture Pattern(LONG width, LONG height, LONG channels);
    // The 16-bit counterpart, whose low bytes vary too: (x * 1031 + y * 3079 + channel * 7919) mod 65536.
    static CHostPicture Pattern16(LONG width, LONG height, LONG channels);
    // Every pixel the same samples (their count is the channel count).
    static CHostPicture Solid(LONG width, LONG height, const std::vector<BYTE>& pixel);
    // The canvas library's pixels as an 8-bit picture of one channel (their red) or three.
    static CHostPicture FromPixels(const IproPixels& pixels, LONG channels);
    // An imaging-framework image of 8 or 16 bits and one, three or four channels (as the host serves
    // them) as a picture of its samples; false for any other image or one that cannot be read.
    static bool FromImage(IPravonImage& image, CHostPicture& picture);
};
