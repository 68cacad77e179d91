#include "CDustMapBuild.h"

#include "CDustAnalyzer.h"
#include "KvDustImageRows.h"
#include "KvDustToneTables.h"

#include "filters/CPravonFilterTransform.h"
#include "platform/pravon/PravonGraph.h"
#include "rawlib/filters/CDeBayerSingleHQ4Filter.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

using namespace KvDust;

namespace {

// The camera types whose demosaicing keeps a crop of their own sensor (left, top, right, bottom).
struct SensorCrop {
    ULONG cameraType;
    PravonRect crop;
};
constexpr SensorCrop kSensorCrops[] = {
    {260, {9, 3, 2473, 1635}},
    {1025, {7, 6, 3015, 2006}},
    {1026, {9, 1, 3017, 2001}},
};

constexpr LONG kMinSide = 100;

} // namespace

CDustMapBuild::CDustMapBuild(IPravonManager* manager) : m_manager(manager) {}

CDustMapBuild::~CDustMapBuild() {
    ReleaseFilters();
}

void CDustMapBuild::ReleaseFilters() {
    ReleaseTransform();
    ReleaseDemosaic();
}

void CDustMapBuild::ReleaseTransform() {
    if (m_transform && m_analysed)
        PravonErrorPtr(PravonDisconnect(m_analysed, m_transform.get()));
    m_transform.reset();
}

void CDustMapBuild::ReleaseDemosaic() {
    if (m_demosaic && m_source)
        PravonErrorPtr(PravonDisconnect(m_source, m_demosaic.get()));
    m_demosaic.reset();
}

IPravonError* CDustMapBuild::Begin(const CDustAnalyzer& analyzer, IPravonDataSource* source,
                                   bool linearSamples, bool rawMode) {
    m_source = source;
    m_linear = linearSamples;
    m_cameraType = analyzer.GetCameraType();
    m_thresholdWord = analyzer.GetThresholdWord();
    DustTuning tuning;
    if (IPravonError* e = ReadTuning(analyzer.GetTuning().data(), analyzer.GetTuning().size(), &tuning))
        return e;
    m_sensitivity = tuning.sensitivity;
    m_quality = QualityFactor(tuning.qualityWord);

    if (IPravonError* e = source->GetSize(&m_width, &m_height))
        return e;
    if (IPravonError* e = source->GetColorSpace(&m_sourceColorSpace))
        return e;
    if (m_width < kMinSide || m_height < kMinSide)
        return PravonFail(kComponent, kBadBlob, "dust maps are made for images of at least 100 x 100 pixels");
    m_mosaic = m_sourceColorSpace == PravonColorSpace::kRawMosaic16;
    const bool raw = rawMode || m_mosaic;
    Result& r = m_result;
    if (IPravonError* e = BuildToneTable(m_sourceColorSpace, raw, tuning, &r.toneTable))
        return e;
    if (m_mosaic) {
        if (IPravonError* e = SetUpDemosaic(source, tuning))
            return e;
    }
    if (IPravonError* e = CompressToneTable(r.toneTable, &r.compressedTone))
        return e;

    bool flip = false;
    double angle = 0;
    if (!rawMode) {
        if (IPravonError* e = source->GetTransform(&flip, &angle))
            return e;
    }
    r.header.width = static_cast<ULONG>(m_width);
    r.header.height = static_cast<ULONG>(m_height);
    r.header.orientation = OrientationWord(flip, angle);
    r.header.toneEntries = static_cast<ULONG>(r.toneTable.size());
    r.header.toneLength = static_cast<ULONG>(r.compressedTone.size());

    m_analysed = analyzer.GetAnalysedImage();
    if (!m_analysed) {
        // The analysis found no dust: the map is complete without a correction map.
        ReleaseFilters();
        m_phase = kDone;
        return nullptr;
    }
    LONG referenceWidth = 0;
    LONG referenceHeight = 0;
    if (IPravonError* e = m_analysed->GetSize(&referenceWidth, &referenceHeight))
        return e;
    if (referenceWidth < kMinSide || referenceHeight < kMinSide)
        return PravonFail(kComponent, kBadBlob, "the analysed reference is smaller than 100 x 100 pixels");
    if (IPravonError* e = MakeMapImage(&r.correction))
        return e;
    if (IPravonError* e = MakeMapImage(&r.second))
        return e;
    if (IPravonError* e = r.correction->GetTileSize(&m_tileSize))
        return e;
    m_tileSize = std::max(m_tileSize, LONG{1});
    m_tilesPerRow = (m_width + m_tileSize - 1) / m_tileSize;
    m_tileCount = m_tilesPerRow * ((m_height + m_tileSize - 1) / m_tileSize);

    m_phases.clear();
    if (flip || angle != 0) {
        if (IPravonError* e = SetUpOrientation(m_analysed, flip, angle))
            return e;
        m_phases.push_back(kOrient);
    } else {
        if (IPravonError* e = m_reference.Allocate(referenceWidth, referenceHeight))
            return e;
        if (IPravonError* e = m_analysed->GetData(CPravonRect(0, 0, referenceWidth, referenceHeight),
                                                  m_reference.data.data(), m_reference.stride))
            return e;
    }
    if (m_mosaic)
        m_phases.push_back(kDemosaic);
    for (Phase p : {kLuminance, kLuminance8, kClassify, kContrast, kSpread, kSecondMap, kCorrection,
                    kCompressCorrection, kCompressSecond})
        m_phases.push_back(p);
    m_phaseIndex = 0;
    m_tilesDone = 0;
    m_reverse = false;
    m_phase = m_phases.front() == kLuminance ? kStartLuminance : m_phases.front();
    return nullptr;
}

