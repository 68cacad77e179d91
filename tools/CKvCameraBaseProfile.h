// The two base profiles of the camera input-profile generator, authored with lcms2: "KVDBase_KRX.icm",
// whose header, white point, input and output curves and B2A0 every generated profile copies (its grid is
// replaced), and "KVMA_KRX.icm", the fixed profile handed on unchanged. Both map camera RGB, taken as
// Adobe RGB (1998) with identity input curves, to CIELAB D50 on a 32-point grid.
#pragma once

#include "platform/win/wintypes.h"

#include <string>
#include <vector>

namespace CKvCameraBaseProfile {

// The file's bytes; empty, with the reason, when lcms2 fails or its layout comes out otherwise.
std::vector<BYTE> Bytes(bool fixedProfile, std::string* problem);

} // namespace CKvCameraBaseProfile
