#include "CPravonCameraRawLoad.h"

#include "CPravonTagControl.h"
#include "platform/pravon/PravonImageData.h"

#include <libraw/libraw.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr LONG kComponent = CPravonCameraRawLoad::kComponent;
constexpr LONG kTypeBytes = 1;
constexpr LONG kTypeText = 2;
constexpr LONG kTypeShort = 3;
constexpr LONG kTypeLong = 4;
constexpr LONG kTypeDouble = 12;
constexpr std::size_t kCameraInfoBytes = 32;
// LibRaw's colour indices (red, green, blue, second green) as EXIF colour codes.
constexpr BYTE kExifColour[4] = {0, 1, 2, 1};
// A file's filter word below this value is no 2 x 2 pattern (none, or a larger repeat).
constexpr unsigned kSmallestBayerFilters = 1000;
constexpr unsigned kBlackPatternStart = 6;

IPravonError* Refused(const std::string& why) {
    return PravonFail(kComponent, PravonKind::kMissingInput, "not a camera raw file that can be read: " + why);
}

// The black level of one pixel: the overall one, the colour's own and the repeating pattern's.
unsigned BlackAt(const libraw_colordata_t& color, int colourIndex, int row, int col) {
    unsigned black = color.black + color.cblack[colourIndex];
    const unsigned rows = color.cblack[4], cols = color.cblack[5];
    if (rows && cols) {
        const std::size_t at = kBlackPatternStart + (row % rows) * cols + (col % cols);
        if (at < LIBRAW_CBLACK_SIZE)
            black += color.cblack[at];
    }
    return black;
}

// The gain that brings a channel's as-shot multiplier to green's; 1 when the file gives none.
double AsShotGain(float channel, float green) {
    const double gain = green > 0 && channel > 0 ? static_cast<double>(channel) / green : 1.0;
    return std::isfinite(gain) && gain > 0 ? gain : 1.0;
}

struct LibRawDeleter {
    void operator()(LibRaw* raw) const { delete raw; }
};

} // namespace

CPravonCameraRawLoad::~CPravonCameraRawLoad() {
    if (m_image)
        m_image->Release();
    if (m_tags)
        m_tags->Release();
}

ULONG CPravonCameraRawLoad::AddRef() {
    return ++m_references;
}

ULONG CPravonCameraRawLoad::Release() {
    const ULONG left = --m_references;
    if (left == 0)
        delete this;
    return left;
}

