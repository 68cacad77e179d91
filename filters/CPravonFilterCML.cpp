#include "CPravonFilterCML.h"

#include "filters/WholeSourceChange.h"
#include "filters/engine/ClearUncovered.h"
#include "filters/engine/ForEachSourcePart.h"
#include "platform/pravon/PravonGraph.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr LONG kLibrary = FourCC("KVCM");

struct OutputSpace {
    char signature[5];
    LONG sixteen;
    LONG eight;
};
constexpr OutputSpace kOutputSpaces[] = {
    {"RGB ", 0x10060201, 0x08060201}, {"CMYK", 0, 0x08080202},          {"GRAY", 0x10020001, 0x08020001},
    {"Lab ", 0x10060204, 0x08060204}, {"HLS ", 0x10060203, 0x08060203}, {"Lch ", 0x10060203, 0x08060203},
    {"YCbr", 0x10060205, 0},
};

// The library calls of one side.
struct Side {
    LONG (*set)(HKVCMCML, LONG, LONG, LONG, const USHORT* const[4]);
    LONG (*info)(HKVCMCML, LONG, bool*, LONG*, LONG*);
    LONG (*get)(HKVCMCML, LONG, USHORT*);
};

Side SideOf(bool output, bool merge) {
    if (output)
        return {merge ? KVCMMergeOutputLUT : KVCMSetOutputLUT, KVCMGetOutputLUTInfo, KVCMGetOutputLUT};
    return {merge ? KVCMMergeInputLUT : KVCMSetInputLUT, KVCMGetInputLUTInfo, KVCMGetInputLUT};
}

} // namespace

CPravonFilterCML::CPravonFilterCML(IPravonManager* manager) : CPravonFilterBase(manager, 1) {}

CPravonFilterCML::~CPravonFilterCML() {
    if (m_object)
        KVCMDestroyCML(m_object);
    m_object = nullptr;
    if (m_engine)
        m_engine->StopUse(this);
    m_engine = nullptr;
}

bool CPravonFilterCML::HasSource() const {
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    GetSources(&sources, &count);
    return count > 0 && sources[0];
}

IPravonError* CPravonFilterCML::SendWholeSourceChanged() {
    return AnnounceWholeSourceChange(*this, kCode);
}

IPravonError* CPravonFilterCML::CheckCML() const {
    CPravonFilterCMLEngine* engine = m_engine.Get();
    if (!engine)
        return PravonFail(kCode, PravonKind::kInvalidState, "the filter has no colour-management engine");
    if (IPravonError* e = engine->ResetParameters(nullptr))
        return PravonContext(e, kCode, "the engine's transform could not be set up");
    if (!m_object) {
        HKVCMCML object = nullptr;
        if (const LONG r = KVCMCreateCML(&object))
            return PravonLibraryFail(kCode, kLibrary, r);
        m_object = object;
    }
    if (m_needsConfigure) {
        if (const LONG r = KVCMSetTransform(m_object, engine->GetCMLTransform()))
            return PravonLibraryFail(kCode, kLibrary, r);
        if (const LONG r = KVCMSetInputBitSize(m_object, m_inputBits))
            return PravonLibraryFail(kCode, kLibrary, r);
        if (const LONG r = KVCMSetOutputBitSize(m_object, m_outputBits))
            return PravonLibraryFail(kCode, kLibrary, r);
        m_needsConfigure = false;
    }
    return nullptr;
}

LONG CPravonFilterCML::Channels(bool output) const {
    if (!m_engine)
        return -1;
    LONG channels = 0;
    m_engine->GetProfileInfo(output, nullptr, &channels);
    return channels;
}

bool CPravonFilterCML::AnyLUTs(bool output) const {
    if (!m_object || !m_engine)
        return false;
    const Side side = SideOf(output, false);
    const LONG channels = std::min<LONG>(Channels(output), 4);
    for (LONG c = 0; c < channels; ++c) {
        bool merged = true;
        LONG inBits = 0;
        LONG outBits = 0;
        if (side.info(m_object, c, &merged, &inBits, &outBits) != KVCM_OK)
            return false;
        if (!merged || (inBits > 0 && outBits > 0))
            return true;
    }
    return false;
}

