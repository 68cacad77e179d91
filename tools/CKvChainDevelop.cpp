#include "CKvChainDevelop.h"

#include "CKvDemoHost.h"
#include "CKvPictureWriter.h"

#include "filters/CPravonFilterCML.h"
#include "filters/CPravonFilterColorSpace.h"
#include "filters/CPravonFilterHistogram.h"
#include "filters/CPravonFilterLut.h"
#include "filters/CPravonFilterTransform.h"
#include "platform/pravon/IPravonFilterChain.h"
#include "platform/quasel/CKvRawSampleLoad.h"
#include "platform/win/WinPath.h"
#include "rawlib/pipeline/CKvnFilterChain.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

// The internal chain of a built object; null before the first development.
CKvTolmoFilterChain* InternalChain(IKvnFilterChain* object) {
    return object ? static_cast<CKvnFilterChain*>(object)->GetInternalChain() : nullptr;
}

// The development modes of the object's mode record.
constexpr DWORD kStandardMode = 2;
constexpr DWORD kHighQualityMode = 3;
constexpr DWORD kLinearScaling = 2;
constexpr LONG kExposureItem = 3;
constexpr LONG kRealValue = 2;
// The histogram stage that the brightness stage measures over, and the stage that turns the picture.
constexpr int kHistogramStage = CKvTolmoFilterChain::kOutputHistogramStage;
constexpr int kTransformStage = CKvTolmoFilterChain::kTransformStage;
// The sharpening list's units: a radius code counts fifths of a pixel, an amount code twentieths of the
// mask's power.
constexpr double kListRadiusUnit = 0.2;
constexpr double kListAmountUnit = 0.05;
// The camera models whose mosaic the raw processor converts before the chain develops it.
constexpr WORD kFirstProcessedModel = 513;
constexpr WORD kLastProcessedModel = 516;

// The tile memory a development's images leave behind is kept for the next picture of this object: the
// caches of a picture of about 40 megapixels (the source mosaic, the demosaiced and the converted picture)
// come back to the next one without faulting in fresh memory.
constexpr std::size_t kKeptTileMemory = std::size_t{768} << 20;

// The lines of tiles each stage keeps in a single pass: the band being made and its neighbours, which the
// windows of the stages after it (sharpening, scaling, turning) reach into.
constexpr LONG kSinglePassTileLines = 3;
// A stage that only pixel-by-pixel stages follow keeps just the band being made: each of its tiles is
// read once, for the tile in the same place, so a batch's workers fault in two lines of tiles fewer.
constexpr LONG kPointwiseTileLines = 1;

// Whether a stage makes each output pixel from the source pixel in the same place alone.
bool Pointwise(CPravonFilterBase* stage) {
    return dynamic_cast<CPravonFilterLut*>(stage) || dynamic_cast<CPravonFilterCML*>(stage) ||
           dynamic_cast<CPravonFilterHistogram*>(stage) || dynamic_cast<CPravonFilterColorSpace*>(stage);
}

} // namespace

CKvChainDevelop::CKvChainDevelop() {
    m_manager.GetTilePool().SetLimit(kKeptTileMemory);
}

CKvChainDevelop::~CKvChainDevelop() {
    // The chain first: it holds the processor's image as its source.
    if (m_object)
        m_object->Destroy();
    if (m_processor)
        m_processor->Destroy();
}

