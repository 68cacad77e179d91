#include "CFltLch.h"
#include "rawlib/foundation/KvProcessLocks.h"

#include "KvFilterAnnounce.h"

#include "filters/engine/ClearUncovered.h"
#include "filters/engine/ForEachSourcePart.h"
#include "rawlib/foundation/CSyncGlobal.h"
#include "rawlib/settings/KvLchCalibration.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>

namespace {

// The chroma formula's angles: its factor is tan(h x kTurnSpan + kQuarterTurn) for h in -1..1.
const double kQuarterTurn = std::atan(1.0);
const double kTurnSpan = std::atan(4.0) - kQuarterTurn;

// Half a percent step of the 8-bit and 16-bit lightness weights, and where they start.
constexpr double kWeightStep8 = 0.03125;
constexpr double kWeightStep16 = 1.0 / 8192;
constexpr double kWeightOffset = 0.125;

// A prepared calibration value of 1.0 (half range) at 8 and 16 bits is 32 and 8224 chroma steps.
constexpr double kCalibrationScale8 = 64;
constexpr double kCalibrationScale16 = 16448;

// A boost above the calibration value of a hue grows this much faster than the chroma it adds to.
constexpr double kBoostSlope = 1.25;

Kv::CSyncGlobal& g_weightsLock = KvLibrary::g_lchTables;
std::atomic<bool> g_weightsMade{false};
double g_weights8[256];
double g_weights16[65536];

bool ValidBits(LONG bits) {
    return bits >= 1 && bits <= CFltLch::kMaxBits;
}

// 2^indexBits entries of the identity ramp, entry k = k x 2^valueBits / 2^indexBits.
std::vector<WORD> IdentityRamp(LONG indexBits, LONG valueBits) {
    std::vector<WORD> ramp(std::size_t{1} << indexBits);
    for (std::size_t k = 0; k < ramp.size(); ++k)
        ramp[k] = static_cast<WORD>((std::uint64_t{k} << valueBits) >> indexBits);
    return ramp;
}

// A table as handed over, copied; a null table is the identity ramp.
std::vector<WORD> CopyTable(const WORD* table, LONG indexBits, LONG valueBits) {
    if (!table)
        return IdentityRamp(indexBits, valueBits);
    return std::vector<WORD>(table, table + (std::size_t{1} << indexBits));
}

bool SameTable(const std::vector<WORD>& stored, const WORD* table, LONG indexBits, LONG valueBits) {
    if (!table)
        return stored == IdentityRamp(indexBits, valueBits);
    const std::size_t entries = std::size_t{1} << indexBits;
    return stored.size() == entries && std::memcmp(stored.data(), table, entries * sizeof(WORD)) == 0;
}

// The chroma formula. L, C and H are the source's samples; calibration (null: none) holds the hold-back
// value by hue; maximum is the largest sample.
inline LONG Chroma(const double* weights, const double* factors, const WORD* calibration, LONG lightness,
                   LONG chroma, LONG hue, LONG percent, LONG maximum) {
    const double step = std::floor(static_cast<double>(percent) * weights[lightness]);
    if (step == 0)
        return chroma;
    const double f = factors[static_cast<int>(step) + CFltLch::kMaxPercent];
    if (f == 1)
        return chroma;
    const double reduced = f * chroma;
    if (f < 1)
        return static_cast<LONG>(reduced);
    const LONG held = calibration ? calibration[hue] : 0;
    if (held >= chroma)
        return chroma;
    const double capped = (chroma - held) * kBoostSlope * f + held;
    return static_cast<LONG>(std::min({reduced, capped, static_cast<double>(maximum)}));
}

LONG PercentOf(LONG value) {
    return std::clamp<LONG>(static_cast<SHORT>(value), -CFltLch::kMaxPercent, CFltLch::kMaxPercent);
}

template <class Sample>
void EditRow(const Sample* from, Sample* to, std::size_t count, const CFltLch::CEdit& edit,
             const double* weights, const double* factors, const WORD* calibration, LONG maximum) {
    for (std::size_t x = 0; x < count; ++x, from += 3, to += 3) {
        const LONG lightness = from[0];
        const LONG chroma = from[1];
        const LONG hue = from[2];
        const LONG percent = edit.percentByHue ? static_cast<SHORT>(edit.percentByHue[hue]) : edit.percent;
        to[1] = static_cast<Sample>(
            Chroma(weights, factors, calibration, lightness, chroma, hue, percent, maximum));
        to[0] = static_cast<Sample>(edit.lightness ? edit.lightness[lightness] : lightness);
        to[2] = static_cast<Sample>(edit.hue ? edit.hue[hue] : hue);
    }
}

} // namespace

