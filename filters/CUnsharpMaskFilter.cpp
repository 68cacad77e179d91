#include "CUnsharpMaskFilter.h"

#include "filters/CUnsharpMaskRows.h"
#include "filters/WholeSourceChange.h"
#include "filters/engine/ClearUncovered.h"
#include "filters/engine/ForEachSourcePart.h"
#include "filters/engine/Int32Math.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace {

namespace Cs = PravonColorSpace;

// 8-bit samples are widened by 257 (255 becomes 65535); the 8-bit Lab and lightness-chroma-hue encodings
// by 256, which keeps their zero points.
constexpr LONG kWiden = 257;
constexpr LONG kWidenByShift = 256;
// The most window samples one tile may hold (1 GiB of 16-bit values).
constexpr std::uint64_t kMaxWindowSamples = std::uint64_t{1} << 29;

// What sharpening adds to one value.
struct CSharpening {
    double power;
    double noisePower;
    double threshold; // 16-bit units
    bool affectNoise;
};

// The sharpened value of u (16-bit units) from its blur, before clamping.
double Sharpened(const CSharpening& s, double u, double blur, double weight) {
    double detail = u - blur;
    double power = s.power;
    const double t = s.threshold;
    if (t > 0) {
        if (detail < 0) {
            const double e = detail + t;
            if (s.affectNoise) {
                // A detail within the threshold turns into a smoothing of at most half of it.
                if (e > 0)
                    power = s.noisePower;
                detail = std::min(e, t - e);
            } else {
                detail = std::min(e, 0.0);
            }
        } else {
            const double e = detail - t;
            if (s.affectNoise) {
                if (e < 0)
                    power = s.noisePower;
                detail = std::max(e, -t - e);
            } else {
                detail = std::max(e, 0.0);
            }
        }
    }
    return u + weight * power * detail;
}

// The stored 16-bit value of a result: clamped to the 16-bit range and rounded down (which, for the
// positive values left, truncation does).
inline LONG Stored(double result) {
    if (!(result > 0))
        return 0;
    if (result >= 65535)
        return 65535;
    return static_cast<LONG>(result);
}

// A 16-bit value as a sample of the output: 8-bit samples keep the high byte.
template <class Sample>
inline Sample AsSample(LONG value) {
    if constexpr (sizeof(Sample) == 1)
        return static_cast<Sample>(value >> 8);
    else
        return static_cast<Sample>(value);
}

// The most planes a format sharpens (CMYK's four).
constexpr std::size_t kMaxPlanes = 4;

// Sample c of count pixels of channels samples into 16-bit units.
template <class Sample>
void WidenPlane(const Sample* from, LONG channels, LONG c, LONG widen, LONG count, WORD* to) {
    for (LONG x = 0; x < count; ++x) {
        const Sample v = from[static_cast<std::size_t>(x) * channels + c];
        to[x] = static_cast<WORD>(sizeof(Sample) == 1 ? v * widen : v);
    }
}

// Sharpened values (16-bit units) into plane c of count pixels of a row.
template <class Sample>
void StorePlane(const WORD* values, LONG count, BYTE* outRow, LONG channels, LONG c) {
    Sample* out = reinterpret_cast<Sample*>(outRow) + c;
    for (LONG x = 0; x < count; ++x)
        out[static_cast<std::size_t>(x) * channels] = AsSample<Sample>(values[x]);
}

// Three planes of sharpened values into the three channels of count pixels, in one pass.
template <class Sample>
void StoreThree(const WORD* const* values, LONG count, BYTE* outRow) {
    Sample* __restrict out = reinterpret_cast<Sample*>(outRow);
    const WORD* __restrict a = values[0];
    const WORD* __restrict b = values[1];
    const WORD* __restrict c = values[2];
    for (LONG x = 0; x < count; ++x) {
        Sample* pixel = out + static_cast<std::size_t>(x) * 3;
        pixel[0] = AsSample<Sample>(a[x]);
        pixel[1] = AsSample<Sample>(b[x]);
        pixel[2] = AsSample<Sample>(c[x]);
    }
}