IPravonError* CKvChainDevelop::Open(const std::string& samplePath) {
    if (m_object)
        m_object->Destroy();
    m_object = nullptr;
    if (m_processor)
        m_processor->Destroy();
    m_processor = nullptr;
    // The last picture's tiles go back to the pool before the next picture takes any.
    m_image.reset();
    m_tags.reset();
    // The loader is kept at hand: the raw processor looks among its sub-images.
    IPravonFileStream* rawStream = nullptr;
    if (IPravonError* e = IPravonFileStream::CreateFileStream(&rawStream))
        return e;
    const PravonFileStreamPtr stream(rawStream);
    if (IPravonError* e = stream->Open(PravonFile{samplePath}, IPravonFileStream::kRead))
        return e;
    IPravonLoad* rawLoad = nullptr;
    if (IPravonError* e = IPravonLoad::CreateLoad(stream.get(), &rawLoad))
        return e;
    const PravonLoadPtr load(rawLoad);
    IPravonImage* image = nullptr;
    IPravonTagControl* tags = nullptr;
    if (IPravonError* e =
            IPravonLoad::LoadFile(&m_manager, PravonFile{samplePath}, &image, &tags, load.get()))
        return e;
    m_image.reset(image);
    m_tags.reset(tags);
    IPravonImage* source = m_image.get();
    WORD model = 0;
    if (!PravonErrorPtr(m_tags->GetCameraModel(&model)) && model >= kFirstProcessedModel &&
        model <= kLastProcessedModel) {
        if (IPravonError* e = IKvnProcessRawVendor1::CreateObject(&m_manager, &m_processor))
            return e;
        if (IPravonError* e = m_processor->Initialize(load.get(), m_tags.get(), m_image.get()))
            return e;
        if (IPravonError* e = m_processor->Process())
            return e;
        source = m_processor;
    }
    if (IPravonError* e = IKvnFilterChain::CreateObject(&m_object))
        return e;
    return m_object->Initialize(&m_manager, source, m_tags.get());
}

IPravonError* CKvChainDevelop::SetAutoBrightness() {
    if (!m_object)
        return PravonFail(0, PravonKind::kInvalidState, "no sample is open");
    IPravonFilterChain* output = nullptr;
    if (IPravonError* e = m_object->GetFilterChain(&output))
        return e;
    auto* object = static_cast<CKvnFilterChain*>(m_object);
    auto* histogram =
        static_cast<CPravonFilterHistogram*>(InternalChain(m_object)->GetStage(kHistogramStage));
    if (IPravonError* e = histogram->Enable(true, false))
        return e;
    if (IPravonError* e = histogram->ForceCompletion())
        return PravonContext(e, 0, "the histogram cannot be counted");
    object->brightnessEnabled = 1;
    object->brightness.SetAutoMode(true);
    return object->UpdateChain(CKvTolmoFilterChain::kAutoBrightnessChanged);
}

// Before the first development the chain takes the settings when it is made.
IPravonError* CKvChainDevelop::ChangeSettings(DWORD mask,
                                              const std::function<IPravonError*(CKvnFilterChain&)>& change) {
    if (!m_object)
        return PravonFail(0, PravonKind::kInvalidState, "no sample is open");
    auto& object = static_cast<CKvnFilterChain&>(*m_object);
    if (IPravonError* e = change(object))
        return e;
    return object.UpdateChain(mask);
}

IPravonError* CKvChainDevelop::SetMoireAndFineEdge(LONG moireLevel, bool fineEdge) {
    return ChangeSettings(CKvTolmoFilterChain::kNoiseReductionChanged, [&](CKvnFilterChain& object) {
        if (moireLevel < 0 || moireLevel > 3)
            return PravonFail(0, PravonKind::kOutOfRange, "the moire level must be 0 to 3");
        object.noiseReductionEnabled = 1;
        object.noiseReduction.SetFlag(static_cast<BYTE>(moireLevel));
        object.noiseReduction.SetExtraValue(fineEdge ? 1 : 0);
        return static_cast<IPravonError*>(nullptr);
    });
}

IPravonError* CKvChainDevelop::SetColorNoise(LONG level) {
    return ChangeSettings(CKvTolmoFilterChain::kNoiseReductionChanged, [&](CKvnFilterChain& object) {
        if (level < 0 || level > 10)
            return PravonFail(0, PravonKind::kOutOfRange, "the colour-noise level must be 0 to 10");
        object.noiseReductionEnabled = 1;
        object.noiseReduction.SetLevel(level);
        return static_cast<IPravonError*>(nullptr);
    });
}

IPravonError* CKvChainDevelop::SetVignette(SHORT amount) {
    return ChangeSettings(CKvTolmoFilterChain::kVignetteChanged, [&](CKvnFilterChain& object) {
        object.vignetteEnabled = 1;
        object.vignette.SetAmount(amount);
        return static_cast<IPravonError*>(nullptr);
    });
}

