#include "CProcessRawVendor1.h"

IPravonError* CProcessRawVendor1::GetSize(LONG* width, LONG* height) {
    if (!width || !height)
        return PRAVON_ERROR(nullptr, kComponent, PravonKind::kBadArgument);
    if (IPravonError* inner = GetImageSize(width, height))
        return IPravonError::AddWorker(
            IPravonError::Add(nullptr, kComponent, __LINE__, "the output image's size query failed"), inner);
    return nullptr;
}