CFltLch::CFltLch(IPravonManager* manager) : CPravonFilterBase(manager, 1) {}

CFltLch::~CFltLch() = default;

const double* CFltLch::GetLightnessWeights(LONG colorSpace) {
    if (!g_weightsMade.load(std::memory_order_acquire)) {
        CKvSyncGuard guard(g_weightsLock);
        if (!g_weightsMade.load(std::memory_order_relaxed)) {
            for (int j = 0; j < 256; ++j)
                g_weights8[j] = std::clamp(j * kWeightStep8 - kWeightOffset, 0.0, 1.0);
            for (int i = 0; i < 65536; ++i)
                g_weights16[i] = std::clamp(i * kWeightStep16 - kWeightOffset, 0.0, 1.0);
            g_weightsMade.store(true, std::memory_order_release);
        }
    }
    return colorSpace == PravonColorSpace::kLCh8 ? g_weights8 : g_weights16;
}

const double* CFltLch::GetChromaFactors() {
    // floor(percent x weight) takes only these 201 values: the tangent is taken once for each.
    static const std::array<double, 2 * kMaxPercent + 1> factors = [] {
        std::array<double, 2 * kMaxPercent + 1> f{};
        for (int step = -kMaxPercent; step <= kMaxPercent; ++step) {
            const double h = step * 0.01;
            f[step + kMaxPercent] = std::tan(h * kTurnSpan + kQuarterTurn);
        }
        return f;
    }();
    return factors.data();
}

IPravonError* CFltLch::SetCurves(const WORD* const* tables, LONG indexBits, LONG valueBits, LONG tableCount,
                                 bool notify) {
    // The neutral curves: identity lightness and hue, and the chroma adjustment at half range (0 %).
    static const WORD kRamp[2] = {0, 65535};
    static const WORD kNoChromaChange[2] = {32768, 32768};
    static const WORD* const kNeutral[kCurveCount] = {kRamp, kRamp, kNoChromaChange};
    if (!tables || tableCount == 0) {
        tables = kNeutral;
        indexBits = 1;
        valueBits = 16;
        tableCount = kCurveCount;
    }
    if (tableCount < 0 || tableCount > kCurveCount + 1)
        return PravonFail(kComponent, PravonKind::kOutOfRange, "the LCh filter takes up to four tables");
    if (!ValidBits(indexBits) || !ValidBits(valueBits))
        return PravonFail(kComponent, PravonKind::kOutOfRange, "LCh tables have 1 to 16 bits");
    const bool withCalibration = tableCount == kCurveCount + 1;
    const LONG count = std::min(tableCount, kCurveCount);

    bool same = indexBits == m_indexBits && valueBits == m_valueBits && count == m_curveCount;
    for (LONG i = 0; same && i < count; ++i)
        same = SameTable(m_curves[i], tables[i], indexBits, valueBits);
    if (same && !withCalibration)
        return nullptr;

    std::vector<WORD> copies[kCurveCount];
    try {
        for (LONG i = 0; !same && i < count; ++i)
            copies[i] = CopyTable(tables[i], indexBits, valueBits);
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the LCh curves");
    }
    if (withCalibration)
        if (IPravonError* e = SetCalibrationTable(tables[kCurveCount], indexBits, valueBits))
            return e;
    if (!same) {
        for (LONG i = 0; i < kCurveCount; ++i)
            m_curves[i] = std::move(copies[i]);
        m_curveCount = count;
        m_indexBits = indexBits;
        m_valueBits = valueBits;
    }
    SetCacheCheck();
    m_curvesChanged = true;
    return KvShouldAnnounce(*this, notify) ? KvAnnounceWholeOutput(*this) : nullptr;
}

IPravonError* CFltLch::SetCalibrationTable(const WORD* table, LONG indexBits, LONG valueBits) {
    if (!ValidBits(indexBits) || !ValidBits(valueBits))
        return PravonFail(kComponent, PravonKind::kOutOfRange, "LCh tables have 1 to 16 bits");
    if (indexBits == m_calibrationIndexBits && valueBits == m_calibrationValueBits &&
        SameTable(m_calibration, table, indexBits, valueBits))
        return nullptr;
    try {
        m_calibration = CopyTable(table, indexBits, valueBits);
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the calibration table");
    }
    SetCacheCheck();
    m_calibrationIndexBits = indexBits;
    m_calibrationValueBits = valueBits;
    m_calibrationNeedsPreparing = true;
    return nullptr;
}

