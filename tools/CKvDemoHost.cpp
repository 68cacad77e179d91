#include "CKvDemoHost.h"

#include "KvHighBytes.h"

#include "platform/pravon/PravonGraph.h"
#include "platform/quasel/CKvRawSampleLoad.h"
#include "rawlib/filters/CDeBayerSingleFilter.h"
#include "rawlib/filters/CDeBayerSingleHQ4Filter.h"
#include "rawlib/filters/dust/KvDustTuning.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr LONG kComponent = FourCC("demo");

} // namespace

CKvDemoHost::CKvDemoHost(LONG tileSize) : m_manager(tileSize) {}

CKvDemoHost::~CKvDemoHost() {
    ReleaseStages();
    m_demosaic.reset();
}

void CKvDemoHost::ReleaseStages() {
    // Downstream first: each stage lets go of its source while that source still stands.
    m_output = nullptr;
    m_sharpen.reset();
    m_transform.reset();
    m_scale.reset();
    m_autoBrightness.reset();
    m_histogram.reset();
    m_adjustments.reset();
}

const BYTE* CKvDemoHost::DisplayTable() {
    static const std::vector<BYTE> table = [] {
        const WORD* square = GetSquareTable();
        std::vector<BYTE> t(65536);
        for (int v = 0; v < 65536; ++v) {
            const double linear = square[v] / 65535.0;
            const double encoded =
                linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
            t[v] = static_cast<BYTE>(std::lround(std::clamp(encoded, 0.0, 1.0) * 255.0));
        }
        return t;
    }();
    return table.data();
}

IPravonError* CKvDemoHost::Open(const std::string& samplePath) {
    ReleaseStages();
    m_demosaic.reset();
    m_image.reset();
    m_tags.reset();
    IPravonImage* image = nullptr;
    IPravonTagControl* tags = nullptr;
    if (IPravonError* e = IPravonLoad::LoadFile(&m_manager, PravonFile{samplePath}, &image, &tags))
        return e;
    m_image.reset(image);
    m_tags.reset(tags);
    return nullptr;
}

IPravonError* CKvDemoHost::BuildGraph(double scale, bool autoBrightness, double sharpenRadius,
                                      double sharpenPower) {
    if (!m_image)
        return PravonFail(kComponent, PravonKind::kInvalidState, "no sample is open");
    ReleaseStages();
    WORD model = 0;
    PravonErrorPtr(m_tags->GetCameraModel(&model));
    m_demosaic = MakeDemosaicing(model);
    if (IPravonError* e = PravonConnect(m_image.get(), m_demosaic.get()))
        return e;

    const ULONG cfaSize = m_tags->GetTagSize(0xA302);
    std::vector<BYTE> cfa(cfaSize);
    if (IPravonError* e = m_tags->ReadTag(0xA302, 1, cfaSize, cfa.data()))
        return PravonContext(e, kComponent, "the sample has no colour-filter pattern");
    if (IPravonError* e = m_demosaic->SetCFAPattern(cfa.data(), cfaSize, false))
        return e;

    // As the development pipeline does: the as-shot gains become 12-bit input curves of red and blue.
    double gains[2] = {1.0, 1.0};
    BYTE cameraInfo[32];
    if (PravonErrorPtr(m_tags->ReadTag(0x8000C, 4, sizeof cameraInfo, cameraInfo)) == nullptr) {
        std::memcpy(&gains[0], cameraInfo, 8);
        std::memcpy(&gains[1], cameraInfo + 8, 8);
    }
    const bool usable = std::isfinite(gains[0]) && std::isfinite(gains[1]) && gains[0] > 0 && gains[1] > 0;
    if (model != 257 && usable && (gains[0] != 1.0 || gains[1] != 1.0)) {
        std::vector<WORD> red(4096);
        std::vector<WORD> green(4096);
        std::vector<WORD> blue(4096);
        for (int i = 0; i < 4096; ++i) {
            red[i] = static_cast<WORD>(std::min(i * gains[0], 4095.0));
            green[i] = static_cast<WORD>(i);
            blue[i] = static_cast<WORD>(std::min(i * gains[1], 4095.0));
        }
        if (IPravonError* e = m_demosaic->SetParameters(12, 12, red.data(), green.data(), blue.data(), false))
            return e;
    }

    m_adjustments = std::make_unique<CKvDemoAdjustments>(&m_manager);
    IPravonDataSource* developed = nullptr;
    if (IPravonError* e = m_adjustments->Build(m_settings, m_demosaic.get(), m_tags.get(), model, &developed))
        return e;
    if (autoBrightness)
        if (IPravonError* e = AddAutoBrightness(&developed))
            return e;

    // Linear and area resampling, in the square-root domain the demosaicing delivers.
    m_scale = std::make_unique<CPravonFilterScale>(&m_manager, 1);
    if (IPravonError* e = PravonConnect(developed, m_scale.get()))
        return e;
    if (IPravonError* e = m_scale->SetScale(scale, false))
        return e;
    m_transform = std::make_unique<CPravonFilterTransform>(&m_manager);
    if (IPravonError* e = PravonConnect(m_scale.get(), m_transform.get()))
        return e;
    if (IPravonError* e = m_transform->SetTransform(false, m_rotation, true, false))
        return e;
    m_output = m_transform.get();
    if (sharpenPower > 0) {
        // The shape the development pipeline sharpens with.
        m_sharpen = std::make_unique<CUnsharpMaskFilter>(&m_manager);
        if (IPravonError* e = PravonConnect(m_transform.get(), m_sharpen.get()))
            return e;
        if (IPravonError* e = m_sharpen->SetMaskMethod(CUnsharpMaskKernel::kRaisedCosine, false))
            return e;
        if (IPravonError* e = m_sharpen->SetRadius(sharpenRadius, false))
            return e;
        if (IPravonError* e = m_sharpen->SetPower(sharpenPower, false))
            return e;
        m_output = m_sharpen.get();
    }
    return nullptr;
}

