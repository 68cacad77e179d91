// The per-pixel work of the dust map's phases, each over one rectangle of the image and reading the whole
// planes that earlier phases finished: luminance, its 8-bit encoding, the reference's sampling maps, the
// dust classes, local contrast flags, the correction radius, the texture mask and the correction values.
#pragma once

#include "platform/pravon/IPravonError.h"
#include "platform/pravon/PravonTypes.h"

#include <cstddef>
#include <vector>

namespace KvDust {

// A plane of one value per pixel, rows packed `stride` values apart.
template <class T>
struct DustPlane {
    LONG width = 0;
    LONG height = 0;
    std::size_t stride = 0;
    std::vector<T> data;

    // Kind 1005 when there is no memory for it.
    IPravonError* Allocate(LONG w, LONG h, std::size_t rowStride = 0);
    void Release() {
        std::vector<T>().swap(data);
        width = height = 0;
        stride = 0;
    }
    T* Row(LONG y) { return data.data() + static_cast<std::size_t>(y) * stride; }
    const T* Row(LONG y) const { return data.data() + static_cast<std::size_t>(y) * stride; }
    T At(LONG x, LONG y) const { return Row(y)[x]; }
};
using DustPlane8 = DustPlane<BYTE>;
using DustPlane16 = DustPlane<WORD>;

// The no-dust value of the correction map and of reference samples outside the reference.
constexpr BYTE kNoDust = 128;

// Y = (R + 2G + B) / 4 of `count` pixels of 3 samples (8 or 16 bits), each through `forward` first when
// given; 8-bit samples without it are widened by 257.
void LuminanceRow(const BYTE* pixels, bool sixteen, LONG count, const WORD* forward, WORD* out);

// 16-bit luminance to 8 bits in the square-root domain: entry i = sqrt(i / 65535) x 255, rounded.
const BYTE* LuminanceEncoding();

// The scale at which the image samples the reference, chosen from the aspect ratios of both.
void SamplingScale(LONG width, LONG height, LONG referenceWidth, LONG referenceHeight, double* sx,
                   double* sy);
// `count` positions (12 fraction bits) on a reference side, centred on both: entry i samples the reference
// at its centre plus scale x (i - (count - 1) / 2).
std::vector<LONG> SamplingMap(LONG count, LONG referenceSide, double scale);

struct DustClassInput {
    const DustPlane8* reference;      // the oriented reference
    const std::vector<LONG>* columns; // width + 14 entries, column -7 first
    const std::vector<LONG>* rows;    // height + 14 entries
    const DustPlane16* luminance;
};
// Dust classes 0..5 of the rectangle from how dark the reference is and how bright the image, confirmed by
// the classes around each pixel.
void Classify(const DustClassInput& in, const PravonRect& rect, DustPlane8* classes);

// The threshold of the local-contrast test for a camera type, sensitivity word and group.
LONG ContrastThreshold(ULONG cameraType, LONG sensitivity, LONG group);
// The group of the threshold table: 0 for mosaics, else by the image's threshold word, 4 higher for
// quality factors above 15.
LONG ContrastGroup(bool mosaic, ULONG thresholdWord, LONG qualityFactor);

// Local contrast flags of the rectangle from the 8-bit luminance around each pixel (rings out to 81 pixels
// and the 5 x 5 window), with dark pixels and dust classes of 2 or more marked as the correction needs.
void LocalContrast(const DustPlane8& luminance8, const DustPlane16& luminance, const DustPlane8& classes,
                   LONG threshold, const PravonRect& rect, DustPlane8* flags);

// The correction radius: where any dust class lies in the camera's window, a radius from the flags.
void Spread(const DustPlane8& classes, const DustPlane8& flags, ULONG cameraType, const PravonRect& rect,
            DustPlane8* spread);

// 255 where the pixel is locally textured and more than 3 pixels on the ring of radius 8 are too.
void SecondMap(const DustPlane8& flags, const PravonRect& rect, DustPlane8* second);

// The correction values: each pixel's luminance against the mean of its window, in 1/128, smoothed where
// the correction is light.
void Correction(const DustPlane8& spread, const DustPlane8& second, const DustPlane16& luminance,
                const PravonRect& rect, DustPlane8* correction);

} // namespace KvDust