IPravonError* CFltLch::LoadCalibrationFile(const char* fileName) {
    std::vector<WORD> table;
    if (IPravonError* e = KvReadCalibrationTable(fileName, table))
        return e;
    if (IPravonError* e = SetCalibrationTable(table.data(), kMaxBits, kMaxBits))
        return e;
    m_calibrationLoaded = true;
    return nullptr;
}

IPravonError* CFltLch::LoadCalibration() {
    return LoadCalibrationFile(kKvLchCalibrationFile);
}

IPravonError* CFltLch::ResampleTable(LONG depth, const WORD* source, LONG indexBits, LONG valueBits,
                                     std::vector<WORD>* target) {
    if (!source || !target)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no table to resample");
    if (!ValidBits(depth) || !ValidBits(indexBits) || !ValidBits(valueBits))
        return PravonFail(kComponent, PravonKind::kOutOfRange, "LCh tables have 1 to 16 bits");
    const std::uint32_t entries = std::uint32_t{1} << depth;
    try {
        target->resize(entries);
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for a prepared table");
    }
    const std::uint32_t sourceTop = (std::uint32_t{1} << valueBits) - 1;
    const std::uint32_t targetTop = entries - 1;
    // A value of valueBits bits as one of depth bits.
    const auto convert = [&](std::uint32_t v) -> std::uint32_t {
        v = std::min(v, sourceTop);
        if (valueBits >= depth)
            return v >> (valueBits - depth);
        if (2 * valueBits >= depth)
            return (v << (depth - valueBits)) | (v >> (2 * valueBits - depth));
        return v * targetTop / sourceTop;
    };
    const std::uint64_t sourceSpan = (std::uint64_t{1} << indexBits) - 1;
    const std::uint64_t targetSpan = targetTop;
    WORD* out = target->data();
    if (indexBits < depth) {
        // Entry k lies at source position k x sourceSpan / targetSpan; the fraction is kept as a remainder.
        for (std::uint64_t k = 0; k < entries; ++k) {
            const std::uint64_t position = k * sourceSpan;
            const std::uint64_t index = position / targetSpan;
            const std::int64_t remainder = static_cast<std::int64_t>(position % targetSpan);
            const std::int64_t a = convert(source[index]);
            if (remainder == 0) {
                out[k] = static_cast<WORD>(a);
                continue;
            }
            const std::int64_t b = convert(source[index + 1]);
            out[k] = static_cast<WORD>(a + (b - a) * remainder / static_cast<std::int64_t>(targetSpan));
        }
    } else {
        for (std::uint64_t k = 0; k < entries; ++k)
            out[k] = static_cast<WORD>(convert(source[k * sourceSpan / targetSpan]));
    }
    return nullptr;
}

IPravonError* CFltLch::PrepareTables(LONG depth, bool reallocate) {
    if (depth != 8 && depth != 16)
        return PravonFail(kComponent, PravonKind::kOutOfRange, "LCh tables are prepared for 8 or 16 bits");
    const double range = static_cast<double>(std::uint32_t{1} << depth);
    LONG prepared = 0;
    for (; prepared < m_curveCount; ++prepared)
        if (IPravonError* e = ResampleTable(depth, m_curves[prepared].data(), m_indexBits, m_valueBits,
                                            &m_prepared[prepared]))
            return e;
    if (prepared > kChromaCurve)
        for (WORD& e : m_prepared[kChromaCurve])
            e = static_cast<WORD>(static_cast<SHORT>(e / range * 200 - kMaxPercent));
    for (LONG i = prepared; i < kCurveCount; ++i)
        std::vector<WORD>().swap(m_prepared[i]);

    if ((m_calibrationNeedsPreparing || reallocate) && HasCalibrationTable()) {
        if (IPravonError* e = ResampleTable(depth, m_calibration.data(), m_calibrationIndexBits,
                                            m_calibrationValueBits, &m_preparedCalibration))
            return e;
        const double scale = depth == 8 ? kCalibrationScale8 : kCalibrationScale16;
        for (WORD& e : m_preparedCalibration)
            e = static_cast<WORD>(e / range * scale);
        m_calibrationNeedsPreparing = false;
    }
    m_curvesChanged = false;
    m_preparedDepth = depth;
    return nullptr;
}

