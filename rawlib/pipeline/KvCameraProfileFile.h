// The generated camera input profile of a raw image as a file of the profile folder: named from its
// parameter record, reused when a file of exactly the generated size is there, otherwise built and written.
// This is where the chain's camera-engine choice gets the input profile of a raw source.
#pragma once

#include "CCameraProfileGen.h"
#include "rawlib/foundation/CKvString.h"

#include <vector>

// The prefix of generated camera profiles' names.
inline constexpr const char* kCameraProfilePrefix = "Kvx_";

// The file name for a record: the generator's name with the prefix, or for the custom tone curve "Kvx_U"
// followed by a hash of the record and its curve, so that different curves never share a file. Empty when
// the generator refuses the record.
CKvString CameraProfileFileName(const CameraProfileParams& params);

// The profile's path, the file existing with the generated size; empty when the record is refused, the
// profile cannot be built or written, or, in fixed-profile mode, the fixed profile is missing or has
// another size (that file is only ever read). A new file is written under a temporary name in the same
// folder and then renamed, so a reused name never holds half a profile.
CKvString GenerateCameraProfile(const CameraProfileParams& params);

// The prefix of the profiles of a camera file's own colour; the name goes on with a hash of the content.
inline constexpr const char* kFileColorProfilePrefix = "Kvx_F";

// A camera file's own profile written into the profile folder under a name made from a hash of its bytes
// (reused when a file of that name and size is there, written as GenerateCameraProfile writes); its path,
// empty when it cannot be written.
CKvString SaveFileColorProfile(const std::vector<BYTE>& bytes);
