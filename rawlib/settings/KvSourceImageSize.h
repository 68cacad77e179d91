// The size of an image's source as its tags give it, and as development will make it: demosaicing of
// some mosaic colour spaces trims a border, and some camera models always develop to a fixed size.
#pragma once

#include "platform/quasel/IPravonTagControl.h"

class ImageProperties;

namespace KvSourceTags {
inline constexpr ULONG kWidth = 0x10000;
inline constexpr ULONG kHeight = 0x10001;
inline constexpr ULONG kColorSpace = 0x10002;
} // namespace KvSourceTags

// Width and height from the source tags; with `developed`, the size after development. False, with both
// outputs 0, when a tag cannot be read, a size is negative or smaller than the border taken off it.
bool GetSourceImageSize(IPravonTagControl* tags, LONG* width, LONG* height, bool developed);

// The size the development of a snapshot's source gives: the source's own size, fixed or trimmed for some
// mosaic models; with `fullSize`, the limited camera models ask their raw processor (keeping the source
// size when it cannot answer). False, with the outputs untouched, when there is no source, its size or
// colour space cannot be read, or it is smaller than the border taken off it.
bool GetDevelopedImageSize(const ImageProperties& properties, LONG* width, LONG* height, bool fullSize);

// The camera-model code of the image's tags; 0 when they carry none.
WORD GetCameraModelCode(IPravonTagControl* tags);
