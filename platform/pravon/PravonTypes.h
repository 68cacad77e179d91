// Records of the imaging framework: rectangles, palettes, pixels, file names, colour-space codes and
// notification types.
#pragma once

#include "platform/win/wintypes.h"

#include <algorithm>
#include <string>

// Right and bottom are exclusive.
struct PravonRect {
    LONG left = 0;
    LONG top = 0;
    LONG right = 0;
    LONG bottom = 0;

    LONG Width() const { return right - left; }
    LONG Height() const { return bottom - top; }
};

struct PravonDblRect {
    double left = 0;
    double top = 0;
    double right = 0;
    double bottom = 0;

    double Width() const { return right - left; }
    double Height() const { return bottom - top; }
};

class CPravonRect : public PravonRect {
public:
    CPravonRect() = default;
    CPravonRect(LONG l, LONG t, LONG r, LONG b) : PravonRect{l, t, r, b} {}
    CPravonRect(const PravonRect& r) : PravonRect(r) {}

    bool Empty() const { return right <= left || bottom <= top; }
    bool Contains(LONG x, LONG y) const { return x >= left && x < right && y >= top && y < bottom; }

    // The common part; an empty result keeps its corners ordered (right >= left, bottom >= top).
    CPravonRect Intersect(const PravonRect& o) const {
        CPravonRect r(std::max(left, o.left), std::max(top, o.top), std::min(right, o.right),
                      std::min(bottom, o.bottom));
        if (r.right < r.left)
            r.right = r.left;
        if (r.bottom < r.top)
            r.bottom = r.top;
        return r;
    }
    // The bounding box of both; an empty operand adds nothing.
    CPravonRect Union(const PravonRect& o) const {
        if (CPravonRect(o).Empty())
            return *this;
        if (Empty())
            return o;
        return CPravonRect(std::min(left, o.left), std::min(top, o.top), std::max(right, o.right),
                           std::max(bottom, o.bottom));
    }
};

inline bool operator==(const PravonRect& a, const PravonRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

struct PravonPaletteEntry {
    BYTE blue = 0;
    BYTE green = 0;
    BYTE red = 0;
    BYTE reserved = 0;
};

struct PravonPalette {
    LONG count = 0;
    PravonPaletteEntry entries[256] = {};
};

bool operator==(const PravonPalette& a, const PravonPalette& b);

// One pixel as read by IPravonDataSource::GetPixel: the samples as stored (indices for palette images).
struct PravonPixel {
    LONG colorSpace = 0;
    LONG channels = 0;
    ULONG sample[8] = {};
};

struct PravonFile {
    std::string path;
};

// Colour-space codes: bits per sample in the high byte, channels in bits 17 to 23.
namespace PravonColorSpace {
constexpr LONG kGrey8 = 0x08020001;
constexpr LONG kGrey16 = 0x10020001;
constexpr LONG kRGB8 = 0x08060201;
constexpr LONG kRGB16 = 0x10060201;
constexpr LONG kBGR8 = 0x08060206;
constexpr LONG kRawMosaic16 = 0x10020401;
constexpr LONG kLCh8 = 0x08060203;
constexpr LONG kLCh16 = 0x10060203;
constexpr LONG kLab8 = 0x08060204;
constexpr LONG kLab16 = 0x10060204;
constexpr LONG kYCbCr16 = 0x10060205;
constexpr LONG kCMYK8 = 0x08080202;

constexpr LONG BitsPerSample(LONG code) { return static_cast<LONG>(static_cast<ULONG>(code) >> 24); }
constexpr LONG Channels(LONG code) { return static_cast<LONG>((static_cast<ULONG>(code) >> 17) & 0x7F); }
constexpr LONG BitsPerPixel(LONG code) { return BitsPerSample(code) * Channels(code); }
} // namespace PravonColorSpace

// Types of data notifications. Below 0 are user-defined; data of each is given beside it.
namespace PravonNotification {
constexpr LONG kData = 0;         // PravonRect*
constexpr LONG kSize = 1;         // IPravonDataDestination::ChangeSize*
constexpr LONG kColorSpace = 2;   // IPravonDataDestination::ChangeColorSpace*
constexpr LONG kResolution = 3;   // IPravonDataDestination::ChangeResolution*
constexpr LONG kTransform = 4;    // IPravonDataDestination::ChangeTransform*
constexpr LONG kPalette = 5;      // IPravonDataDestination::ChangePalette*
constexpr LONG kDestroyed = 6;    // no data
constexpr LONG kUpdateAll = 7;    // no data
} // namespace PravonNotification
