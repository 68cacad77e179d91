// The loaders' factory.
#include "CKvRawSampleLoad.h"
#include "CPravonCameraRawLoad.h"
#include "CPravonPngLoad.h"

#include <cstring>

#include <new>

namespace {

constexpr LONG kComponent = FourCC("KvLd");
constexpr ULONG kSignatureBytes = 8;
constexpr ULONG kMagicBytes = 4;

// Our own container, or a file too short to tell, which the sample loader refuses in its own words.
bool IsRawSample(const BYTE* signature, ULONG bytes) {
    if (bytes < kMagicBytes)
        return true;
    ULONG magic = 0;
    std::memcpy(&magic, signature, kMagicBytes);
    return magic == CKvRawSampleFile::kMagic;
}

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
    else if (IsRawSample(signature, done))
        *load = new (std::nothrow) CKvRawSampleLoad();
    else
        *load = new (std::nothrow) CPravonCameraRawLoad();
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

IPravonError* IPravonLoad::LoadFile(IPravonManager* manager, const PravonFile& file, IPravonImage** image,
                                    IPravonTagControl** tags, IPravonLoad* loader) {
    if (!manager || !image || !tags)
        return PravonFail(kComponent, PravonKind::kBadArgument,
                          "LoadFile needs a manager and two out pointers");
    *image = nullptr;
    *tags = nullptr;
    IPravonFileStream* rawStream = nullptr;
    if (IPravonError* e = IPravonFileStream::CreateFileStream(&rawStream))
        return e;
    PravonFileStreamPtr stream(rawStream);
    if (IPravonError* e = stream->Open(file, IPravonFileStream::kRead))
        return e;
    IPravonTagControl* rawTags = nullptr;
    if (IPravonError* e = IPravonTagControl::CreateTagControl(&rawTags))
        return e;
    PravonTagControlPtr tagControl(rawTags);
    PravonLoadPtr picked;
    if (!loader) {
        IPravonLoad* rawLoad = nullptr;
        if (IPravonError* e = IPravonLoad::CreateLoad(stream.get(), &rawLoad))
            return e;
        picked.reset(rawLoad);
        loader = rawLoad;
    }
    IPravonLoad* load = loader;
    if (IPravonError* e = load->Open(stream.get(), tagControl.get()))
        return e;
    IPravonImage* rawImage = nullptr;
    if (IPravonError* e = manager->CreateImage(1, &rawImage))
        return e;
    PravonImagePtr loaded(rawImage);
    if (IPravonError* e = load->Begin(loaded.get()))
        return e;
    while (!load->IsComplete())
        if (IPravonError* e = load->Step())
            return e;
    *image = loaded.release();
    *tags = tagControl.release();
    return nullptr;
}