IPravonError* CKvChainDevelop::SetSharpening(double radius, double power) {
    return ChangeSettings(CKvTolmoFilterChain::kSharpeningListChanged, [&](CKvnFilterChain& object) {
        if (!(radius >= 0 && radius <= 100) || !(power > 0 && power <= 10))
            return PravonFail(0, PravonKind::kOutOfRange,
                              "a radius from 0 to 100 and a power above 0, at most 10");
        CKvUSM mask;
        mask.SetRadiusCode(static_cast<SHORT>(std::lround(radius / kListRadiusUnit)));
        mask.SetAmountCode(static_cast<SHORT>(std::lround(power / kListAmountUnit)));
        object.usmListEnabled = 1;
        object.usmList.Clear();
        object.usmList.Append(mask);
        return static_cast<IPravonError*>(nullptr);
    });
}

const CKvBrightness* CKvChainDevelop::GetBrightness() const {
    return m_object ? &static_cast<CKvnFilterChain*>(m_object)->brightness : nullptr;
}

IPravonError* CKvChainDevelop::Develop(std::vector<BYTE>* rgb, LONG* width, LONG* height,
                                       const std::function<void(LONG, LONG)>& progress) {
    if (!m_object)
        return PravonFail(0, PravonKind::kInvalidState, "no sample is open");
    IPravonFilterChain* chain = nullptr;
    if (IPravonError* e = m_object->GetFilterChain(&chain))
        return e;
    ApplyReadThrough();
    // The chain ends in display-encoded 16-bit samples: their high byte is the 8-bit value.
    return CKvDemoHost::PullRgb8(chain->GetOutput(), nullptr, rgb, width, height, progress);
}

void CKvChainDevelop::ApplyReadThrough() {
    CKvTolmoFilterChain* chain = InternalChain(m_object);
    IPravonFilterChain* stages = chain ? chain->GetOutput() : nullptr;
    if (!stages)
        return;
    // From the output back, through every stage the chain holds (the sharpening list's and plug-ins'
    // among them): the lines a stage keeps depend on the working stages after it. The pulls that read the
    // output take it a band at a time.
    bool pointwiseAfter = true;
    for (LONG position = stages->GetCount() - 1; position >= 0; --position) {
        auto* stage = dynamic_cast<CPravonFilterBase*>(stages->GetAt(position));
        if (!stage)
            continue;
        if (auto* lut = dynamic_cast<CPravonFilterLut*>(stage))
            lut->SetReadThrough(m_readThrough);
        const LONG lines = pointwiseAfter ? kPointwiseTileLines : kSinglePassTileLines;
        PravonErrorPtr(stage->SetKeptTileLines(m_singlePass ? lines : 0));
        if (stage->IsEnabled() && !stage->IsPassThrough() && !Pointwise(stage))
            pointwiseAfter = false;
    }
}

