// Moving rows between the dust engine's buffers and images: handing rows to an image tile by tile, and
// reading a rectangle of a source with positions outside it mapped back to its nearest edge pixel.
#pragma once

#include "platform/pravon/IPravonImage.h"

#include <cstddef>

namespace KvDust {

// Copies the rectangle (which must lie inside the image) from `data`, `stride` bytes a row, into the
// image's tiles and marks every tile it touches valid: callers fill whole tiles.
IPravonError* PutRect(IPravonImage* image, const PravonRect& rect, const BYTE* data, std::size_t stride);

// Reads the rectangle of an 8-bit single-channel source into `out`, `stride` bytes a row; a position
// outside the source reads its nearest pixel inside (the source must not be empty).
IPravonError* GetClampedRect(IPravonDataSource* source, const PravonRect& rect, BYTE* out,
                             std::size_t stride);

} // namespace KvDust
