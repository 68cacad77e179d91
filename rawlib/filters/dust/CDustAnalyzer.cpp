#include "CDustAnalyzer.h"

#include "KvDustImageRows.h"

#include <algorithm>
#include <new>
#include <string>

using namespace KvDust;

namespace {
constexpr ULONG kMaxLensCode = 255;
}

CDustAnalyzer::CDustAnalyzer(IPravonManager* manager) : m_manager(manager) {}

IPravonError* CDustAnalyzer::CameraConstants(ULONG cameraType, double* distance, double* pitchX,
                                             double* pitchY) {
    struct Constants {
        ULONG cameraType;
        double distance;
        double pitch;
    };
    static constexpr Constants kTable[] = {{257, 1.9313, 11.8}, {258, 1.9313, 11.8}, {259, 1.4807, 5.9},
                                           {260, 2.1668, 9.4},  {1025, 1.4673, 7.8}, {1026, 2.1533, 7.8}};
    for (const Constants& c : kTable) {
        if (c.cameraType == cameraType) {
            *distance = c.distance;
            *pitchX = c.pitch;
            *pitchY = c.pitch;
            return nullptr;
        }
    }
    return PravonFail(kComponent, PravonKind::kOutOfRange,
                      "camera type " + std::to_string(cameraType) + " has no dust constants");
}

IPravonError* CDustAnalyzer::Begin(CDustReference* reference, IPravonTagControl* tags) {
    if (!reference || !tags)
        return PravonFail(kComponent, PravonKind::kBadArgument,
                          "the analysis needs a reference and the image's tags");
    if (!reference->IsLoaded())
        return PravonFail(kComponent, kBadBlob, "the dust reference is not loaded");
    if (m_state != kIdle && m_state != kComplete)
        return PravonFail(kComponent, PravonKind::kInvalidState, "an analysis is running");
    if (!m_manager)
        return PravonFail(kComponent, PravonKind::kBadArgument, "the analyzer has no image manager");
    Release(false);
    if (IPravonError* e = StartAnalysis(reference, tags)) {
        Release(false);
        return e;
    }
    return nullptr;
}

IPravonError* CDustAnalyzer::StartAnalysis(CDustReference* reference, IPravonTagControl* tags) {
    for (PravonImagePtr& scratch : m_scratch) {
        IPravonImage* made = nullptr;
        if (IPravonError* e = m_manager->CreateImage(1, &made))
            return PravonContext(e, kComponent, "no scratch image for the analysis");
        scratch.reset(made);
    }
    if (IPravonError* e = BuildTuning(tags, &m_tuning))
        return PravonContext(e, kComponent, "the image's tags give no dust tuning");
    DustTuning tuning;
    if (IPravonError* e = ReadTuning(m_tuning.data(), m_tuning.size(), &tuning))
        return e;
    m_cameraType = tuning.cameraType;
    m_apertureCode = tuning.apertureCode;
    m_lensCode = tuning.lensCode;
    m_sensitivity = tuning.sensitivity;
    if (m_cameraType != reference->GetCameraType())
        return PravonFail(kComponent, PravonKind::kBadArgument,
                          "the reference was shot with camera type " +
                              std::to_string(reference->GetCameraType()) + ", the image with " +
                              std::to_string(m_cameraType));
    if (IPravonError* e = CameraConstants(m_cameraType, &m_distance, &m_pitchX, &m_pitchY))
        return e;
    BYTE word[4];
    m_thresholdWord = PravonErrorPtr(tags->ReadTag(kThresholdTag, 4, 4, word)) ? 0 : ReadWord(word, 4, 0);

    IPravonImage* image = reference->GetImage();
    if (IPravonError* e = image->GetSize(&m_width, &m_height))
        return e;
    if (m_width < static_cast<LONG>(kMinReferenceSide) || m_height < static_cast<LONG>(kMinReferenceSide))
        return PravonFail(kComponent, kBadBlob, "the dust reference is smaller than 100 x 100 pixels");
    m_reference = reference;
    m_input = image;
    m_output = 0;
    if (IPravonError* e = SizeOutput())
        return e;
    if (IPravonError* e = m_scratch[0]->GetTileSize(&m_tileSize))
        return e;
    m_tileSize = std::max(m_tileSize, LONG{1});
    m_tilesPerRow = (m_width + m_tileSize - 1) / m_tileSize;
    m_tileCount = m_tilesPerRow * ((m_height + m_tileSize - 1) / m_tileSize);

    m_lensChange = m_lensCode != reference->GetLensCode();
    m_widerAperture = m_apertureCode < reference->GetApertureCode();
    m_phase = 0;
    m_tilesDone = 0;
    m_reverse = false;
    m_phaseCount =
        1 + (m_lensChange ? 1 : 0) + (m_widerAperture ? 1 : 0) + (!m_lensChange && !m_widerAperture ? 1 : 0);
    if (m_lensChange) {
        const ULONG referenceLens = reference->GetLensCode();
        if (referenceLens < 1 || referenceLens > kMaxLensCode)
            return PravonFail(kComponent, kBadBlob,
                              "the dust reference's lens code " + std::to_string(referenceLens) +
                                  " is not 1..255");
        m_scale = CDustRescale::ScaleFactor(m_distance, m_lensCode, referenceLens);
        if (IPravonError* e = m_rescale.Build(m_width, m_height, m_scale))
            return e;
        m_state = kRescale;
    } else if (m_widerAperture) {
        SetUpBlur();
        m_state = kBlur;
    } else {
        m_state = kCopy;
    }
    return nullptr;
}