IPravonError* CKvChainDevelop::DevelopBands(const Band& band, LONG* width, LONG* height,
                                            const std::function<void(LONG, LONG)>& progress) {
    if (!m_object)
        return PravonFail(0, PravonKind::kInvalidState, "no sample is open");
    IPravonFilterChain* chain = nullptr;
    if (IPravonError* e = m_object->GetFilterChain(&chain))
        return e;
    ApplyReadThrough();
    IPravonDataSource* output = chain->GetOutput();
    LONG w = 0, h = 0, colorSpace = 0, tileSize = 0;
    if (IPravonError* e = output->GetSize(&w, &h))
        return e;
    if (IPravonError* e = output->GetColorSpace(&colorSpace))
        return e;
    if (IPravonError* e = output->GetTileSize(&tileSize))
        return e;
    if (colorSpace != PravonColorSpace::kRGB16 || tileSize < 1)
        return PravonFail(0, PravonKind::kUnsupportedColorSpace, "the chain does not end in 16-bit RGB");
    const LONG columns = (w + tileSize - 1) / tileSize, rows = (h + tileSize - 1) / tileSize;
    const std::size_t rowWords = static_cast<std::size_t>(w) * 3;
    // The band comes from the tile memory, as a tile's buffer does: a worker's next picture of the size
    // takes it again, and fresh ones are carved from slabs in huge pages, whose pages are not faulted in
    // one by one.
    CPravonTilePool& pool = m_manager.GetTilePool();
    const std::size_t bandBytes = rowWords * static_cast<std::size_t>(std::min(tileSize, h)) * sizeof(WORD);
    struct CBandMemory {
        CPravonTilePool& pool;
        CPravonTilePool::Buffer buffer;
        std::size_t bytes;
        ~CBandMemory() { pool.Give(std::move(buffer), bytes); }
    } memory{pool, pool.Take(bandBytes, CPravonTilePool::Start::kUnwritten), bandBytes};
    if (!memory.buffer)
        return PravonFail(0, PravonKind::kOutOfMemory, "no memory for a band of the picture");
    WORD* const rowsOfTiles = reinterpret_cast<WORD*>(memory.buffer.get());
    for (LONG r = 0; r < rows; ++r) {
        const LONG top = r * tileSize, count = std::min(tileSize, h - top);
        for (LONG c = 0; c < columns; ++c) {
            void* data = nullptr;
            if (IPravonError* e = output->LockTile(c, r, &data, nullptr))
                return e;
            IPravonTile* tile = nullptr;
            IPravonError* err = output->GetTile(c, r, &tile);
            if (!err) {
                const PravonRect rect = tile->GetRect();
                const LONG tileRowBytes = tile->GetRowBytes();
                for (LONG y = rect.top; y < rect.bottom; ++y)
                    std::memcpy(rowsOfTiles + static_cast<std::size_t>(y - top) * rowWords +
                                    static_cast<std::size_t>(rect.left) * 3,
                                static_cast<const BYTE*>(data) +
                                    static_cast<std::size_t>(y - rect.top) * tileRowBytes,
                                static_cast<std::size_t>(rect.right - rect.left) * 3 * sizeof(WORD));
            }
            err = IPravonError::Chain(err, output->UnlockTile(c, r));
            if (err)
                return err;
            if (progress)
                progress(r * columns + c + 1, rows * columns);
        }
        if (IPravonError* e = band(CBand{rowsOfTiles, top, count, rowWords, w, h}))
            return e;
    }
    *width = w;
    *height = h;
    return nullptr;
}

IPravonError* CKvChainDevelop::DevelopInto(const std::string& path, LONG* width, LONG* height,
                                           const std::function<void(LONG, LONG)>& progress) {
    std::unique_ptr<CKvPictureWriter> writer = CKvPictureWriter::Make(CKvPictureWriter::FormatOf(path));
    return DevelopInto(*writer, path, width, height, progress);
}

IPravonError* CKvChainDevelop::DevelopInto(CKvPictureWriter& writer, const std::string& path, LONG* width,
                                           LONG* height, const std::function<void(LONG, LONG)>& progress) {
    std::string failure;
    bool begun = false;
    const auto writeFailure = [&] {
        return PravonFail(0, PravonKind::kBadArgument, "cannot write " + path + ": " + failure);
    };
    IPravonError* err = DevelopBands(
        [&](const CBand& band) -> IPravonError* {
            if (!begun) {
                // The profile the output was converted to goes into the file, so that a viewer shows its
                // colours as meant.
                const std::string profile = OutputProfile();
                std::vector<BYTE> bytes;
                if (!profile.empty()) {
                    std::ifstream in(WinPath::ToNative(profile), std::ios::binary);
                    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
                }
                const std::size_t slash = profile.find_last_of("/\\");
                if (!writer.Begin(path, band.width, band.height,
                                  slash == std::string::npos ? profile : profile.substr(slash + 1), bytes,
                                  &failure))
                    return writeFailure();
                begun = true;
            }
            if (!writer.WriteRows(band.rows, band.count, band.rowWords, &failure))
                return writeFailure();
            return nullptr;
        },
        width, height, progress);
    if (!err && !writer.Finish(&failure))
        err = writeFailure();
    return err;
}

IPravonError* CKvChainDevelop::SetExposure(double ev) {
    if (!m_object)
        return PravonFail(0, PravonKind::kInvalidState, "no sample is open");
    strKvnExposureOption exposure;
    exposure.value = ev;
    strKvnRawOption option{sizeof(strKvnRawOption), KvnRawOption::kExposure, &exposure};
    return m_object->SetRawOption(&option);
}

IPravonError* CKvChainDevelop::GetStoredExposure(double* ev) {
    if (!m_object)
        return PravonFail(0, PravonKind::kInvalidState, "no sample is open");
    // The capture settings' exposure item, an 8-byte real.
    strKvnNCParam item{sizeof(strKvnNCParam), kExposureItem, kRealValue, sizeof(double), ev};
    return m_object->GetCaptureSettings(&item);
}