bool CPravonFilterCML::NeedsFiltering() const {
    CPravonFilterCMLEngine* engine = m_engine.Get();
    if (!engine)
        return false;
    if (m_inputBits != m_outputBits || AnyLUTs(false) || AnyLUTs(true))
        return true;
    PravonFile source;
    PravonFile destination;
    engine->GetProfiles(&source, &destination, nullptr);
    return !(source.path == destination.path || engine->AreProfilesEquivalent());
}

IPravonError* CPravonFilterCML::GetFilteredColorSpace(IPravonDataSource* const*, LONG, LONG* colorSpace) {
    *colorSpace = 0;
    if (!m_engine)
        return nullptr;
    char signature[4] = {};
    m_engine->GetProfileInfo(true, signature, nullptr);
    for (const OutputSpace& entry : kOutputSpaces) {
        if (std::memcmp(entry.signature, signature, 4) == 0)
            *colorSpace = m_outputBits == 16 ? entry.sixteen : m_outputBits == 8 ? entry.eight : 0;
    }
    return nullptr;
}

IPravonError* CPravonFilterCML::FilterColorSpace(IPravonDataSource* source, ChangeColorSpace* change) {
    if (!IsEnabled() || IsPassThrough())
        return CPravonFilterBase::FilterColorSpace(source, change);
    SetCacheCheck();
    if (m_engine && HasSource())
        return SendWholeSourceChanged();
    return nullptr;
}

IPravonError* CPravonFilterCML::SetCMLEngine(CPravonFilterCMLEngine* engine, bool notify) {
    const bool announce = notify && HasSource();
    LONG previous = 0;
    if (announce && m_engine)
        if (IPravonError* e = GetColorSpace(&previous))
            return e;

    if (m_object)
        if (const LONG r = KVCMSetTransform(m_object, nullptr))
            return PravonLibraryFail(kCode, kLibrary, r);
    if (m_engine)
        m_engine->StopUse(this);
    // Letting the old engine go may delete it.
    m_engine = engine;
    m_needsConfigure = true;
    SetCacheCheck();
    if (engine) {
        engine->StartUse(this);
        if (m_object)
            if (const LONG r = KVCMSetTransform(m_object, engine->GetCMLTransform()))
                return PravonLibraryFail(kCode, kLibrary, r);
    }
    SetPassThrough(!NeedsFiltering());

    if (!announce || !IsEnabled() || !m_engine)
        return nullptr;
    LONG now = 0;
    if (IPravonError* e = GetColorSpace(&now))
        return e;
    if (now == 0)
        return nullptr;
    ChangeColorSpace change{previous, now};
    return PravonSendDataNotification(this, PravonNotification::kColorSpace, &change);
}

IPravonError* CPravonFilterCML::SetBitsPerComponent(bool output, LONG bits, bool notify) {
    if (bits != 8 && bits != 16)
        return PravonFail(kCode, PravonKind::kBadArgument, "bits per component must be 8 or 16");
    LONG& stored = output ? m_outputBits : m_inputBits;
    if (stored == bits)
        return nullptr;
    LONG before = 0;
    GetFilteredColorSpace(nullptr, 0, &before);
    stored = bits;
    m_needsConfigure = true;
    SetCacheCheck();
    SetPassThrough(!NeedsFiltering());

    if (!notify || !IsEnabled() || !HasSource() || !m_engine)
        return nullptr;
    if (!output)
        return SendWholeSourceChanged();
    ChangeColorSpace change{before, 0};
    GetFilteredColorSpace(nullptr, 0, &change.newColorSpace);
    return PravonSendDataNotification(this, PravonNotification::kColorSpace, &change);
}