IPravonError* CDustAnalyzer::SizeOutput() {
    IPravonImage* output = m_scratch[m_output].get();
    if (IPravonError* e = output->SetColorSpace(PravonColorSpace::kGrey8))
        return e;
    if (IPravonError* e = output->SetSize(m_width, m_height))
        return e;
    if (IPravonError* e = output->SetResolution(kResolution))
        return e;
    return output->SetTransform(false, 0.0, false);
}

void CDustAnalyzer::SetUpBlur() {
    const double fNumber = FNumberOfCode(m_apertureCode);
    m_blur.SetUp(CDustBoxBlur::BoxSize(m_distance, fNumber, m_pitchX),
                 CDustBoxBlur::BoxSize(m_distance, fNumber, m_pitchY));
    m_darkCount = 0;
}

PravonRect CDustAnalyzer::TileRect(LONG tile) const {
    const LONG column = tile % m_tilesPerRow;
    const LONG row = tile / m_tilesPerRow;
    return CPravonRect(column * m_tileSize, row * m_tileSize, std::min(m_width, (column + 1) * m_tileSize),
                       std::min(m_height, (row + 1) * m_tileSize));
}

IPravonError* CDustAnalyzer::Step(LONG* position, LONG* total) {
    if (!position || !total)
        return PravonFail(kComponent, PravonKind::kBadArgument, "Step needs places for its progress");
    if (m_state == kIdle) {
        *position = 0;
        *total = 0;
        return PravonFail(kComponent, PravonKind::kInvalidState, "no analysis is running");
    }
    if (m_state == kComplete) {
        *position = 1;
        *total = 1;
        return nullptr;
    }
    IPravonError* error = nullptr;
    switch (m_state) {
    case kRescale:
    case kBlur:
    case kCopy:
        error = ProcessTile();
        if (!error && ++m_tilesDone == m_tileCount)
            error = EndImagePhase();
        break;
    case kStartCompression:
    case kCompress:
        error = StepCompression();
        break;
    default:
        break;
    }
    if (error) {
        Release(false);
        *position = 0;
        *total = 0;
        return error;
    }
    ReportProgress(position, total);
    return nullptr;
}

