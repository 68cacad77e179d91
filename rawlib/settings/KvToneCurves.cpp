#include "KvToneCurves.h"

#include "CKvLutGroup.h"
#include "ImageProperties.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr double kWhite = 56320.0;

struct StandardRow {
    double slope, gamma1, scale1, offset1, scale2, offset2, gamma2, toeEnd, knee;
};

// Each row's segments join to within 1e-13 at its toe end and its knee.
constexpr StandardRow kStandardRows[] = {
    {3.0, 0.45, 1.09615532532878, 0.137641629137195, 0.977314883687563, 0.22605751018334, 0.297594299385155,
     0.037538665653641, 0.5},
    {3.0, 0.5, 1.09544411810287, 0.0999994539712952, 1.13043071047529, 0.729738285485317, 0.104660855527884,
     0.0333332726635049, 0.9},
    {2.0, 0.55, 1.2827133432363, 0.161525062578477, 1.14142616456557, 0.721918911528145, 0.0625917387866393,
     0.0987098928806724, 0.8},
};

struct FallbackSet {
    double toeEnd, knee, c0, c1, c2, c3, scale1, offset1, offset2, exponent, scale2, lift;
};

constexpr FallbackSet kFallbackA = {0.177917586874978,
                                    0.41,
                                    0.003,
                                    1.7374881769475,
                                    5.11513672806795,
                                    -22.6087973137931,
                                    1.19,
                                    -0.155228638517473,
                                    0.21,
                                    0.363489499192246,
                                    0.813962100134017,
                                    0.153286337487229};
constexpr FallbackSet kFallbackB = {0.22938807570549388,
                                    0.405,
                                    0.00452,
                                    2.10816079023728,
                                    2.35435225477618,
                                    -13.4516995994706,
                                    1.02,
                                    -0.0388972745734182,
                                    0.155,
                                    0.37375415282392,
                                    0.829593831028144,
                                    0.11609462290645};

// Truncates a curve value into an entry: below 0 gives 0, above the table's range 0xFFFF, and a value
// that is not a number 0.
WORD Entry(double value) {
    if (!(value > 0.0))
        return 0;
    return static_cast<WORD>(std::min(value, 65535.0));
}

bool IsTableBits(int bits) {
    return bits == 12 || bits == 16;
}

constexpr LONG kBlobType = 1;
constexpr LONG kTableRange = 0x10000;
// Every parameter of the channel itself; neither the reference set nor the group's first channel, which
// is this channel.
constexpr DWORD kCameraCurveFlags = CKvLutChannel::kTableNormaliseInput | CKvLutChannel::kTableOutputLevels |
                                    CKvLutChannel::kTablePoints | CKvLutChannel::kTableGamma |
                                    CKvLutChannel::kTableContrast | CKvLutChannel::kTableOutside;

// Renders the fallback curve through the first channel of the stored group; false when the tag cannot be
// read or decoded into a group whose first channel is a tone curve, or memory runs out.
bool RenderStoredCurve(IPravonTagControl* tags, DWORD model, WORD* table, int bits) {
    if (!tags)
        return false;
    std::vector<BYTE> stored;
    std::vector<WORD> scratch;
    try {
        stored.resize(kCameraToneCurveSize);
        scratch.resize(std::size_t{1} << bits);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (PravonErrorPtr(tags->ReadTag(kCameraToneCurveTag, kBlobType, kCameraToneCurveSize, stored.data())))
        return false;
    auto group = std::unique_ptr<CKvLutGroup>(new (std::nothrow) CKvLutGroup());
    if (!group || group->ReadState(stored.data(), static_cast<int>(stored.size())) <= 0)
        return false;
    auto* channel = dynamic_cast<CKvLutChannel*>(group->GetChannelAt(0));
    if (!channel)
        return false;
    BuildCameraFallbackCurve(scratch.data(), bits, model);
    const LONG count = static_cast<LONG>(scratch.size());
    if (channel->SetInputTable(scratch.data(), sizeof(WORD), count, kTableRange, true) != 0)
        return false;
    return channel->BuildTable(table, sizeof(WORD), count, kTableRange, kCameraCurveFlags, 0.0) == count;
}

} // namespace

void BuildStandardToneCurve(WORD* table, int bits, int row) {
    if (!table || !IsTableBits(bits) || row < 0 || row > 2)
        return;
    const StandardRow& r = kStandardRows[row];
    const int n = 1 << bits;
    const int toe = static_cast<int>(n * r.toeEnd);
    const int knee = static_cast<int>(n * r.knee);
    for (int i = 0; i < n; ++i) {
        const double x = static_cast<double>(i) / n;
        if (i < toe)
            table[i] = Entry(r.slope * x * kWhite);
        else if (i <= knee)
            table[i] = Entry((std::pow(x, r.gamma1) * r.scale1 - r.offset1) * kWhite);
        else
            table[i] = Entry(std::pow(x - r.offset2, r.gamma2) * r.scale2 * kWhite);
    }
}

bool BuildCameraFallbackCurve(WORD* table, int bits, DWORD cameraModel) {
    if (!table || !IsTableBits(bits))
        return false;
    const bool setA = cameraModel == 257 || cameraModel == 258 || cameraModel == 259 || cameraModel == 1025;
    const FallbackSet& s = setA ? kFallbackA : kFallbackB;
    const int n = 1 << bits;
    // The curve reaches white well before the end of the table: x runs past 1.
    const int d = static_cast<int>(n * 0.439453125);
    const int toe = static_cast<int>(d * s.toeEnd);
    const int knee = static_cast<int>(d * s.knee);
    for (int i = 0; i < n; ++i) {
        const double x = static_cast<double>(i) / d;
        if (i < toe)
            table[i] = Entry((s.c0 + s.c1 * x + s.c2 * x * x + s.c3 * x * x * x) * kWhite);
        else if (i < knee)
            table[i] = Entry((std::sqrt(x) * s.scale1 + s.offset1) * kWhite);
        else
            table[i] = Entry((std::pow(x - s.offset2, s.exponent) * s.scale2 + s.lift) * kWhite);
    }
    return true;
}

bool BuildCameraToneCurve(const ImageProperties* properties, WORD* table, int bits) {
    if (!properties || !table || !IsTableBits(bits))
        return false;
    if (!RenderStoredCurve(properties->tagControl, properties->cameraModelCode, table, bits))
        BuildCameraFallbackCurve(table, bits, properties->cameraModelCode);
    return true;
}