IPravonError* CPravonFilterCML::SetLUT(bool output, bool merge, const USHORT* const* tables, LONG inBits,
                                       LONG outBits, LONG count, bool notify) {
    if (!tables)
        count = 0;
    if (count < 0 || count > 4)
        return PravonFail(kCode, PravonKind::kOutOfRange, "at most four lookup tables, one per channel");
    const USHORT* four[4] = {};
    for (LONG c = 0; c < count; ++c)
        four[c] = tables[c];
    const LONG mask = count == 0 ? 15 : (1 << count) - 1;
    return SetLUT(output, merge, inBits, outBits, mask, four, notify);
}

IPravonError* CPravonFilterCML::SetLUT(bool output, bool merge, LONG inBits, LONG outBits, LONG channelMask,
                                       const USHORT* const tables[4], bool notify) {
    const USHORT* given[4] = {};
    bool anyTable = false;
    for (int c = 0; c < 4; ++c) {
        given[c] = tables ? tables[c] : nullptr;
        anyTable = anyTable || given[c];
    }
    const bool sizesInRange = inBits >= 1 && inBits <= 16 && outBits >= 1 && outBits <= 16;
    if (!sizesInRange && !(inBits == 0 && outBits == 0 && !anyTable))
        return PravonFail(kCode, PravonKind::kOutOfRange, "lookup tables take 1 to 16 bits on either side");
    const LONG mask = channelMask & 15;
    if (IPravonError* e = CheckCML())
        return e;

    const Side side = SideOf(output, merge);
    const LONG channels = std::min<LONG>(Channels(output), 4);
    bool unchanged = true;
    for (LONG c = 0; unchanged && c < channels; ++c) {
        if (!(mask & (1 << c)))
            continue;
        bool merged = false;
        LONG heldIn = 0;
        LONG heldOut = 0;
        if (const LONG r = side.info(m_object, c, &merged, &heldIn, &heldOut))
            return PravonLibraryFail(kCode, kLibrary, r);
        unchanged =
            merged == merge && heldIn == (given[c] ? inBits : 0) && heldOut == (given[c] ? outBits : 0);
    }
    if (unchanged && anyTable) {
        std::vector<USHORT> held;
        try {
            held.resize(std::size_t(1) << inBits);
        } catch (const std::bad_alloc&) {
            return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory to compare the lookup tables");
        }
        for (LONG c = 0; unchanged && c < channels; ++c) {
            if (!(mask & (1 << c)) || !given[c])
                continue;
            if (const LONG r = side.get(m_object, c, held.data()))
                return PravonLibraryFail(kCode, kLibrary, r);
            unchanged = std::memcmp(held.data(), given[c], held.size() * sizeof(USHORT)) == 0;
        }
    }
    if (unchanged)
        return nullptr;

    if (const LONG r = side.set(m_object, inBits, outBits, mask, given))
        return PravonLibraryFail(kCode, kLibrary, r);
    SetCacheCheck();
    SetPassThrough(!NeedsFiltering());
    if (notify && IsEnabled() && HasSource())
        return SendWholeSourceChanged();
    return nullptr;
}

IPravonError* CPravonFilterCML::GetLUTInfo(bool output, LONG channel, bool* merged, LONG* inBits,
                                           LONG* outBits) const {
    if (IPravonError* e = CheckCML())
        return e;
    if (const LONG r = SideOf(output, false).info(m_object, channel, merged, inBits, outBits))
        return PravonLibraryFail(kCode, kLibrary, r);
    return nullptr;
}

IPravonError* CPravonFilterCML::GetLUT(bool output, LONG channel, USHORT* table) const {
    if (IPravonError* e = CheckCML())
        return e;
    if (const LONG r = SideOf(output, false).get(m_object, channel, table))
        return PravonLibraryFail(kCode, kLibrary, r);
    return nullptr;
}

