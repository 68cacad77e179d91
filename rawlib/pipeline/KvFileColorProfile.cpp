#include "KvFileColorProfile.h"

#include "CKvFileSavingUtilities.h"
#include "KvCameraProfileFile.h"

#include "rawlib/settings/ImageProperties.h"

#include <new>
#include <vector>

namespace {

// Bytes, not a profile: ICC profiles begin with a 128-byte header.
constexpr unsigned long kSmallestProfile = 128;
constexpr LONG kTagTypeBytes = 1;

} // namespace

bool UsesFileColorProfile(const ImageProperties& snapshot) {
    IPravonTagControl* tags = snapshot.tagControl;
    if (!tags || !tags->TagExists(kFileColorProfileTag))
        return false;
    if (!snapshot.rawFlag)
        return true;
    return !ImageProperties::IsLimitedModel(snapshot.cameraModelCode) &&
           CKvFileSavingUtilities::GeneratorCamera(snapshot.cameraModelCode) == 0;
}

std::string FileColorProfilePath(const ImageProperties& snapshot) {
    if (!UsesFileColorProfile(snapshot))
        return {};
    IPravonTagControl* tags = snapshot.tagControl;
    const ULONG size = tags->GetTagSize(kFileColorProfileTag);
    if (size < kSmallestProfile)
        return {};
    std::vector<BYTE> bytes;
    try {
        bytes.resize(size);
    } catch (const std::bad_alloc&) {
        return {};
    }
    if (PravonErrorPtr(tags->ReadTag(kFileColorProfileTag, kTagTypeBytes, size, bytes.data())))
        return {};
    return static_cast<const char*>(SaveFileColorProfile(bytes));
}