IPravonError* CKvChainDevelop::SetModes(bool highQuality) {
    if (!m_object)
        return PravonFail(0, PravonKind::kInvalidState, "no sample is open");
    strKvnModeParam mode;
    if (IPravonError* e = m_object->GetMode(&mode))
        return e;
    mode.developmentMode = highQuality ? kHighQualityMode : kStandardMode;
    mode.scalingMethod = kLinearScaling;
    return m_object->SetMode(&mode);
}

IPravonError* CKvChainDevelop::SetOutput(LONG degrees, double scale) {
    if (!m_object)
        return PravonFail(0, PravonKind::kInvalidState, "no sample is open");
    if (degrees % 90 != 0 || degrees < 0 || degrees > 270 || !(scale > 0) || !std::isfinite(scale))
        return PravonFail(0, PravonKind::kOutOfRange,
                          "a turn of 0, 90, 180 or 270 degrees and a scale above 0");
    strKvnImageInfoParam info;
    if (IPravonError* e = m_object->GetImageInfo(&info))
        return e;
    const bool turnedNow = info.orientation >= 5;
    LONG width = turnedNow ? info.height : info.width, height = turnedNow ? info.width : info.height;
    strKvnImageInfoParam change;
    // The orientation codes count their turns counter-clockwise.
    change.orientation = CKvnFilterChain::CodeFromOrientation((360 - degrees) % 360, false);
    if (degrees == 90 || degrees == 270)
        std::swap(width, height);
    if (scale != 1.0) {
        change.width = std::max<LONG>(1, static_cast<LONG>(std::lround(width * scale)));
        change.height = std::max<LONG>(1, static_cast<LONG>(std::lround(height * scale)));
    }
    return m_object->SetImageInfo(&change, false);
}

std::string CKvChainDevelop::OutputProfile() const {
    const auto* object = dynamic_cast<const CKvnFilterChain*>(m_object);
    const CKvTolmoFilterChain* chain = object ? object->GetInternalChain() : nullptr;
    if (!chain)
        return {};
    // Without the output conversion (the picture is already in the profile it would convert to) the
    // colours stay in the input profile.
    const CPravonFilterBase* conversion = chain->GetStage(CKvTolmoFilterChain::kOutputConversionStage);
    return conversion && conversion->IsEnabled() ? chain->GetOutputProfile() : chain->GetInputProfile();
}

std::string CKvChainDevelop::InputProfile() const {
    const auto* object = dynamic_cast<const CKvnFilterChain*>(m_object);
    const CKvTolmoFilterChain* chain = object ? object->GetInternalChain() : nullptr;
    return chain ? chain->GetInputProfile() : std::string();
}

bool CKvChainDevelop::Orientation(bool* mirrored, double* clockwise) const {
    const auto* object = dynamic_cast<const CKvnFilterChain*>(m_object);
    const CKvTolmoFilterChain* chain = object ? object->GetInternalChain() : nullptr;
    if (!chain)
        return false;
    const auto* transform = static_cast<const CPravonFilterTransform*>(chain->GetStage(kTransformStage));
    const bool on = transform->IsEnabled();
    *mirrored = on && transform->GetFilterFlip();
    *clockwise = on ? transform->GetFilterRotation() : 0.0;
    return true;
}

void CKvChainDevelop::ResetStageCounts() {
    if (CKvTolmoFilterChain* chain = InternalChain(m_object))
        for (const int number : CKvTolmoFilterChain::ProcessingOrder())
            chain->GetStage(number)->ResetGeneratedTileCount();
}

std::vector<std::pair<int, std::uint64_t>> CKvChainDevelop::StageCounts() const {
    std::vector<std::pair<int, std::uint64_t>> counts;
    if (CKvTolmoFilterChain* chain = InternalChain(m_object))
        for (const int number : CKvTolmoFilterChain::ProcessingOrder())
            if (const CPravonFilterBase* stage = chain->GetStage(number); stage->IsEnabled())
                counts.emplace_back(number, stage->GetGeneratedTileCount());
    return counts;
}