IPravonError* CPravonFilterCML::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        if (IPravonError* e = CheckCML())
            return e;
        IPravonDataSource* source = nullptr;
        if (IPravonError* e = GetFirstSource(info, &source))
            return e;

        // The library writes and reads whole pixels of its own formats: every size below is checked against
        // what it will really do before a single pixel moves.
        IPravonDataSource* const* sources = nullptr;
        LONG count = 0;
        GetProcessSources(info, &sources, &count);
        LONG outputSpace = 0;
        if (IPravonError* e = GetFilteredColorSpace(sources, count, &outputSpace))
            return e;
        if (outputSpace == 0)
            return PravonFail(kCode, PravonKind::kUnsupportedColorSpace,
                              "the destination profile has no output colour space at these bits");
        LONG outChannels = 0;
        if (const LONG r = KVCMGetOutputChannels(m_object, &outChannels))
            return PravonLibraryFail(kCode, kLibrary, r);
        if (out.colorSpace != outputSpace || outChannels != PravonColorSpace::Channels(outputSpace))
            return PravonFail(kCode, PravonKind::kUnsupportedColorSpace,
                              "the conversion does not write the output colour space");
        LONG sourceSpace = 0;
        if (IPravonError* e = source->GetColorSpace(&sourceSpace))
            return e;
        LONG inChannels = 0;
        if (const LONG r = KVCMGetInputChannels(m_object, &inChannels))
            return PravonLibraryFail(kCode, kLibrary, r);
        if (PravonColorSpace::BitsPerSample(sourceSpace) != m_inputBits ||
            PravonColorSpace::Channels(sourceSpace) != inChannels)
            return PravonFail(kCode, PravonKind::kUnsupportedColorSpace,
                              "the source's pixels are not what the conversion reads");
        const std::size_t outPixel = static_cast<std::size_t>(GetBitsPerPixel(outputSpace) / 8);
        const std::size_t inPixel = static_cast<std::size_t>(GetBitsPerPixel(sourceSpace) / 8);

        // One pixel converted in place tells of a conversion that cannot be built before any source tile
        // is locked. The scratch holds the widest pixel the library has on either side.
        BYTE scratch[64] = {};
        if (const LONG r = KVCMProcessInterleavedData(m_object, 1, 1, scratch, scratch, 0, 0))
            return PravonLibraryFail(kCode, kLibrary, r);

        if (IPravonError* e = m_run.Find(source, sourceSpace, nullptr))
            return e;
        if (IPravonError* e = ClearOutsideSource(source, out, static_cast<LONG>(outPixel * 8)))
            return e;
        if (m_run.Maps())
            return ConvertThroughRun(out, inPixel, outPixel, inChannels);

        // The whole tile is converted, not only its invalid part.
        return ForEachSourcePart(source, out.rect, [&](const CSourcePart& piece) -> IPravonError* {
            const PravonRect& part = piece.part;
            const BYTE* from =
                piece.Row(part.top) + static_cast<std::size_t>(part.left - piece.tileRect.left) * inPixel;
            BYTE* to = out.Row(part.top) + static_cast<std::size_t>(part.left - out.rect.left) * outPixel;
            if (const LONG r =
                    KVCMProcessInterleavedData(m_object, part.right - part.left, part.bottom - part.top, from,
                                               to, piece.rowBytes, out.rowBytes))
                return PravonLibraryFail(kCode, kLibrary, r);
            return nullptr;
        });
    });
}

IPravonError* CPravonFilterCML::ConvertThroughRun(const COutputTile& out, std::size_t inPixel,
                                                  std::size_t outPixel, LONG channels) {
    const WORD* tables[CPravonFilterLut::kMaxTables] = {};
    m_run.GetTables(tables);
    return ForEachSourcePart(m_run.GetSource(), out.rect, [&](const CSourcePart& piece) -> IPravonError* {
        const PravonRect& part = piece.part;
        const BYTE* from =
            piece.Row(part.top) + static_cast<std::size_t>(part.left - piece.tileRect.left) * inPixel;
        BYTE* to = out.Row(part.top) + static_cast<std::size_t>(part.left - out.rect.left) * outPixel;
        if (const LONG r = KVCMProcessInterleavedDataThroughTables(
                m_object, part.right - part.left, part.bottom - part.top, from, to, piece.rowBytes,
                out.rowBytes, tables, channels))
            return PravonLibraryFail(kCode, kLibrary, r);
        return nullptr;
    });
}
