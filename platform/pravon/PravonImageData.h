// Pixels written into an image in one call: the counterpart of IPravonDataSource::GetData for images whose
// pixels are whole bytes, for whoever fills an image from a flat buffer (a host's pictures, say).
#pragma once

#include "IPravonImage.h"

#include <cstddef>

// Copies the buffer's rows (rowBytes apart, the rectangle's top-left pixel first) into the part of the
// rectangle that lies on the image, and marks the tiles written valid. Kind 1010 for a colour space whose
// pixels are not whole bytes, kind 1014 for no image or buffer or rows shorter than the rectangle.
IPravonError* PravonSetData(IPravonImage* image, const PravonRect& rect, const void* buffer,
                            std::size_t rowBytes);