LONG CFltLch::AdjustChroma8(BYTE lightness, BYTE chroma, BYTE hue, LONG percent) const {
    const WORD* calibration =
        m_preparedDepth == 8 && !m_preparedCalibration.empty() ? m_preparedCalibration.data() : nullptr;
    return Chroma(GetLightnessWeights(PravonColorSpace::kLCh8), GetChromaFactors(), calibration, lightness,
                  chroma, hue, PercentOf(percent), 255);
}

LONG CFltLch::AdjustChroma16(WORD lightness, WORD chroma, WORD hue, LONG percent) const {
    const WORD* calibration =
        m_preparedDepth == 16 && !m_preparedCalibration.empty() ? m_preparedCalibration.data() : nullptr;
    return Chroma(GetLightnessWeights(PravonColorSpace::kLCh16), GetChromaFactors(), calibration, lightness,
                  chroma, hue, PercentOf(percent), 65535);
}

IPravonError* CFltLch::GetLchDepth(IPravonDataSource* source, LONG* depth) {
    LONG colorSpace = 0;
    if (IPravonError* e = source->GetColorSpace(&colorSpace))
        return e;
    if (colorSpace != PravonColorSpace::kLCh8 && colorSpace != PravonColorSpace::kLCh16)
        return PravonFail(kComponent, PravonKind::kUnsupportedColorSpace,
                          "the LCh filters take LCh images only");
    *depth = colorSpace == PravonColorSpace::kLCh8 ? 8 : 16;
    return nullptr;
}

IPravonError* CFltLch::EditTile(const COutputTile& out, IPravonDataSource* source, LONG depth,
                                const CEdit& edit) const {
    const double* weights =
        GetLightnessWeights(depth == 8 ? PravonColorSpace::kLCh8 : PravonColorSpace::kLCh16);
    const double* factors = GetChromaFactors();
    const std::size_t entries = std::size_t{1} << depth;
    const WORD* calibration =
        m_preparedCalibration.size() == entries ? m_preparedCalibration.data() : nullptr;
    CEdit limited = edit;
    limited.percent = PercentOf(edit.percent);
    const std::size_t pixelBytes = 3 * static_cast<std::size_t>(depth) / 8;
    return ForEachSourcePart(source, out.invalid, [&](const CSourcePart& piece) -> IPravonError* {
        const CPravonRect& part = piece.part;
        const std::size_t count = static_cast<std::size_t>(part.right - part.left);
        for (LONG y = part.top; y < part.bottom; ++y) {
            const BYTE* from =
                piece.Row(y) + static_cast<std::size_t>(part.left - piece.tileRect.left) * pixelBytes;
            BYTE* to = out.Row(y) + static_cast<std::size_t>(part.left - out.rect.left) * pixelBytes;
            if (depth == 8)
                EditRow(from, to, count, limited, weights, factors, calibration, 255);
            else
                EditRow(reinterpret_cast<const WORD*>(from), reinterpret_cast<WORD*>(to), count, limited,
                        weights, factors, calibration, 65535);
        }
        return nullptr;
    });
}

IPravonError* CFltLch::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        IPravonDataSource* source = nullptr;
        if (IPravonError* e = GetFirstSource(info, &source))
            return e;
        LONG depth = 0;
        if (IPravonError* e = GetLchDepth(source, &depth))
            return e;
        if (m_curveCount < kCurveCount || !HasCalibrationTable())
            return PravonFail(kComponent, PravonKind::kInvalidState,
                              "the LCh editor needs its three curves and its calibration table");
        // A calibration table set on its own is prepared too, not only one that came with curves.
        if (m_curvesChanged || m_calibrationNeedsPreparing || depth != m_preparedDepth)
            if (IPravonError* e = PrepareTables(depth, depth != m_preparedDepth))
                return e;
        CEdit edit;
        edit.lightness = m_prepared[kLightnessCurve].data();
        edit.hue = m_prepared[kHueCurve].data();
        edit.percentByHue = m_prepared[kChromaCurve].data();
        if (IPravonError* e = ClearOutsideSource(source, out, PravonColorSpace::BitsPerPixel(out.colorSpace)))
            return e;
        return EditTile(out, source, depth, edit);
    });
}