void CDustAnalyzer::ReportProgress(LONG* position, LONG* total) const {
    if (m_state == kComplete) {
        // Without an analysed image the compression has nothing to count.
        *total = m_analysed ? m_phaseCount * m_tileCount : 1;
        *position = *total;
        return;
    }
    *total = m_phaseCount * m_tileCount;
    *position = m_phase * m_tileCount + m_tilesDone;
}

IPravonError* CDustAnalyzer::ProcessTile() {
    const LONG tile = m_reverse ? m_tileCount - 1 - m_tilesDone : m_tilesDone;
    const PravonRect rect = TileRect(tile);
    const std::size_t stride = static_cast<std::size_t>(rect.right - rect.left);
    try {
        m_tile.resize(stride * static_cast<std::size_t>(rect.bottom - rect.top));
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for a tile of the analysis");
    }
    IPravonError* error = nullptr;
    if (m_state == kRescale)
        error = m_rescale.Process(m_input, rect, m_tile.data(), stride);
    else if (m_state == kBlur)
        error = m_blur.Process(m_input, rect, m_tile.data(), stride, &m_darkCount);
    else
        error = m_input->GetData(rect, m_tile.data(), stride);
    if (error)
        return error;
    return PutRect(m_scratch[m_output].get(), rect, m_tile.data(), stride);
}

IPravonError* CDustAnalyzer::EndImagePhase() {
    // The image just written becomes the input of what follows; the other scratch image takes the output.
    m_input = m_scratch[m_output].get();
    m_output = 1 - m_output;
    m_reverse = !m_reverse;
    ++m_phase;
    m_tilesDone = 0;
    if (m_state == kRescale) {
        m_rescale.Release();
        if (m_widerAperture) {
            if (IPravonError* e = SizeOutput())
                return e;
            SetUpBlur();
            m_state = kBlur;
            return nullptr;
        }
    } else if (m_state == kBlur) {
        m_blur.Release();
    }
    m_analysed = m_input;
    // A blur that left no pixel dark enough found no dust: there is nothing to analyse further.
    if (m_state == kBlur && m_darkCount == 0)
        m_analysed = nullptr;
    m_state = kStartCompression;
    return nullptr;
}

IPravonError* CDustAnalyzer::StepCompression() {
    if (m_state == kStartCompression) {
        if (m_analysed) {
            if (IPravonError* e = m_encoder.Begin(m_analysed, &m_compressed))
                return e;
        }
        m_state = kCompress;
    }
    if (!m_analysed) {
        Release(true);
        m_state = kComplete;
        return nullptr;
    }
    if (IPravonError* e = m_encoder.Step())
        return e;
    m_tilesDone = std::min(m_tileCount, m_tilesDone + m_tilesPerRow);
    if (m_encoder.IsDone()) {
        Release(true);
        m_state = kComplete;
    }
    return nullptr;
}

void CDustAnalyzer::Abort() {
    if (m_state == kComplete)
        return;
    Release(false);
}

void CDustAnalyzer::Release(bool keepResult) {
    m_rescale.Release();
    m_blur.Release();
    m_encoder.Abort();
    std::vector<BYTE>().swap(m_tile);
    m_input = nullptr;
    m_reference = nullptr;
    if (keepResult) {
        // Only the analysed image outlives the analysis; the other scratch image goes.
        for (PravonImagePtr& scratch : m_scratch)
            if (scratch.get() != m_analysed)
                scratch.reset();
        return;
    }
    for (PravonImagePtr& scratch : m_scratch)
        scratch.reset();
    m_analysed = nullptr;
    m_compressed.Clear();
    std::vector<BYTE>().swap(m_tuning);
    m_cameraType = 0;
    m_apertureCode = 0;
    m_lensCode = 0;
    m_sensitivity = 0;
    m_thresholdWord = 0;
    m_lensChange = false;
    m_widerAperture = false;
    m_scale = 1;
    m_darkCount = -1;
    m_phase = 0;
    m_phaseCount = 0;
    m_tilesDone = 0;
    m_tileCount = 0;
    m_tilesPerRow = 0;
    m_state = kIdle;
}
