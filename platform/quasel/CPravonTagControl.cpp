#include "CPravonTagControl.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace {

std::string TagText(const char* what, ULONG tag) {
    char text[64];
    std::snprintf(text, sizeof text, "%s 0x%X", what, static_cast<unsigned>(tag));
    return text;
}

} // namespace

IPravonError* IPravonTagControl::CreateTagControl(IPravonTagControl** tagControl) {
    if (!tagControl)
        return PravonFail(CPravonTagControl::kComponent, PravonKind::kBadArgument,
                          "no pointer for the tag control");
    *tagControl = nullptr;
    try {
        *tagControl = new CPravonTagControl();
    } catch (const std::bad_alloc&) {
        return PravonFail(CPravonTagControl::kComponent, PravonKind::kOutOfMemory,
                          "no memory for a tag control");
    }
    return nullptr;
}

CPravonTagControl::CPravonTagControl() = default;

bool CPravonTagControl::TagExists(ULONG tag) {
    std::lock_guard lock(m_mutex);
    return m_tags.count(tag) != 0;
}

ULONG CPravonTagControl::GetTagSize(ULONG tag) {
    std::lock_guard lock(m_mutex);
    const auto it = m_tags.find(tag);
    return it == m_tags.end() ? 0 : static_cast<ULONG>(it->second.bytes.size());
}

LONG CPravonTagControl::GetTagKind(ULONG tag) {
    std::lock_guard lock(m_mutex);
    const auto it = m_tags.find(tag);
    return it == m_tags.end() ? 0 : it->second.kind;
}

IPravonError* CPravonTagControl::ReadTag(ULONG tag, LONG type, ULONG count, void* buffer) {
    std::lock_guard lock(m_mutex);
    try {
        m_lastReadType[tag] = type;
    } catch (const std::bad_alloc&) {
    }
    if (const LONG kind = FailureFor(Operation::kRead, tag))
        return PravonFail(kComponent, kind, TagText("cannot read tag", tag));
    const auto it = m_tags.find(tag);
    if (it == m_tags.end())
        return PravonFail(kComponent, PravonKind::kMissingInput, TagText("no tag", tag));
    if (count > it->second.bytes.size())
        return PravonFail(kComponent, PravonKind::kOutOfRange, TagText("read beyond the end of tag", tag));
    if (count == 0)
        return nullptr;
    if (!buffer)
        return PravonFail(kComponent, PravonKind::kBadArgument, TagText("no buffer for tag", tag));
    std::memcpy(buffer, it->second.bytes.data(), count);
    return nullptr;
}

IPravonError* CPravonTagControl::WriteTag(ULONG tag, LONG type, ULONG count, const void* data) {
    if (count != 0 && !data)
        return PravonFail(kComponent, PravonKind::kBadArgument, TagText("no data for tag", tag));
    std::lock_guard lock(m_mutex);
    if (const LONG kind = FailureFor(Operation::kWrite, tag))
        return PravonFail(kComponent, kind, TagText("cannot write tag", tag));
    try {
        const auto* bytes = static_cast<const BYTE*>(data);
        Tag value{type, count ? std::vector<BYTE>(bytes, bytes + count) : std::vector<BYTE>()};
        m_tags[tag] = std::move(value);
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, TagText("no memory for tag", tag));
    }
    return nullptr;
}

IPravonError* CPravonTagControl::RemoveTag(ULONG tag) {
    std::lock_guard lock(m_mutex);
    if (const LONG kind = FailureFor(Operation::kRemove, tag))
        return PravonFail(kComponent, kind, TagText("cannot remove tag", tag));
    m_tags.erase(tag);
    return nullptr;
}

IPravonError* CPravonTagControl::GetCameraModel(WORD* model) {
    if (!model)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no place for the camera model");
    std::lock_guard lock(m_mutex);
    if (const LONG kind = FailureFor(Operation::kCameraModel, 0))
        return PravonFail(kComponent, kind, "cannot read the camera model");
    if (!m_hasModel)
        return PravonFail(kComponent, PravonKind::kMissingInput, "the image carries no camera model");
    *model = m_model;
    return nullptr;
}

ULONG CPravonTagControl::AddRef() {
    return ++m_references;
}

ULONG CPravonTagControl::Release() {
    const ULONG left = --m_references;
    if (left == 0)
        delete this;
    return left;
}

void CPravonTagControl::SetCameraModel(WORD model) {
    std::lock_guard lock(m_mutex);
    m_hasModel = true;
    m_model = model;
}

void CPravonTagControl::ClearCameraModel() {
    std::lock_guard lock(m_mutex);
    m_hasModel = false;
    m_model = 0;
}

void CPravonTagControl::SetFailure(Operation operation, ULONG tag, LONG kind) {
    std::lock_guard lock(m_mutex);
    m_failures[{operation, operation == Operation::kCameraModel ? 0u : tag}] = kind;
}

void CPravonTagControl::ClearFailures() {
    std::lock_guard lock(m_mutex);
    m_failures.clear();
}

LONG CPravonTagControl::GetLastReadType(ULONG tag) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_lastReadType.find(tag);
    return it == m_lastReadType.end() ? 0 : it->second;
}

std::size_t CPravonTagControl::GetTagCount() const {
    std::lock_guard lock(m_mutex);
    return m_tags.size();
}

LONG CPravonTagControl::FailureFor(Operation operation, ULONG tag) const {
    const auto it = m_failures.find({operation, tag});
    return it == m_failures.end() ? 0 : it->second;
}