std::unique_ptr<CDeBayerBase> CKvDemoHost::MakeDemosaicing(WORD cameraModel) {
    if (!m_highQuality)
        return std::make_unique<CDeBayerSingleFilter>(&m_manager);
    // As the development does: the record reset, then tuned by the sensitivity the picture was shot at
    // (camera model 259 counts from a base of 125). Without the tag the reset record stays.
    auto hq = std::make_unique<CDeBayerSingleHQ4Filter>(&m_manager);
    HQ4Tuning tuning;
    BYTE words[4];
    if (PravonErrorPtr(m_tags->ReadTag(KvDust::kSensitivityTag, 3, sizeof words, words)) == nullptr) {
        const LONG sensitivity = KvDust::SensitivityWord(static_cast<WORD>(words[0] | words[1] << 8),
                                                         static_cast<WORD>(words[2] | words[3] << 8));
        if (cameraModel == 259)
            tuning.SetBySensitivityBase125(sensitivity);
        else
            tuning.SetBySensitivity(sensitivity);
    }
    PravonErrorPtr(hq->SetTuning(tuning));
    return hq;
}

IPravonError* CKvDemoHost::AddAutoBrightness(IPravonDataSource** output) {
    m_histogram = std::make_unique<CPravonFilterHistogram>(&m_manager);
    m_autoBrightness = std::make_unique<CFltAutoBrightness>(&m_manager);
    if (IPravonError* e = PravonConnect(*output, m_histogram.get()))
        return e;
    if (IPravonError* e = PravonConnect(m_histogram.get(), m_autoBrightness.get()))
        return e;
    if (IPravonError* e = m_brightness.PravonFilterStartWatching(m_autoBrightness.get()))
        return e;
    if (IPravonError* e = m_autoBrightness->SetHistogram(m_histogram.get(), false))
        return e;
    // The last counted tile's completion notice measures the levels before any output tile is made.
    if (IPravonError* e = m_histogram->ForceCompletion())
        return PravonContext(e, kComponent, "the histogram cannot be counted");
    if (IPravonError* e = m_autoBrightness->SetAuto(true, false))
        return e;
    *output = m_autoBrightness.get();
    return nullptr;
}

IPravonError* CKvDemoHost::Develop(std::vector<BYTE>* rgb, LONG* width, LONG* height,
                                   const std::function<void(LONG, LONG)>& progress) {
    IPravonDataSource* output = GetOutput();
    if (!output)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the graph is not built");
    return PullRgb8(output, DisplayTable(), rgb, width, height, progress);
}

IPravonError* CKvDemoHost::PullRgb8(IPravonDataSource* output, const BYTE* display, std::vector<BYTE>* rgb,
                                    LONG* width, LONG* height,
                                    const std::function<void(LONG, LONG)>& progress) {
    LONG w = 0;
    LONG h = 0;
    LONG colorSpace = 0;
    LONG tileSize = 0;
    if (IPravonError* e = output->GetSize(&w, &h))
        return e;
    if (IPravonError* e = output->GetColorSpace(&colorSpace))
        return e;
    if (IPravonError* e = output->GetTileSize(&tileSize))
        return e;
    if (colorSpace != PravonColorSpace::kRGB16 || tileSize < 1)
        return PravonFail(kComponent, PravonKind::kUnsupportedColorSpace,
                          "the graph does not end in 16-bit RGB");
    // Every pixel is written below: a buffer of the right size from an earlier development is not cleared.
    rgb->resize(static_cast<std::size_t>(w) * h * 3);
    const LONG columns = (w + tileSize - 1) / tileSize;
    const LONG rows = (h + tileSize - 1) / tileSize;
    for (LONG r = 0; r < rows; ++r) {
        for (LONG c = 0; c < columns; ++c) {
            void* data = nullptr;
            if (IPravonError* e = output->LockTile(c, r, &data, nullptr))
                return e;
            IPravonTile* tile = nullptr;
            IPravonError* err = output->GetTile(c, r, &tile);
            if (!err) {
                const PravonRect rect = tile->GetRect();
                const LONG rowBytes = tile->GetRowBytes();
                for (LONG y = rect.top; y < rect.bottom; ++y) {
                    const auto* from = reinterpret_cast<const WORD*>(
                        static_cast<const BYTE*>(data) + static_cast<std::size_t>(y - rect.top) * rowBytes);
                    BYTE* to = rgb->data() + (static_cast<std::size_t>(y) * w + rect.left) * 3;
                    const LONG samples = (rect.right - rect.left) * 3;
                    if (display)
                        for (LONG i = 0; i < samples; ++i)
                            to[i] = display[from[i]];
                    else
                        KvHighBytes(from, to, static_cast<std::size_t>(samples));
                }
            }
            err = IPravonError::Chain(err, output->UnlockTile(c, r));
            if (err)
                return err;
            if (progress)
                progress(r * columns + c + 1, rows * columns);
        }
    }
    *width = w;
    *height = h;
    return nullptr;
}