// Pads a window plane around the part that holds source pixels ([left, right) x [top, bottom)) with its
// edge pixels, as positions outside the source read the nearest pixel inside.
void PadWithEdges(WORD* plane, LONG width, LONG height, const CPravonRect& filled) {
    for (LONG y = filled.top; y < filled.bottom; ++y) {
        WORD* row = plane + static_cast<std::size_t>(y) * width;
        std::fill(row, row + filled.left, row[filled.left]);
        std::fill(row + filled.right, row + width, row[filled.right - 1]);
    }
    const std::size_t rowBytes = static_cast<std::size_t>(width) * sizeof(WORD);
    for (LONG y = 0; y < filled.top; ++y)
        std::memcpy(plane + static_cast<std::size_t>(y) * width,
                    plane + static_cast<std::size_t>(filled.top) * width, rowBytes);
    for (LONG y = filled.bottom; y < height; ++y)
        std::memcpy(plane + static_cast<std::size_t>(y) * width,
                    plane + static_cast<std::size_t>(filled.bottom - 1) * width, rowBytes);
}

} // namespace

// How a source format is sharpened: its samples, which planes may be selected, how 8-bit samples widen and
// whether the window weighs by hue.
struct CUnsharpMaskFilter::CFormat {
    LONG channels = 0;
    LONG sampleBytes = 0;
    LONG planes = 0;
    LONG widen = kWiden;
    bool hueRange = false;

    static bool Of(LONG colorSpace, CFormat* format) {
        switch (colorSpace) {
        case Cs::kGrey8:
        case Cs::kGrey16:
            *format = CFormat{1, 0, 1, kWiden, false};
            break;
        case Cs::kRGB8:
        case Cs::kRGB16:
            *format = CFormat{3, 0, 3, kWiden, false};
            break;
        case Cs::kLab8:
            *format = CFormat{3, 0, 1, kWidenByShift, false};
            break;
        case Cs::kLab16:
        case Cs::kYCbCr16:
            *format = CFormat{3, 0, 1, kWiden, false};
            break;
        case Cs::kLCh8:
            *format = CFormat{3, 0, 1, kWidenByShift, true};
            break;
        case Cs::kLCh16:
            *format = CFormat{3, 0, 1, kWiden, true};
            break;
        case Cs::kCMYK8:
            *format = CFormat{4, 0, 4, kWiden, false};
            break;
        default:
            return false;
        }
        format->sampleBytes = Cs::BitsPerSample(colorSpace) / 8;
        return true;
    }

    LONG PixelBytes() const { return channels * sampleBytes; }
    // Sample c of pixel x of a row, in 16-bit units.
    LONG Read(const BYTE* row, LONG x, LONG c) const {
        const std::size_t i = static_cast<std::size_t>(x) * channels + c;
        if (sampleBytes == 1)
            return row[i] * widen;
        return reinterpret_cast<const WORD*>(row)[i];
    }
    void Write(BYTE* row, LONG x, LONG c, LONG value) const {
        const std::size_t i = static_cast<std::size_t>(x) * channels + c;
        if (sampleBytes == 1)
            row[i] = static_cast<BYTE>(value >> 8);
        else
            reinterpret_cast<WORD*>(row)[i] = static_cast<WORD>(value);
    }
};

// One output tile: the source window around its invalid part, gathered per selected plane in 16-bit units
// and padded at the source's edges, then blurred and sharpened row by row.
class CUnsharpMaskFilter::CTileWork {
public:
    CTileWork(const CUnsharpMaskFilter& filter, const CFormat& format, const COutputTile& out, LONG width,
              LONG height, CBuffers& buffers)
        : m_filter(filter), m_kernel(filter.m_kernel), m_format(format), m_out(out), m_invalid(out.invalid),
          m_samples(buffers.samples), m_blur(buffers.blur), m_sharpened(buffers.sharpened),
          m_scratch(buffers.scratch), m_lines(buffers.lines), m_rows(buffers.rows) {
        for (LONG p = 0; p < format.planes; ++p)
            if (filter.m_planeMask & (LONG{1} << p))
                m_planes.push_back(p);
        const LONG rx = m_kernel.GetReachX();
        const LONG ry = m_kernel.GetReachY();
        using Int32Math::SaturatedAdd;
        m_window = CPravonRect(SaturatedAdd(m_invalid.left, -rx), SaturatedAdd(m_invalid.top, -ry),
                               SaturatedAdd(m_invalid.right, rx), SaturatedAdd(m_invalid.bottom, ry));
        m_fetch = m_window.Intersect(CPravonRect(0, 0, width, height));
    }

