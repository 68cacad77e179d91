// The in-memory tag control: a map from tag number to (kind, bytes) and a camera-model code. Loaders fill
// it from a file; tests fill it directly and make chosen operations fail to reach callers' error paths.
#pragma once

#include "IPravonTagControl.h"

#include <atomic>
#include <map>
#include <mutex>
#include <vector>

class CPravonTagControl final : public IPravonTagControl {
public:
    // Error component code of the tag control.
    static constexpr LONG kComponent = 0x54616773; // "Tags"

    enum class Operation { kRead, kWrite, kRemove, kCameraModel };

    // Starts with one reference, no tags and no camera-model code.
    CPravonTagControl();

    bool TagExists(ULONG tag) override;
    ULONG GetTagSize(ULONG tag) override;
    LONG GetTagKind(ULONG tag) override;
    IPravonError* ReadTag(ULONG tag, LONG type, ULONG count, void* buffer) override;
    IPravonError* WriteTag(ULONG tag, LONG type, ULONG count, const void* data) override;
    IPravonError* RemoveTag(ULONG tag) override;
    IPravonError* GetCameraModel(WORD* model) override;

    ULONG AddRef() override;
    ULONG Release() override;

    void SetCameraModel(WORD model);
    void ClearCameraModel();

    // From now on `operation` on `tag` fails with `kind` (the tag is ignored for kCameraModel), until
    // ClearFailures.
    void SetFailure(Operation operation, ULONG tag, LONG kind);
    void ClearFailures();

    // The type code of the last read of the tag (successful or not); 0 when it was never read.
    LONG GetLastReadType(ULONG tag) const;
    std::size_t GetTagCount() const;

private:
    ~CPravonTagControl() override = default;

    struct Tag {
        LONG kind = 0;
        std::vector<BYTE> bytes;
    };

    LONG FailureFor(Operation operation, ULONG tag) const;

    std::atomic<ULONG> m_references{1};
    mutable std::mutex m_mutex;
    std::map<ULONG, Tag> m_tags;
    std::map<ULONG, LONG> m_lastReadType;
    std::map<std::pair<Operation, ULONG>, LONG> m_failures;
    bool m_hasModel = false;
    WORD m_model = 0;
};
