// Decodes the compressed images of the dust blobs: one zlib stream of width x height 8-bit samples, rows top
// to bottom without padding, into a new single-channel image at resolution 300. The stream's bytes are kept
// as a block list too, so that what was read can be written out again byte for byte.
#pragma once

#include "CDustBlockList.h"

#include "platform/pravon/IPravonImage.h"

class CDustImageDecoder {
public:
    // Makes the image through the manager, sets its size, colour space, resolution and orientation, then
    // inflates the stream one strip of the image's tile rows at a time and hands each strip to the image.
    // The stream must end exactly with the last row and take all `length` bytes: a stream that ends early,
    // runs on, or carries trailing bytes is kind 1003; zlib's failures carry its code. Nothing is handed
    // out on failure.
    static IPravonError* Decode(IPravonManager* manager, const BYTE* stream, std::size_t length, LONG width,
                                LONG height, bool flip, double angle, PravonImagePtr* image,
                                CDustBlockList* blocks);
};