IPravonError* CDustMapBuild::SetUpDemosaic(IPravonDataSource* source, const DustTuning& tuning) {
    if (!tuning.hasCfa)
        return PravonFail(kComponent, PravonKind::kOutOfRange, "the mosaic has no colour-filter layout");
    try {
        m_demosaic = std::make_unique<CDeBayerSingleHQ4Filter>(m_manager);
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the dust map's demosaicing");
    }
    if (IPravonError* e = PravonConnect(source, m_demosaic.get())) {
        m_demosaic.reset();
        return e;
    }
    HQ4Tuning hq = m_demosaic->GetTuning();
    if (m_cameraType == 259)
        hq.SetBySensitivityBase125(tuning.sensitivity);
    else
        hq.SetBySensitivity(tuning.sensitivity);
    if (IPravonError* e = m_demosaic->SetTuning(hq))
        return e;
    const BYTE cfa[8] = {0,
                         2,
                         0,
                         2,
                         static_cast<BYTE>(tuning.cfaCells >> 24),
                         static_cast<BYTE>(tuning.cfaCells >> 16),
                         static_cast<BYTE>(tuning.cfaCells >> 8),
                         static_cast<BYTE>(tuning.cfaCells)};
    if (IPravonError* e = m_demosaic->SetCFAPattern(cfa, sizeof cfa, false))
        return PravonContext(e, kComponent, "the mosaic's colour-filter layout cannot be demosaiced");
    PravonRect crop = CPravonRect(0, 0, m_width - CDeBayerBase::kBorder, m_height - CDeBayerBase::kBorder);
    for (const SensorCrop& c : kSensorCrops)
        if (c.cameraType == m_cameraType)
            crop = c.crop;
    if (IPravonError* e = m_demosaic->SetCropRect(crop, nullptr, false))
        return e;
    // White balance of red and blue as input curves, where it is not neutral.
    constexpr LONG kCurveBits = 8;
    std::vector<WORD> curves[2];
    for (int i = 0; i < 2; ++i) {
        if (tuning.gains[i] == 1.0)
            continue;
        curves[i].resize(1u << kCurveBits);
        for (std::size_t k = 0; k < curves[i].size(); ++k)
            curves[i][k] = static_cast<WORD>(std::min(65535.0, 257.0 * k * tuning.gains[i]));
    }
    if (!curves[0].empty() || !curves[1].empty()) {
        if (IPravonError* e =
                m_demosaic->SetParameters(kCurveBits, 16, curves[0].empty() ? nullptr : curves[0].data(),
                                          nullptr, curves[1].empty() ? nullptr : curves[1].data(), false))
            return e;
    }
    // The map is made for the demosaiced image.
    return m_demosaic->GetSize(&m_width, &m_height);
}

IPravonError* CDustMapBuild::SetUpOrientation(IPravonImage* analysed, bool flip, double angle) {
    try {
        m_transform = std::make_unique<CPravonFilterTransform>(m_manager);
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for orienting the reference");
    }
    if (IPravonError* e = PravonConnect(analysed, m_transform.get())) {
        m_transform.reset();
        return e;
    }
    if (IPravonError* e = m_transform->SetTransform(flip, angle, true, false))
        return e;
    LONG width = 0;
    LONG height = 0;
    if (IPravonError* e = m_transform->GetSize(&width, &height))
        return e;
    if (IPravonError* e = m_reference.Allocate(width, height))
        return e;
    m_orientTilesPerRow = (width + m_tileSize - 1) / m_tileSize;
    m_orientTiles = m_orientTilesPerRow * ((height + m_tileSize - 1) / m_tileSize);
    return nullptr;
}

