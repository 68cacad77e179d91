#include "KvEmbeddedProfile.h"

#include "platform/quasel/IPravonFileStream.h"

#include <algorithm>
#include <new>
#include <vector>

namespace {

struct FileStreamReleaser {
    void operator()(IPravonFileStream* stream) const {
        if (stream)
            stream->Release();
    }
};

bool WriteFile(const std::string& path, const std::vector<BYTE>& bytes) {
    IPravonFileStream* raw = nullptr;
    if (PravonErrorPtr(IPravonFileStream::CreateFileStream(&raw)) || !raw)
        return false;
    const std::unique_ptr<IPravonFileStream, FileStreamReleaser> stream(raw);
    if (PravonErrorPtr(stream->Open(PravonFile{path}, IPravonFileStream::kWrite)))
        return false;
    const bool written = !PravonErrorPtr(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size())));
    const bool closed = !PravonErrorPtr(stream->Close());
    return written && closed;
}

} // namespace

bool SaveEmbeddedProfile(IPravonTagControl* tags, std::string& path, bool fromSettings) {
    if (!tags)
        return false;
    const ULONG tag = fromSettings ? KvProfileTags::kFromSettings : KvProfileTags::kEmbedded;
    const LONG kind = tags->GetTagKind(tag);
    const ULONG size = tags->GetTagSize(tag);
    if (kind == KvProfileTags::kKindPath) {
        // The field need not be terminated, nor filled.
        std::vector<char> field(std::min(size, KvProfileTags::kPathField));
        if (field.empty() ||
            PravonErrorPtr(tags->ReadTag(tag, kind, static_cast<ULONG>(field.size()), field.data())))
            return false;
        const auto end = std::find(field.begin(), field.end(), '\0');
        if (end == field.begin())
            return false;
        path.assign(field.begin(), end);
        return true;
    }
    if (kind != KvProfileTags::kKindBytes || size == 0)
        return false;
    std::vector<BYTE> bytes;
    try {
        bytes.resize(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (PravonErrorPtr(tags->ReadTag(tag, kind, size, bytes.data())))
        return false;
    return WriteFile(path, bytes);
}
