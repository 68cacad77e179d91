// A picture the host serves for an item: 8-bit samples of one channel (grey), three (red, green, blue) or
// four (a fourth byte first, which the host does not show, then red, green, blue), pixel after pixel, row
// after row.
#pragma once

#include "platform/win/wintypes.h"

#include <vector>

// The colour-space code of the host's four-channel pictures: 8 bits a sample, four channels.
constexpr LONG kHostFourChannels8 = 0x08080201;

struct CHostPicture {
    LONG width = 0;
    LONG height = 0;
    LONG channels = 3;
    std::vector<BYTE> samples;

    // The imaging framework's code for the channel count (0 for a count the host does not serve).
    LONG ColorSpace() const;
    BYTE Sample(LONG x, LONG y, LONG channel) const {
        return samples[(static_cast<std::size_t>(y) * width + x) * channels + channel];
    }
    // Every sample a different mix of its position and channel: (x * 7 + y * 13 + channel * 61) mod 256.
    static CHostPicture Pattern(LONG width, LONG height, LONG channels);
    // Every pixel the same samples (their count is the channel count).
    static CHostPicture Solid(LONG width, LONG height, const std::vector<BYTE>& pixel);
};