    IPravonError* Run(IPravonDataSource* source) {
        const std::uint64_t samples = std::uint64_t(m_window.Width()) * m_window.Height() * m_planes.size();
        if (samples > kMaxWindowSamples)
            return PravonFail(kCode, PravonKind::kOutOfMemory, "the kernel's window does not fit in memory");
        try {
            m_samples.resize(samples);
            m_blur.resize(m_invalid.Width());
            m_sharpened.resize(static_cast<std::size_t>(m_invalid.Width()) * m_planes.size());
            m_separable = UnsharpMaskRows::UsesSeparable(m_kernel);
            if (m_separable)
                m_lines.resize(UnsharpMaskRows::SeparableScratchSize(m_kernel, m_invalid.Width()));
            else
                m_scratch.resize(UnsharpMaskRows::ScratchSize(m_kernel, m_invalid.Width()));
            m_rows.resize(2 * static_cast<std::size_t>(m_kernel.GetReachY()) + 1);
        } catch (const std::bad_alloc&) {
            return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory for the kernel's window");
        }
        if (IPravonError* e =
                ForEachSourcePart(source, m_fetch, [&](const CSourcePart& piece) -> IPravonError* {
                    Gather(piece);
                    return nullptr;
                }))
            return PravonContext(e, kCode, "cannot read the source");
        const CPravonRect filled(m_fetch.left - m_window.left, m_fetch.top - m_window.top,
                                 m_fetch.right - m_window.left, m_fetch.bottom - m_window.top);
        for (std::size_t i = 0; i < m_planes.size(); ++i)
            PadWithEdges(Plane(i), m_window.Width(), m_window.Height(), filled);
        for (LONG y = m_invalid.top; y < m_invalid.bottom; ++y)
            SharpenRow(m_routines, y);
        return nullptr;
    }

private:
    WORD* Plane(std::size_t i) {
        return m_samples.data() + i * static_cast<std::size_t>(m_window.Width()) * m_window.Height();
    }

    // The selected planes of a source piece into the window; the whole pixels of the invalid part into the
    // output, where the planes that are not sharpened keep them (none do when every channel is a selected
    // plane).
    void Gather(const CSourcePart& piece) {
        const CPravonRect& part = piece.part;
        const LONG pixelBytes = m_format.PixelBytes();
        const LONG copyLeft = std::max(part.left, m_invalid.left);
        const LONG copyRight = std::min(part.right, m_invalid.right);
        const bool keepsOthers = static_cast<LONG>(m_planes.size()) < m_format.channels;
        WORD* to[kMaxPlanes];
        for (LONG y = part.top; y < part.bottom; ++y) {
            const BYTE* row = piece.Row(y);
            const BYTE* from = row + static_cast<std::size_t>(part.left - piece.tileRect.left) * pixelBytes;
            for (std::size_t i = 0; i < m_planes.size(); ++i)
                to[i] = Plane(i) + static_cast<std::size_t>(y - m_window.top) * m_window.Width() +
                        (part.left - m_window.left);
            if (m_format.sampleBytes == 2 && m_format.channels == 3 && m_planes.size() == 3)
                m_routines.split(reinterpret_cast<const WORD*>(from), part.Width(), to[0], to[1], to[2]);
            else if (m_format.sampleBytes == 1)
                SplitPlanes<BYTE>(from, part.Width(), to);
            else
                SplitPlanes<WORD>(from, part.Width(), to);
            if (keepsOthers && y >= m_invalid.top && y < m_invalid.bottom && copyLeft < copyRight)
                std::memcpy(m_out.Row(y) + static_cast<std::size_t>(copyLeft - m_out.rect.left) * pixelBytes,
                            row + static_cast<std::size_t>(copyLeft - piece.tileRect.left) * pixelBytes,
                            static_cast<std::size_t>(copyRight - copyLeft) * pixelBytes);
        }
    }