IPravonError* CPravonCameraRawLoad::Open(IPravonFileStream* stream, IPravonTagControl* tags) {
    if (!stream || !tags)
        return PravonFail(kComponent, PravonKind::kBadArgument, "a loader needs a stream and a tag control");
    auto* own = dynamic_cast<CPravonTagControl*>(tags);
    if (!own)
        return PravonFail(kComponent, PravonKind::kBadArgument, "this tag control cannot take a camera-model code");
    ULONGLONG size = 0;
    if (IPravonError* e = stream->GetSize(&size))
        return PravonContext(e, kComponent, "cannot tell the file's size");
    if (size == 0 || size > kMaxFileBytes)
        return Refused("its size is out of range");
    std::vector<BYTE> file;
    try {
        file.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the file");
    }
    ULONG done = 0;
    if (IPravonError* e = stream->Seek(0))
        return PravonContext(e, kComponent, "cannot go to the start of the file");
    if (IPravonError* e = stream->Read(file.data(), static_cast<ULONG>(size), &done))
        return PravonContext(e, kComponent, "cannot read the file");
    if (done != size)
        return Refused("the file ends early");

    std::unique_ptr<LibRaw, LibRawDeleter> raw(new (std::nothrow) LibRaw(0));
    if (!raw)
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the raw decoder");
    if (const int result = raw->open_buffer(file.data(), file.size()); result != LIBRAW_SUCCESS)
        return Refused(libraw_strerror(result));
    if (const int result = raw->unpack(); result != LIBRAW_SUCCESS)
        return Refused(libraw_strerror(result));
    const libraw_data_t& d = raw->imgdata;
    if (!d.rawdata.raw_image || d.idata.colors != 3 || d.idata.filters < kSmallestBayerFilters)
        return Refused("it holds no 2 x 2 colour-filter mosaic of red, green and blue");
    const LONG width = d.sizes.width, height = d.sizes.height;
    const std::size_t pitch = d.sizes.raw_pitch / sizeof(ushort);
    if (width < 2 || height < 2 || d.sizes.left_margin + width > d.sizes.raw_width ||
        d.sizes.top_margin + height > d.sizes.raw_height || pitch < d.sizes.raw_width)
        return Refused("its mosaic's geometry is inconsistent");

    std::vector<WORD> samples;
    try {
        samples.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the mosaic");
    }
    const libraw_colordata_t& color = d.color;
    for (LONG y = 0; y < height; ++y) {
        const ushort* row = d.rawdata.raw_image + (y + d.sizes.top_margin) * pitch + d.sizes.left_margin;
        for (LONG x = 0; x < width; ++x) {
            const int c = raw->COLOR(y, x) & 3;
            const unsigned black = BlackAt(color, c, y, x);
            const double range = color.maximum > black ? double(color.maximum - black) : 1.0;
            const double v = row[x] > black ? (row[x] - black) * kMaxSample / range : 0.0;
            samples[y * width + x] = static_cast<WORD>(std::min<double>(std::lround(v), kMaxSample));
        }
    }

    BYTE pattern[8] = {0, 2, 0, 2};
    for (int i = 0; i < 4; ++i)
        pattern[4 + i] = kExifColour[raw->COLOR(i / 2, i % 2) & 3];
    BYTE cameraInfo[kCameraInfoBytes] = {};
    const double redGain = AsShotGain(color.cam_mul[0], color.cam_mul[1]);
    const double blueGain = AsShotGain(color.cam_mul[2], color.cam_mul[1]);
    std::memcpy(cameraInfo, &redGain, sizeof redGain);
    std::memcpy(cameraInfo + sizeof redGain, &blueGain, sizeof blueGain);
    const float iso = d.other.iso_speed;
    const WORD sensitivity[2] = {0, static_cast<WORD>(iso > 0 && iso < 65535 ? std::lround(iso) : 0)};
    const double exposureTime = d.other.shutter, fNumber = d.other.aperture;
    const std::string model = std::string(d.idata.make) + " " + d.idata.model;
    const LONG automaticWhiteBalance[2] = {0, 0};

    // Everything is known: only now does the tag control change.
    const LONG sizeTags[3] = {width, height, kMosaic};
    for (int i = 0; i < 3; ++i)
        if (IPravonError* e = tags->WriteTag(0x10000 + i, kTypeLong, sizeof(LONG), &sizeTags[i]))
            return PravonContext(e, kComponent, "cannot give the source size to the tag control");
    struct {
        ULONG tag;
        LONG type;
        ULONG size;
        const void* data;
    } const values[] = {
        {kCfaPatternTag, kTypeBytes, sizeof pattern, pattern},
        {kCameraInfoTag, kTypeLong, sizeof cameraInfo, cameraInfo},
        {kModelTag, kTypeText, static_cast<ULONG>(model.size() + 1), model.c_str()},
        {kWhiteBalanceTag, kTypeLong, sizeof automaticWhiteBalance, automaticWhiteBalance},
    };
    for (const auto& v : values)
        if (IPravonError* e = tags->WriteTag(v.tag, v.type, v.size, v.data))
            return PravonContext(e, kComponent, "cannot give a tag to the tag control");
    // What the file does not say is left out, so that readers take their own defaults.
    if (sensitivity[1] != 0)
        PravonErrorPtr(tags->WriteTag(kSensitivityTag, kTypeShort, sizeof sensitivity, sensitivity));
    if (exposureTime > 0 && std::isfinite(exposureTime))
        PravonErrorPtr(tags->WriteTag(kExposureTimeTag, kTypeDouble, sizeof exposureTime, &exposureTime));
    if (fNumber > 0 && std::isfinite(fNumber))
        PravonErrorPtr(tags->WriteTag(kFNumberTag, kTypeDouble, sizeof fNumber, &fNumber));
    own->SetCameraModel(kStandardCameraModel);

    m_samples = std::move(samples);
    m_width = width;
    m_height = height;
    if (m_image) {
        m_image->Release();
        m_image = nullptr;
    }
    tags->AddRef();
    if (m_tags)
        m_tags->Release();
    m_tags = tags;
    return nullptr;
}

IPravonError* CPravonCameraRawLoad::Begin(IPravonImage* image) {
    if (!image)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no image to load into");
    if (m_samples.empty())
        return PravonFail(kComponent, PravonKind::kInvalidState, "the loader has no file open");
    if (IPravonError* e = image->SetColorSpace(kMosaic))
        return PravonContext(e, kComponent, "cannot give the image its colour space");
    if (IPravonError* e = image->SetSize(m_width, m_height))
        return PravonContext(e, kComponent, "cannot give the image its size");
    LONG tileSize = 0;
    if (IPravonError* e = image->GetTileSize(&tileSize))
        return PravonContext(e, kComponent, "cannot read the image's tile size");
    if (tileSize < 1)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the image has no tiles");
    image->AddRef();
    if (m_image)
        m_image->Release();
    m_image = image;
    m_tileSize = tileSize;
    m_nextRow = 0;
    return nullptr;
}

IPravonError* CPravonCameraRawLoad::Step() {
    if (!m_image)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the load has not begun");
    if (IsComplete())
        return nullptr;
    const LONG rows = std::min(m_tileSize, m_height - m_nextRow);
    const PravonRect band{0, m_nextRow, m_width, m_nextRow + rows};
    if (IPravonError* e = PravonSetData(m_image, band, m_samples.data() + std::size_t(m_nextRow) * m_width,
                                        std::size_t(m_width) * sizeof(WORD)))
        return PravonContext(e, kComponent, "cannot write the mosaic into the image");
    m_nextRow += rows;
    return nullptr;
}
