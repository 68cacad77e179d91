#include "CProcessRawVendor1.h"

IPravonError* CProcessRawVendor1::GetSize(LONG* width, LONG* height) {
    if (!width || !height)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no place for the size");
    // The image's error goes below the processor's own entry.
    if (IPravonError* inner = GetImageSize(width, height))
        return IPravonError::AddWorker(
            IPravonError::Add(nullptr, kComponent, __LINE__, "the output image's size query failed"), inner);
    return nullptr;
}
