// The loaders' factory.
#include "CKvRawSampleLoad.h"
#include "CPravonPngLoad.h"

#include <new>

namespace {

constexpr LONG kComponent = FourCC("KvLd");
constexpr ULONG kSignatureBytes = 8;

} // namespace

IPravonError* IPravonLoad::CreateLoad(IPravonLoad** load) {
    if (!load)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no pointer for the loader");
    *load = new (std::nothrow) CKvRawSampleLoad();
    if (!*load)
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for a loader");
    return nullptr;
}

IPravonError* IPravonLoad::CreateLoad(IPravonFileStream* stream, IPravonLoad** load) {
    if (!load || !stream)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no stream or no pointer for the loader");
    *load = nullptr;
    BYTE signature[kSignatureBytes] = {};
    ULONG done = 0;
    if (IPravonError* e = stream->Seek(0))
        return PravonContext(e, kComponent, "cannot go to the start of the file");
    if (IPravonError* e = stream->Read(signature, kSignatureBytes, &done))
        return PravonContext(e, kComponent, "cannot read the file's first bytes");
    if (IPravonError* e = stream->Seek(0))
        return PravonContext(e, kComponent, "cannot go back to the start of the file");
    if (CPravonPngLoad::HasSignature(signature, done))
        *load = new (std::nothrow) CPravonPngLoad();
    else
        *load = new (std::nothrow) CKvRawSampleLoad();
    if (!*load)
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for a loader");
    return nullptr;
}

IPravonError* IPravonLoad::GetSubImageColorSpace(LONG, LONG*) {
    return PravonFail(kComponent, PravonKind::kBadArgument, "the file has no such sub-image");
}

IPravonError* IPravonLoad::LoadSubImage(LONG, IPravonImage*) {
    return PravonFail(kComponent, PravonKind::kBadArgument, "the file has no such sub-image");
}
