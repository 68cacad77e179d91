#include "CKvDustRemoval.h"

#include "KvRecordCursor.h"
#include "KvStateIds.h"

#include "rawlib/filters/dust/CDustAnalyzer.h"
#include "rawlib/filters/dust/CDustReference.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

namespace {

// A copy of the map through its stored form, on the map's own manager; null when any step fails.
std::shared_ptr<CDustMap> CopyMap(const CDustMap& map) {
    const ULONG size = map.GetDataSize();
    if (size == 0)
        return nullptr;
    try {
        std::vector<BYTE> blob(size);
        if (PravonErrorPtr(map.WriteData(size, blob.data())))
            return nullptr;
        std::shared_ptr<CDustMap> copy;
        if (CDustMap::LoadDustMap(map.GetManager(), blob.data(), size, &copy) != CDustMap::kLoaded)
            return nullptr;
        return copy;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

} // namespace

CKvDustRemoval::CKvDustRemoval(const CKvDustRemoval& other) {
    CopyFrom(other);
}

CKvDustRemoval& CKvDustRemoval::operator=(const CKvDustRemoval& other) {
    // Resetting first would free what is about to be copied.
    if (this != &other) {
        Reset();
        CopyFrom(other);
    }
    return *this;
}

void CKvDustRemoval::CopyFrom(const CKvDustRemoval& other) {
    if (other.m_reference && SetReferenceSize(other.m_referenceSize))
        std::memcpy(m_reference.get(), other.m_reference.get(), m_referenceSize);
    m_stamp = other.m_stamp;
    m_firstExtra = other.m_firstExtra;
    m_secondExtra = other.m_secondExtra;
    if (other.m_map)
        m_map = CopyMap(*other.m_map);
}

void CKvDustRemoval::Reset() {
    m_referenceSize = 0;
    m_reference.reset();
    m_stamp = Stamp();
    m_firstExtra = 0;
    m_secondExtra = 0;
    m_map.reset();
}

bool CKvDustRemoval::operator==(const CKvDustRemoval& other) const {
    return m_referenceSize == other.m_referenceSize &&
           (m_referenceSize == 0 ||
            std::memcmp(m_reference.get(), other.m_reference.get(), m_referenceSize) == 0) &&
           m_stamp == other.m_stamp && m_firstExtra == other.m_firstExtra &&
           m_secondExtra == other.m_secondExtra;
}

bool CKvDustRemoval::SetReferenceSize(DWORD size) {
    m_reference.reset();
    m_referenceSize = 0;
    if (size == 0)
        return true;
    m_reference.reset(new (std::nothrow) BYTE[size]);
    if (!m_reference)
        return false;
    m_referenceSize = size;
    return true;
}

LONG CKvDustRemoval::LoadDustReference(IPravonManager* manager, const BYTE* data, DWORD size) {
    if (!manager || !data || size == 0)
        return kBadArgument;
    if (!SetReferenceSize(size))
        return kOutOfMemory;
    std::memcpy(m_reference.get(), data, size);
    return kDone;
}

namespace {

// Steps an analysis or a map to its end, reporting each step's progress mapped onto [base, base + span].
template <class Engine>
LONG RunSteps(Engine& engine, CKvDustRemoval::Progress progress, void* context, LONG base, LONG span) {
    for (;;) {
        LONG position = 0;
        LONG total = 0;
        if (PravonErrorPtr(engine.Step(&position, &total)))
            return CKvDustRemoval::kBuildFailed;
        const LONG percent =
            base + static_cast<LONG>(total > 0 ? std::int64_t{position} * span / total : std::int64_t{span});
        if (progress && !progress(CKvDustRemoval::kProgressStep, percent, context)) {
            engine.Abort();
            PravonErrorPtr(PravonFail(KvDust::kComponent, PravonKind::kInvalidState, "Cancelled"));
            return CKvDustRemoval::kBuildCancelled;
        }
        if (position >= total)
            return CKvDustRemoval::kBuilt;
    }
}

constexpr LONG kAnalysisPercent = 5;

} // namespace

LONG CKvDustRemoval::BuildDustMap(IPravonManager* manager, IPravonDataSource* source, IPravonTagControl* tags,
                                  bool linearSamples, bool rawMode, Progress progress, void* context) {
    try {
        const LONG result = RunBuild(manager, source, tags, linearSamples, rawMode, progress, context);
        if (result != kBuilt && result != kBuildBadArgument && result != kBuildNoReference)
            m_map.reset();
        return result;
    } catch (const std::bad_alloc&) {
        m_map.reset();
        return kBuildOutOfMemory;
    }
}

LONG CKvDustRemoval::RunBuild(IPravonManager* manager, IPravonDataSource* source, IPravonTagControl* tags,
                              bool linearSamples, bool rawMode, Progress progress, void* context) {
    if (!manager || !tags || !source)
        return kBuildBadArgument;
    m_map.reset();
    if (!m_reference || m_referenceSize == 0)
        return kBuildNoReference;
    if (progress && !progress(kProgressStart, 0, context))
        return kBuildCancelled;
    CDustReference reference(manager);
    if (PravonErrorPtr(reference.Load(m_referenceSize, m_reference.get())))
        return kBuildNoReference;
    CDustAnalyzer analyzer(manager);
    if (PravonErrorPtr(analyzer.Begin(&reference, tags)))
        return kBuildFailed;
    if (const LONG r = RunSteps(analyzer, progress, context, 0, kAnalysisPercent); r != kBuilt)
        return r;
    std::shared_ptr<CDustMap> map = std::make_shared<CDustMap>(manager);
    if (PravonErrorPtr(map->Begin(&analyzer, source, linearSamples, rawMode)))
        return kBuildFailed;
    if (const LONG r = RunSteps(*map, progress, context, kAnalysisPercent, 100 - kAnalysisPercent);
        r != kBuilt)
        return r;
    if (!map->IsComplete())
        return kBuildFailed;
    m_map = std::move(map);
    if (progress)
        progress(kProgressEnd, 100, context);
    return kBuilt;
}

IPravonError* CKvDustRemoval::ComputeDustMap(IPravonManager* manager, IPravonDataSource* source,
                                             IPravonTagControl* tags, bool linearSamples, bool rawMode,
                                             CategoryProgress progress, void* context, LONG category) {
    struct Relay {
        CategoryProgress progress;
        void* context;
        LONG category;
    } relay{progress, context, category};
    const Progress forward = [](LONG, LONG percent, void* r) {
        const auto* relay = static_cast<const Relay*>(r);
        return relay->progress(relay->category, percent, relay->context);
    };
    const LONG result =
        BuildDustMap(manager, source, tags, linearSamples, rawMode, progress ? forward : nullptr, &relay);
    switch (result) {
    case kBuilt:
        return nullptr;
    case kBuildCancelled:
        return PravonFail(KvDust::kComponent, PravonKind::kInvalidState, "Cancelled");
    case kBuildBadArgument:
        return PravonFail(KvDust::kComponent, PravonKind::kBadArgument,
                          "the dust map needs an image and its tags");
    case kBuildOutOfMemory:
        return PravonFail(KvDust::kComponent, PravonKind::kOutOfMemory, "no memory for the dust map");
    case kBuildNoReference:
        return PravonFail(KvDust::kComponent, KvDust::kBadBlob, "no usable dust reference");
    default:
        return PravonFail(KvDust::kComponent, PravonKind::kNoSource, "the dust map cannot be built");
    }
}

LONG CKvDustRemoval::LoadDustMap(IPravonManager* manager, const BYTE* data, DWORD size) {
    return CDustMap::LoadDustMap(manager, data, size, &m_map);
}

int CKvDustRemoval::WriteState(BYTE* buffer, int size) {
    CKvRecordWriter w(buffer, size, KvStateIds::kDustRemoval, kVersion);
    w.PutU32(m_referenceSize);
    w.PutBytes(m_reference.get(), m_referenceSize);
    w.PutU16(m_stamp.year);
    w.PutU8(m_stamp.month);
    w.PutU8(m_stamp.day);
    w.PutU8(m_stamp.hour);
    w.PutU8(m_stamp.minute);
    w.PutU8(m_stamp.second);
    w.PutU16(m_firstExtra);
    w.PutU16(m_secondExtra);
    return w.Finish();
}

int CKvDustRemoval::ReadState(const BYTE* buffer, int size) {
    return KvReadRecord(*this, buffer, size, KvStateIds::kDustRemoval, KvVersionPolicy::kExact, kVersion,
                        [](CKvRecordReader& r, WORD, CKvDustRemoval& t) {
                            DWORD n = 0;
                            r.GetU32(n);
                            // The stated count is checked against the bytes present before anything is
                            // allocated; a count beyond them reads no reference.
                            if (n > 0 && r.Has(n) && t.SetReferenceSize(n))
                                r.GetBytes(t.m_reference.get(), n);
                            else
                                r.Skip(n);
                            r.GetU16(t.m_stamp.year);
                            r.GetU8(t.m_stamp.month);
                            r.GetU8(t.m_stamp.day);
                            r.GetU8(t.m_stamp.hour);
                            r.GetU8(t.m_stamp.minute);
                            r.GetU8(t.m_stamp.second);
                            r.GetU16(t.m_firstExtra);
                            r.GetU16(t.m_secondExtra);
                            return static_cast<int>(
                                std::min<std::uint64_t>(std::uint64_t{n} + kFixedSize, INT_MAX));
                        });
}

const BYTE* CKvDustRemoval::GetStateId() {
    return KvStateIds::kDustRemoval.Data();
}