    // The selected planes of count pixels, three of three channels in one pass.
    template <class Sample>
    void SplitPlanes(const BYTE* row, LONG count, WORD* const* to) const {
        const auto* from = reinterpret_cast<const Sample*>(row);
        const LONG widen = m_format.widen;
        if (m_format.channels == 3 && m_planes.size() == 3) {
            WORD* __restrict a = to[0];
            WORD* __restrict b = to[1];
            WORD* __restrict c = to[2];
            for (LONG x = 0; x < count; ++x) {
                const Sample* pixel = from + static_cast<std::size_t>(x) * 3;
                a[x] = static_cast<WORD>(pixel[0] * (sizeof(Sample) == 1 ? widen : 1));
                b[x] = static_cast<WORD>(pixel[1] * (sizeof(Sample) == 1 ? widen : 1));
                c[x] = static_cast<WORD>(pixel[2] * (sizeof(Sample) == 1 ? widen : 1));
            }
            return;
        }
        for (std::size_t i = 0; i < m_planes.size(); ++i)
            WidenPlane<Sample>(from, m_format.channels, m_planes[i], widen, count, to[i]);
    }

    void SharpenRow(const UnsharpMaskRows::Kernels& routines, LONG y) {
        const LONG count = m_invalid.Width();
        const CSharpening sharpening{m_filter.m_power, m_filter.m_noisePower, m_filter.m_threshold16,
                                     m_filter.m_affectNoise};
        const CUnsharpMaskRange& range = m_filter.m_window;
        BYTE* out =
            m_out.Row(y) + static_cast<std::size_t>(m_invalid.left - m_out.rect.left) * m_format.PixelBytes();
        // Without a threshold over the full range, the common case: u + power (u - blur) for each plane,
        // stored together.
        const bool plainly = range.IsFull() && !(sharpening.threshold > 0);
        const WORD* sharpened[kMaxPlanes];
        for (std::size_t i = 0; i < m_planes.size(); ++i) {
            const WORD* centre = BlurRow(routines, i, y);
            if (plainly) {
                WORD* values = m_sharpened.data() + i * static_cast<std::size_t>(count);
                routines.sharpen(centre, m_blur.data(), count, sharpening.power, values);
                sharpened[i] = values;
                continue;
            }
            const LONG p = m_planes[i];
            for (LONG x = 0; x < count; ++x) {
                const LONG u = centre[x];
                double weight = 1;
                bool passes = true;
                if (!range.IsFull()) {
                    // The hue form reads the pixel's chroma and hue, which the sharpening leaves alone.
                    passes = m_format.hueRange ? range.HueWeight(m_format.Read(out, x, 2),
                                                                 m_format.Read(out, x, 1), &weight)
                                               : range.ValueWeight(u, &weight);
                }
                const LONG value = passes ? Stored(Sharpened(sharpening, u, m_blur[x], weight)) : u;
                m_format.Write(out, x, p, value);
            }
        }
        if (!plainly)
            return;
        const bool wide = m_format.sampleBytes == 2;
        if (m_format.channels == 3 && m_planes.size() == 3) {
            if (wide)
                routines.merge(sharpened[0], sharpened[1], sharpened[2], count, reinterpret_cast<WORD*>(out));
            else
                StoreThree<BYTE>(sharpened, count, out);
            return;
        }
        for (std::size_t i = 0; i < m_planes.size(); ++i) {
            if (wide)
                StorePlane<WORD>(sharpened[i], count, out, m_format.channels, m_planes[i]);
            else
                StorePlane<BYTE>(sharpened[i], count, out, m_format.channels, m_planes[i]);
        }
    }

    // Blurs row y of plane i into m_blur; returns the row's own values.
    const WORD* BlurRow(const UnsharpMaskRows::Kernels& routines, std::size_t i, LONG y) {
        const LONG count = m_invalid.Width();
        const WORD* plane = Plane(i);
        for (std::size_t j = 0; j < m_rows.size(); ++j)
            m_rows[j] = plane + static_cast<std::size_t>(y - m_invalid.top + j) * m_window.Width();
        if (m_separable)
            routines.separable(m_kernel, m_rows.data(), count, m_blur.data(), m_lines.data());
        else
            UnsharpMaskRows::Blur(routines, m_kernel, m_rows.data(), count, m_blur.data(), m_scratch.data());
        return m_rows[m_kernel.GetReachY()] + m_kernel.GetReachX();
    }

