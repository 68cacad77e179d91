// The input profile that a camera file brings of its own colour (made by the camera raw loader from the
// file's colour matrices and as-shot neutral), for pictures of cameras whose profile the library cannot
// generate: the pictures of every other maker's camera, and linear pictures that hold no mosaic.
#pragma once

#include "platform/quasel/CPravonCameraRawLoad.h"

#include <string>

class ImageProperties;

// The tag the camera raw loader gives the profile's bytes in.
inline constexpr ULONG kFileColorProfileTag = CPravonCameraRawLoad::kCameraColorProfileTag;

// Whether the picture's samples are converted from its file's own profile: it carries one and is either no
// raw mosaic, or a mosaic of a camera that neither the profile generator nor the raw processor knows.
bool UsesFileColorProfile(const ImageProperties& snapshot);

// The profile as a file of the profile folder, named after its content so that every distinct profile has
// a file of its own and an existing one is reused; empty when the picture carries none or it cannot be
// written.
std::string FileColorProfilePath(const ImageProperties& snapshot);
