#include "CDustMap.h"

#include "CDustAnalyzer.h"
#include "CDustImageDecoder.h"
#include "CDustMapBuild.h"

#include <new>

CDustMap::CDustMap(IPravonManager* manager) : m_manager(manager) {}

CDustMap::~CDustMap() = default;

void CDustMap::Clear() {
    m_build.reset();
    m_header = DustMapHeader();
    std::vector<WORD>().swap(m_toneTable);
    std::vector<BYTE>().swap(m_compressedTone);
    m_correction.reset();
    m_second.reset();
    m_correctionBlocks.Clear();
    m_secondBlocks.Clear();
    m_state = kIdle;
}

IPravonError* CDustMap::Begin(CDustAnalyzer* analyzer, IPravonDataSource* source, bool linearSamples,
                              bool rawMode) {
    using namespace KvDust;
    if (!analyzer || !source)
        return PravonFail(kComponent, PravonKind::kBadArgument, "a dust map needs an analysis and an image");
    if (!analyzer->IsComplete())
        return PravonFail(kComponent, kBadBlob, "the dust analysis is not complete");
    if (m_state != kIdle && m_state != kComplete)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the dust map is being built");
    if (!m_manager)
        return PravonFail(kComponent, PravonKind::kBadArgument, "the dust map has no image manager");
    Clear();
    try {
        m_build = std::make_unique<CDustMapBuild>(m_manager);
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory to build the dust map");
    }
    if (IPravonError* e = m_build->Begin(*analyzer, source, linearSamples, rawMode)) {
        Clear();
        return e;
    }
    FollowBuild();
    return nullptr;
}

IPravonError* CDustMap::Step(LONG* position, LONG* total) {
    if (!position || !total)
        return PravonFail(KvDust::kComponent, PravonKind::kBadArgument, "Step needs places for its progress");
    if (m_state == kIdle) {
        *position = 0;
        *total = 0;
        return PravonFail(KvDust::kComponent, PravonKind::kInvalidState, "no dust map is being built");
    }
    if (m_state == kComplete) {
        *position = m_lastTotal;
        *total = m_lastTotal;
        return nullptr;
    }
    if (IPravonError* e = m_build->Step()) {
        Clear();
        *position = 0;
        *total = 0;
        return e;
    }
    *position = m_build->GetPosition();
    *total = m_build->GetTotal();
    FollowBuild();
    return nullptr;
}

void CDustMap::FollowBuild() {
    if (m_build->IsDone())
        TakeResult();
    else
        m_state = m_build->GetPhase();
}

void CDustMap::TakeResult() {
    // Only a finished build hands over what the filter reads.
    m_lastTotal = m_build->GetTotal();
    CDustMapBuild::Result& r = m_build->GetResult();
    m_header = r.header;
    m_toneTable = std::move(r.toneTable);
    m_compressedTone = std::move(r.compressedTone);
    m_correction = std::move(r.correction);
    m_second = std::move(r.second);
    m_correctionBlocks = std::move(r.correctionBlocks);
    m_secondBlocks = std::move(r.secondBlocks);
    if (!m_correction) {
        m_second.reset();
        m_header.correctionLength = 0;
        m_header.secondLength = 0;
    }
    m_build.reset();
    m_state = kComplete;
}

void CDustMap::Abort() {
    if (m_state != kComplete)
        Clear();
}

IPravonError* CDustMap::ReadData(ULONG size, const BYTE* data) {
    using namespace KvDust;
    if (!m_manager)
        return PravonFail(kComponent, PravonKind::kBadArgument, "the dust map has no image manager");
    if (!data && size > 0)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no dust map bytes");
    DustMapHeader header;
    if (IPravonError* e = ReadMapHeader(data, size, &header))
        return e;
    const BYTE* tone = data + header.GetDataOffset();
    std::vector<WORD> toneTable;
    if (IPravonError* e = UncompressToneTable(tone, header.toneLength, header.toneEntries, &toneTable))
        return PravonContext(e, kComponent, "the dust map's tone table cannot be read");
    std::vector<BYTE> compressedTone;
    try {
        compressedTone.assign(tone, tone + header.toneLength);
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the dust map's tone table");
    }

    bool flip = false;
    double angle = 0;
    SplitOrientation(header.orientation, &flip, &angle);
    const auto decode = [&](const BYTE* stream, ULONG length, PravonImagePtr* image, CDustBlockList* blocks,
                            const char* what) -> IPravonError* {
        if (length == 0)
            return nullptr;
        return PravonContext(
            CDustImageDecoder::Decode(m_manager, stream, length, static_cast<LONG>(header.width),
                                      static_cast<LONG>(header.height), flip, angle, image, blocks),
            kComponent, what);
    };
    PravonImagePtr correction;
    PravonImagePtr second;
    CDustBlockList correctionBlocks;
    CDustBlockList secondBlocks;
    const BYTE* correctionStream = tone + header.toneLength;
    if (IPravonError* e = decode(correctionStream, header.correctionLength, &correction, &correctionBlocks,
                                 "the dust map's correction map cannot be decoded"))
        return e;
    if (IPravonError* e = decode(correctionStream + header.correctionLength, header.secondLength, &second,
                                 &secondBlocks, "the dust map's second map cannot be decoded"))
        return e;

    header.version = 1;
    header.headerSize = kHeaderSize;
    m_header = header;
    m_toneTable = std::move(toneTable);
    m_compressedTone = std::move(compressedTone);
    m_correction = std::move(correction);
    m_second = std::move(second);
    m_correctionBlocks = std::move(correctionBlocks);
    m_secondBlocks = std::move(secondBlocks);
    m_build.reset();
    m_lastTotal = 1;
    m_state = kComplete;
    return nullptr;
}

ULONG CDustMap::GetDataSize() const {
    if (!IsComplete())
        return 0;
    const std::uint64_t size = KvDust::kMapHeaderBytes + std::uint64_t{m_compressedTone.size()} +
                               m_correctionBlocks.GetLength() + m_secondBlocks.GetLength();
    return size > UINT32_MAX ? 0 : static_cast<ULONG>(size);
}

IPravonError* CDustMap::WriteData(ULONG capacity, BYTE* buffer) const {
    if (!IsComplete())
        return PravonFail(KvDust::kComponent, KvDust::kBadBlob, "only a complete dust map can be written");
    return KvDust::WriteMap(m_header, m_compressedTone, m_correctionBlocks, m_secondBlocks, capacity, buffer);
}

LONG CDustMap::LoadDustMap(IPravonManager* manager, const BYTE* data, ULONG size,
                           std::shared_ptr<CDustMap>* map) {
    if (!manager || !data || size == 0 || !map)
        return kLoadBadArgument;
    map->reset();
    std::shared_ptr<CDustMap> loaded;
    try {
        loaded = std::make_shared<CDustMap>(manager);
    } catch (const std::bad_alloc&) {
        return kLoadOutOfMemory;
    }
    if (PravonErrorPtr(loaded->ReadData(size, data)))
        return kLoadUnreadable;
    *map = std::move(loaded);
    return kLoaded;
}