    const CUnsharpMaskFilter& m_filter;
    const CUnsharpMaskKernel& m_kernel;
    const CFormat& m_format;
    const COutputTile& m_out;
    const CPravonRect m_invalid;
    std::vector<LONG> m_planes;
    CPravonRect m_window;
    CPravonRect m_fetch;
    const UnsharpMaskRows::Kernels& m_routines = UnsharpMaskRows::Choose();
    std::vector<WORD>& m_samples;
    std::vector<double>& m_blur;
    std::vector<WORD>& m_sharpened;
    std::vector<double>& m_scratch;
    std::vector<float>& m_lines;
    std::vector<const WORD*>& m_rows;
    bool m_separable = false;
};

CUnsharpMaskFilter::CUnsharpMaskFilter(IPravonManager* manager) : CPravonFilterBase(manager, 1) {
    SetCacheCheck();
    SetPassThrough(false);
}

CUnsharpMaskFilter::~CUnsharpMaskFilter() = default;

IPravonError* CUnsharpMaskFilter::Changed(bool notify) {
    SetCacheCheck();
    if (!ShouldAnnounceChange(*this, notify))
        return nullptr;
    return AnnounceWholeSourceChange(*this, kCode);
}

void CUnsharpMaskFilter::UpdatePassThrough() {
    SetPassThrough(m_planeMask == 0 || std::fabs(m_power) <= kNoPower);
}

IPravonError* CUnsharpMaskFilter::SetPlaneMask(LONG mask, bool notify) {
    if (mask == m_planeMask)
        return nullptr;
    m_planeMask = mask;
    UpdatePassThrough();
    return Changed(notify);
}

IPravonError* CUnsharpMaskFilter::SetRadii(double x, double y, bool notify) {
    if (!std::isfinite(x) || !std::isfinite(y) || x < 0 || y < 0)
        return PravonFail(kCode, PravonKind::kOutOfRange, "the radii must be finite and not negative");
    if (x == m_radiusX && y == m_radiusY)
        return nullptr;
    m_radiusX = x;
    m_radiusY = y;
    MarkKernel();
    return Changed(notify);
}

void CUnsharpMaskFilter::GetRadii(double* x, double* y) const {
    if (x)
        *x = m_radiusX;
    if (y)
        *y = m_radiusY;
}

IPravonError* CUnsharpMaskFilter::SetPower(double power, bool notify) {
    if (!std::isfinite(power))
        return PravonFail(kCode, PravonKind::kOutOfRange, "the power must be finite");
    if (power == m_power)
        return nullptr;
    m_power = power;
    m_noisePower = std::min(power, 1.0);
    MarkKernel();
    UpdatePassThrough();
    return Changed(notify);
}

IPravonError* CUnsharpMaskFilter::SetThreshold(double threshold, bool notify) {
    if (!std::isfinite(threshold))
        return PravonFail(kCode, PravonKind::kOutOfRange, "the threshold must be finite");
    if (threshold == m_threshold)
        return nullptr;
    m_threshold = threshold;
    m_threshold16 = threshold * kWiden;
    return Changed(notify);
}

IPravonError* CUnsharpMaskFilter::SetAffectNoise(bool affect, bool notify) {
    if (affect == m_affectNoise)
        return nullptr;
    m_affectNoise = affect;
    return Changed(notify);
}

IPravonError* CUnsharpMaskFilter::SetMaskMethod(LONG method, bool notify) {
    if (method == m_maskMethod)
        return nullptr;
    m_maskMethod = method;
    MarkKernel();
    return Changed(notify);
}

IPravonError* CUnsharpMaskFilter::SetParabolicPower(double power, bool notify) {
    // At 0 or below every weight, the centre's too, would be 0 or not a number.
    if (!std::isfinite(power) || power <= 0)
        return PravonFail(kCode, PravonKind::kOutOfRange, "the parabolic power must be finite and above 0");
    if (power == m_parabolicPower)
        return nullptr;
    m_parabolicPower = power;
    if (m_maskMethod != CUnsharpMaskKernel::kParabolic)
        return nullptr;
    MarkKernel();
    return Changed(notify);
}

IPravonError* CUnsharpMaskFilter::SetRange(double low, double lowSoftness, double high, double highSoftness,
                                           bool notify) {
    const double bounds[4] = {low, lowSoftness, high, highSoftness};
    for (double v : bounds)
        if (!(v >= 0 && v <= 1))
            return PravonFail(kCode, PravonKind::kOutOfRange, "the range's bounds must lie in [0, 1]");
    if (std::equal(bounds, bounds + 4, m_range))
        return nullptr;
    std::copy(bounds, bounds + 4, m_range);
    m_window.Set(low, lowSoftness, high, highSoftness);
    return Changed(notify);
}