IPravonError* CDustMapBuild::MakeMapImage(PravonImagePtr* image) {
    IPravonImage* made = nullptr;
    if (IPravonError* e = m_manager->CreateImage(1, &made))
        return PravonContext(e, kComponent, "no image for the dust map");
    image->reset(made);
    double resolution = 0;
    bool flip = false;
    double angle = 0;
    SplitOrientation(m_result.header.orientation, &flip, &angle);
    if (IPravonError* e = m_source->GetResolution(&resolution))
        return e;
    if (IPravonError* e = made->SetColorSpace(PravonColorSpace::kGrey8))
        return e;
    if (IPravonError* e = made->SetSize(m_width, m_height))
        return e;
    if (IPravonError* e = made->SetResolution(resolution))
        return e;
    return made->SetTransform(flip, angle, false);
}

PravonRect CDustMapBuild::TileRect(LONG tile, LONG width, LONG height) const {
    const LONG perRow = (width + m_tileSize - 1) / m_tileSize;
    const LONG column = tile % perRow;
    const LONG row = tile / perRow;
    return CPravonRect(column * m_tileSize, row * m_tileSize, std::min(width, (column + 1) * m_tileSize),
                       std::min(height, (row + 1) * m_tileSize));
}

LONG CDustMapBuild::GetTotal() const {
    return IsDone() && m_phases.empty() ? 1 : GetPhaseCount() * m_tileCount;
}

LONG CDustMapBuild::GetPosition() const {
    if (IsDone())
        return GetTotal();
    LONG done = m_tilesDone;
    if (m_phase == kOrient && m_orientTiles > 0)
        done = static_cast<LONG>(std::int64_t{m_tilesDone} * m_tileCount / m_orientTiles);
    return static_cast<LONG>(m_phaseIndex) * m_tileCount + std::min(done, m_tileCount);
}

IPravonError* CDustMapBuild::Step() {
    switch (m_phase) {
    case kDone:
        return nullptr;
    case kStartLuminance:
        if (IPravonError* e = m_luminance.Allocate(m_width, m_height))
            return e;
        m_phase = kLuminance;
        return StepTile();
    case kStartCompression:
    case kCompressCorrection:
    case kCompressSecond:
        return StepCompression();
    case kOrient:
        return Orient();
    default:
        return StepTile();
    }
}

IPravonError* CDustMapBuild::Orient() {
    const PravonRect rect = TileRect(m_tilesDone, m_reference.width, m_reference.height);
    if (IPravonError* e =
            m_transform->GetData(rect, m_reference.Row(rect.top) + rect.left, m_reference.stride))
        return PravonContext(e, kComponent, "the reference cannot be oriented");
    if (++m_tilesDone < m_orientTiles)
        return nullptr;
    ReleaseTransform();
    Advance();
    return nullptr;
}

void CDustMapBuild::Advance() {
    ++m_phaseIndex;
    m_tilesDone = 0;
    m_reverse = !m_reverse;
    const Phase next = m_phases[m_phaseIndex];
    m_phase = next == kLuminance ? kStartLuminance : next == kCompressCorrection ? kStartCompression : next;
}

IPravonError* CDustMapBuild::Luminance(const PravonRect& rect) {
    const WORD* forward = m_linear && !m_mosaic ? nullptr : m_result.toneTable.data();
    const LONG width = rect.Width();
    if (m_mosaic) {
        for (LONG y = rect.top; y < rect.bottom; ++y)
            LuminanceRow(reinterpret_cast<const BYTE*>(m_rgb.Row(y) + std::size_t{3} * rect.left), true,
                         width, forward, m_luminance.Row(y) + rect.left);
        return nullptr;
    }
    const bool sixteen = PravonColorSpace::BitsPerSample(m_sourceColorSpace) == 16;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * (sixteen ? 6 : 3);
    try {
        m_tile.resize(rowBytes * rect.Height());
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for a tile of the dust map");
    }
    if (IPravonError* e = m_source->GetData(rect, m_tile.data(), rowBytes))
        return e;
    for (LONG y = rect.top; y < rect.bottom; ++y)
        LuminanceRow(m_tile.data() + (y - rect.top) * rowBytes, sixteen, width, forward,
                     m_luminance.Row(y) + rect.left);
    return nullptr;
}

