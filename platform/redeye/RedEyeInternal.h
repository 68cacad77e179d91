// What the red-eye library's parts share: the region node behind a ReRegion, pixel access over a checked
// image, and the entry and exit of every call (forced results, the call log).
#pragma once

#include "RedEye.h"
#include "RedEyeTest.h"

#include <cstddef>
#include <optional>
#include <string>

namespace redeye {

// A region as the library keeps it: the public box first, so a ReRegion* is the node's address.
struct RegionNode {
    ReRegion box;
    ReList link;
    DWORD pixelCount; // red pixels the detector found in it
};

RegionNode* NodeOf(const ReRegion* region);
// A new node outside any list; null when memory runs out.
RegionNode* NewRegion(const ReRegion& box, DWORD pixelCount);
void FreeRegion(RegionNode* node);
// Appends a node to a list (the list takes it over).
void Append(ReList* list, RegionNode* node);
std::size_t CountRegions(const ReList* list);

struct Pixel {
    DWORD r, g, b;
};

// Reads and writes the pixels of an image that CheckImage accepted.
class ImageAccess {
public:
    explicit ImageAccess(const ReImage& image);

    LONG Width() const { return m_width; }
    LONG Height() const { return m_height; }
    Pixel Get(LONG x, LONG y) const;
    void SetRed(LONG x, LONG y, DWORD red);
    // A sample's value on the 8-bit scale.
    DWORD Level(DWORD sample) const { return sample >> m_shift; }

private:
    const BYTE* Address(LONG x, LONG y) const;

    BYTE* m_pixels;
    LONG m_width, m_height;
    std::ptrdiff_t m_rowBytes;
    bool m_wide;
    int m_shift;
};

// RE_OK for a well-formed image: its size field, a known format, a positive size, rows that hold their
// pixels, and a camera block of the right size when there is one.
DWORD CheckImage(const ReImage* image);
// "64x48 format 0x1805 camera none" and the like, for the call log.
std::string DescribeImage(const ReImage* image);
std::string DescribeBox(const ReRegion& box);

// Counts the call; when a result is forced for it, logs and gives that result.
std::optional<DWORD> Enter(ReCall call, const std::string& detail);
// Logs the call's result and gives it back.
DWORD Leave(ReCall call, DWORD result, const std::string& detail);

} // namespace redeye
