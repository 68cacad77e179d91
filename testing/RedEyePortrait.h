// Synthetic portraits for red-eye tests: skin with dark irises around saturated red pupils (disks of
// the pixels within a radius of a centre), in 8- or 16-bit RGB, and the boxes those pupils cover; and
// saved red-eye regions written by hand.
#pragma once

#include "TestPlane.h"

#include <vector>

namespace kvtest {

struct TestPupil {
    LONG x, y, radius;
};

// 0x08060201 or 0x10060201; 16-bit samples are the 8-bit colours times 257 plus a little ripple, so the
// low bytes carry something too.
TestPlane MakePortrait(LONG width, LONG height, LONG colorSpace, const std::vector<TestPupil>& pupils);

// The pixels of a pupil: within `radius` of its centre (dx² + dy² <= radius²), inside the image.
bool InPupil(const TestPupil& pupil, LONG x, LONG y);
// The box of the pupil's pixels inside the image: left, top, last column, last row.
PravonRect PupilBox(const TestPupil& pupil, LONG width, LONG height);
// What a corrected pupil pixel holds: its red replaced by the mean of green and blue.
TestPlane CorrectedPortrait(const TestPlane& portrait, const std::vector<TestPupil>& pupils);

// The red-eye library's saved form of a region with this box (left, top, last column, last row):
// "RRG1", version 1, the box, a pixel count, and FNV-1a of the 28 bytes before, all 32-bit little-endian.
std::vector<BYTE> SavedRedEyeRegion(const PravonRect& box, DWORD pixels = 1);

} // namespace kvtest