IPravonError* CDustMapBuild::StepTile() {
    const LONG tile = m_reverse ? m_tileCount - 1 - m_tilesDone : m_tilesDone;
    const PravonRect rect = TileRect(tile, m_width, m_height);
    IPravonError* error = nullptr;
    switch (m_phase) {
    case kDemosaic:
        if (m_rgb.data.empty() && (error = m_rgb.Allocate(m_width, m_height, std::size_t{3} * m_width)))
            return error;
        error = m_demosaic->GetData(rect, m_rgb.Row(rect.top) + std::size_t{3} * rect.left,
                                    m_rgb.stride * sizeof(WORD));
        break;
    case kLuminance:
        error = Luminance(rect);
        break;
    case kLuminance8: {
        const BYTE* encode = LuminanceEncoding();
        for (LONG y = rect.top; y < rect.bottom; ++y) {
            const WORD* from = m_luminance.Row(y);
            BYTE* to = m_luminance8.Row(y);
            for (LONG x = rect.left; x < rect.right; ++x)
                to[x] = encode[from[x]];
        }
        break;
    }
    case kClassify:
        Classify({&m_reference, &m_columns, &m_rows, &m_luminance}, rect, &m_classes);
        break;
    case kContrast:
        LocalContrast(m_luminance8, m_luminance, m_classes, m_threshold, rect, &m_flags);
        break;
    case kSpread:
        Spread(m_classes, m_flags, m_cameraType, rect, &m_spread);
        break;
    case kSecondMap:
        SecondMap(m_flags, rect, &m_second);
        error = PutRect(m_result.second.get(), rect, m_second.Row(rect.top) + rect.left, m_second.stride);
        break;
    case kCorrection:
        Correction(m_spread, m_second, m_luminance, rect, &m_correction);
        error = PutRect(m_result.correction.get(), rect, m_correction.Row(rect.top) + rect.left,
                        m_correction.stride);
        break;
    default:
        return PravonFail(kComponent, PravonKind::kInvalidState, "the dust map is in no phase of tiles");
    }
    if (error)
        return error;
    if (++m_tilesDone < m_tileCount)
        return nullptr;
    return EndPhase();
}

IPravonError* CDustMapBuild::EndPhase() {
    // Each plane goes as soon as no later phase reads it.
    switch (m_phase) {
    case kDemosaic:
        ReleaseDemosaic();
        break;
    case kLuminance: {
        m_rgb.Release();
        // Rows of the 8-bit luminance are padded to whole 16-byte runs.
        const std::size_t stride = (static_cast<std::size_t>(m_width) + 15) & ~std::size_t{15};
        if (IPravonError* e = m_luminance8.Allocate(m_width, m_height, stride))
            return e;
        break;
    }
    case kLuminance8:
        SamplingScale(m_width, m_height, m_reference.width, m_reference.height, &m_scaleX, &m_scaleY);
        try {
            m_columns = SamplingMap(m_width + 14, m_reference.width, m_scaleX);
            m_rows = SamplingMap(m_height + 14, m_reference.height, m_scaleY);
        } catch (const std::bad_alloc&) {
            return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the sampling maps");
        }
        if (IPravonError* e = m_classes.Allocate(m_width, m_height))
            return e;
        break;
    case kClassify:
        m_threshold = ContrastThreshold(m_cameraType, m_sensitivity,
                                        ContrastGroup(m_mosaic, m_thresholdWord, m_quality));
        m_reference.Release();
        if (IPravonError* e = m_flags.Allocate(m_width, m_height))
            return e;
        break;
    case kContrast:
        m_luminance8.Release();
        if (IPravonError* e = m_spread.Allocate(m_width, m_height))
            return e;
        break;
    case kSpread:
        m_classes.Release();
        if (IPravonError* e = m_second.Allocate(m_width, m_height))
            return e;
        break;
    case kSecondMap:
        m_flags.Release();
        if (IPravonError* e = m_correction.Allocate(m_width, m_height))
            return e;
        break;
    case kCorrection:
        m_luminance.Release();
        m_spread.Release();
        m_second.Release();
        m_correction.Release();
        break;
    default:
        break;
    }
    Advance();
    return nullptr;
}

IPravonError* CDustMapBuild::StepCompression() {
    Result& r = m_result;
    if (m_phase == kStartCompression) {
        if (IPravonError* e = m_encoder.Begin(r.correction.get(), &r.correctionBlocks))
            return e;
        m_phase = kCompressCorrection;
    }
    if (IPravonError* e = m_encoder.Step())
        return e;
    m_tilesDone = std::min(m_tileCount, m_tilesDone + m_tilesPerRow);
    if (!m_encoder.IsDone())
        return nullptr;
    if (m_phase == kCompressCorrection) {
        r.header.correctionLength = static_cast<ULONG>(r.correctionBlocks.GetLength());
        Advance();
        return m_encoder.Begin(r.second.get(), &r.secondBlocks);
    }
    r.header.secondLength = static_cast<ULONG>(r.secondBlocks.GetLength());
    m_encoder.Abort();
    m_phase = kDone;
    return nullptr;
}