void CUnsharpMaskFilter::GetRange(double* low, double* lowSoftness, double* high,
                                  double* highSoftness) const {
    double* const to[4] = {low, lowSoftness, high, highSoftness};
    for (int i = 0; i < 4; ++i)
        if (to[i])
            *to[i] = m_range[i];
}

double CUnsharpMaskFilter::GetValue(double dx, double dy) const {
    return CUnsharpMaskKernel::Weight(m_maskMethod, m_radiusX, m_radiusY, m_parabolicPower, dx, dy);
}

IPravonError* CUnsharpMaskFilter::GenerateKernel() {
    if (IPravonError* e = m_kernel.Generate(kCode, m_maskMethod, m_radiusX, m_radiusY, m_parabolicPower))
        return e;
    m_kernelCurrent = true;
    return nullptr;
}

CPravonFilterBase::CHalo CUnsharpMaskFilter::GetHalo(IPravonDataSource* const*, LONG) {
    if (!m_kernelCurrent) {
        // A kernel that cannot be made fails every tile; its nominal size is reach enough meanwhile.
        if (PravonErrorPtr(GenerateKernel())) {
            const LONG n = std::min(CUnsharpMaskKernel::HalfSizeFor(m_maskMethod, m_radiusX, m_radiusY),
                                    CUnsharpMaskKernel::kMaxHalfSize);
            return CHalo{n, n, n, n};
        }
    }
    const LONG rx = m_kernel.GetReachX();
    const LONG ry = m_kernel.GetReachY();
    return CHalo{rx, ry, rx, ry};
}

IPravonError* CUnsharpMaskFilter::MapChangedArea(IPravonDataSource* source, const PravonRect& rect,
                                                 PravonRect* area) {
    if (IPravonError* e = CPravonFilterBase::MapChangedArea(source, rect, area))
        return e;
    LONG width = 0;
    LONG height = 0;
    if (IPravonError* e = source->GetSize(&width, &height))
        return PravonContext(e, kCode, "cannot read the source's size");
    area->left = std::clamp<LONG>(area->left, 0, width);
    area->top = std::clamp<LONG>(area->top, 0, height);
    area->right = std::clamp<LONG>(area->right, 0, width);
    area->bottom = std::clamp<LONG>(area->bottom, 0, height);
    return nullptr;
}

IPravonError* CUnsharpMaskFilter::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        IPravonDataSource* source = nullptr;
        if (IPravonError* e = GetFirstSource(info, &source))
            return e;
        if (!m_kernelCurrent)
            if (IPravonError* e = GenerateKernel())
                return e;
        LONG colorSpace = 0;
        LONG width = 0;
        LONG height = 0;
        if (IPravonError* e = source->GetColorSpace(&colorSpace))
            return PravonContext(e, kCode, "cannot read the source's colour space");
        if (IPravonError* e = source->GetSize(&width, &height))
            return PravonContext(e, kCode, "cannot read the source's size");
        CFormat format;
        if (!CFormat::Of(colorSpace, &format))
            return PravonFail(kCode, PravonKind::kUnsupportedColorSpace, "Bad source data color space");
        if (out.colorSpace != colorSpace)
            return PravonFail(kCode, PravonKind::kInvalidState,
                              "the output tile is not in the source's format");
        // Pixels beyond the source (one that shrank unannounced) are black; a window is gathered only for
        // those it covers, since a window wholly outside it would have no edge to be padded from.
        const CPravonRect covered(0, 0, width, height);
        ClearOutside(out, covered, PravonColorSpace::BitsPerPixel(colorSpace));
        COutputTile inside = out;
        inside.invalid = out.invalid.Intersect(covered);
        if (inside.invalid.Empty())
            return nullptr;
        CBuffers* buffers = m_buffers.Acquire();
        if (!buffers)
            return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory for the kernel's window");
        IPravonError* err = CTileWork(*this, format, inside, width, height, *buffers).Run(source);
        m_buffers.Release(buffers);
        return err;
    });
}
