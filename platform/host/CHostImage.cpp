#include "CHostImage.h"

#include "platform/pravon/PravonImageData.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

std::atomic<LONG> g_liveImages{0};

// The largest side the host resizes to.
constexpr LONG kMaxSide = 32767;

// For each of the new positions on an axis, the run of consecutive old pixels it covers and by how much
// each (summing to 1), kept flat: the run of new position o starts at old pixel first[o], its weights at
// weights[at[o]], count[o] of them.
struct AxisTaps {
    std::vector<LONG> first;
    std::vector<LONG> count;
    std::vector<std::size_t> at;
    std::vector<double> weights;
    LONG longest = 0;
};

AxisTaps Taps(LONG from, LONG to) {
    AxisTaps taps;
    taps.first.resize(static_cast<std::size_t>(to));
    taps.count.resize(static_cast<std::size_t>(to));
    taps.at.resize(static_cast<std::size_t>(to));
    const double scale = static_cast<double>(from) / to;
    for (LONG o = 0; o < to; ++o) {
        const double start = o * scale, end = (o + 1) * scale;
        const std::size_t index = static_cast<std::size_t>(o);
        taps.at[index] = taps.weights.size();
        taps.first[index] = -1;
        // Every new position covers some of an old pixel, so no run is empty.
        for (LONG i = static_cast<LONG>(std::floor(start)); i < std::min<double>(from, std::ceil(end)); ++i) {
            const double weight = std::min<double>(end, i + 1) - std::max<double>(start, i);
            if (weight > 0) {
                if (taps.first[index] < 0)
                    taps.first[index] = i;
                taps.weights.push_back(weight / scale);
            }
        }
        taps.count[index] = static_cast<LONG>(taps.weights.size() - taps.at[index]);
        taps.longest = std::max(taps.longest, taps.count[index]);
    }
    return taps;
}

// The nearest whole number to a sum that is not below 0, halves away from zero as std::lround rounds them
// (the fraction a double's whole part leaves is exact), at most the largest sample. Branch-free, so that a
// line of them is rounded in vector registers.
inline std::int32_t RoundedSample(double sum, double most) {
    const double kept = std::min(sum, most);
    const std::int32_t whole = static_cast<std::int32_t>(kept);
    return whole + static_cast<std::int32_t>(kept - whole >= 0.5);
}

// One old row resampled across into the line of the new width: each value summed from nothing in the
// order of its taps. A pixel takes Channels samples of SampleBytes bytes (16-bit ones the low byte first).
template <LONG Channels, std::size_t SampleBytes>
void AcrossRow(const BYTE* row, LONG width, const AxisTaps& across, double* out) {
    constexpr std::size_t kPixelBytes = Channels * SampleBytes;
    const auto level = [](const BYTE* pixel, LONG c) {
        const BYTE* sample = pixel + c * SampleBytes;
        return static_cast<double>(SampleBytes == 2 ? sample[0] | sample[SampleBytes - 1] << 8 : sample[0]);
    };
    for (LONG x = 0; x < width; ++x) {
        const std::size_t index = static_cast<std::size_t>(x);
        const double* weight = &across.weights[across.at[index]];
        const BYTE* pixel = row + static_cast<std::size_t>(across.first[index]) * kPixelBytes;
        const LONG count = across.count[index];
        // One sum a channel, held apart so that they stay in registers.
        double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
        for (LONG t = 0; t < count; ++t, pixel += kPixelBytes) {
            const double w = weight[t];
            s0 += w * level(pixel, 0);
            if constexpr (Channels > 1) {
                s1 += w * level(pixel, 1);
                s2 += w * level(pixel, 2);
            }
            if constexpr (Channels > 3)
                s3 += w * level(pixel, 3);
        }
        double* values = out + index * Channels;
        values[0] = s0;
        if constexpr (Channels > 1) {
            values[1] = s1;
            values[2] = s2;
        }
        if constexpr (Channels > 3)
            values[3] = s3;
    }
}

template <std::size_t SampleBytes>
void AcrossRow(LONG channels, const BYTE* row, LONG width, const AxisTaps& across, double* out) {
    switch (channels) {
    case 1:
        return AcrossRow<1, SampleBytes>(row, width, across, out);
    case 3:
        return AcrossRow<3, SampleBytes>(row, width, across, out);
    default:
        return AcrossRow<4, SampleBytes>(row, width, across, out);
    }
}

} // namespace

CHostPicture ResamplePicture(const CHostPicture& picture, LONG width, LONG height) {
    const AxisTaps across = Taps(picture.width, width), down = Taps(picture.height, height);
    const LONG channels = picture.channels;
    const bool wide = picture.bits == 16;
    CHostPicture out{width, height, channels, {}, picture.bits};
    out.samples.resize(out.RowBytes() * static_cast<std::size_t>(height));
    if (channels != 1 && channels != 3 && channels != 4)
        return out;
    // Across first, each old row once, into a ring of lines of the new width that holds the longest run
    // of old rows a new row covers; the runs only move down, so a line is replaced once no row needs it.
    // Then each new value is summed down its run from nothing in the order of its taps.
    const std::size_t lineSamples = static_cast<std::size_t>(width) * channels;
    const std::size_t ringRows = static_cast<std::size_t>(std::max<LONG>(down.longest, 1));
    std::vector<double> ring(lineSamples * ringRows);
    std::vector<double> sums(lineSamples);
    const std::size_t oldRowBytes = picture.RowBytes();
    const double most = wide ? 0xFFFF : 0xFF;
    LONG nextOld = 0;
    for (LONG y = 0; y < height; ++y) {
        const std::size_t row = static_cast<std::size_t>(y);
        const LONG first = down.first[row], count = down.count[row];
        for (; nextOld < first + count; ++nextOld) {
            const BYTE* old = picture.samples.data() + oldRowBytes * static_cast<std::size_t>(nextOld);
            double* line = ring.data() + lineSamples * (static_cast<std::size_t>(nextOld) % ringRows);
            if (wide)
                AcrossRow<2>(channels, old, width, across, line);
            else
                AcrossRow<1>(channels, old, width, across, line);
        }
        // Each value summed down from nothing in the order of the taps; x + 0 is x, so the first tap's
        // product stands for the first sum.
        const double* weight = &down.weights[down.at[row]];
        const double* firstLine = ring.data() + lineSamples * (static_cast<std::size_t>(first) % ringRows);
        double* __restrict sum = sums.data();
        for (std::size_t i = 0; i < lineSamples; ++i)
            sum[i] = weight[0] * firstLine[i];
        for (LONG t = 1; t < count; ++t) {
            const double* __restrict line =
                ring.data() + lineSamples * (static_cast<std::size_t>(first + t) % ringRows);
            const double w = weight[t];
            for (std::size_t i = 0; i < lineSamples; ++i)
                sum[i] += w * line[i];
        }
        BYTE* target = out.samples.data() + out.RowBytes() * row;
        if (wide)
            for (std::size_t i = 0; i < lineSamples; ++i) {
                const std::uint32_t value = RoundedSample(sum[i], most);
                target[2 * i] = static_cast<BYTE>(value);
                target[2 * i + 1] = static_cast<BYTE>(value >> 8);
            }
        else
            for (std::size_t i = 0; i < lineSamples; ++i)
                target[i] = static_cast<BYTE>(RoundedSample(sum[i], most));
    }
    return out;
}

CHostImage::CHostImage(IPravonManager& manager, const CHostPicture& picture) {
    ++g_liveImages;
    IPravonImage* image = nullptr;
    if (PravonErrorPtr(manager.CreateImage(1, &image)) || !image)
        return;
    m_image.reset(image);
    if (!Fill(picture))
        m_image.reset();
}

CHostImage::~CHostImage() {
    --g_liveImages;
}

bool CHostImage::Fill(const CHostPicture& picture) {
    const std::size_t rowBytes = picture.RowBytes();
    return picture.ColorSpace() != 0 && picture.samples.size() == rowBytes * picture.height &&
           !PravonErrorPtr(m_image->SetColorSpace(picture.ColorSpace())) &&
           !PravonErrorPtr(m_image->SetSize(picture.width, picture.height)) &&
           !PravonErrorPtr(PravonSetData(m_image.get(), PravonRect{0, 0, picture.width, picture.height},
                                         picture.samples.data(), rowBytes));
}

ULONG CHostImage::AddRef() {
    return ++m_references;
}

ULONG CHostImage::Release() {
    const ULONG left = --m_references;
    if (left == 0)
        delete this;
    return left;
}

LONG CHostImage::GetWidth() {
    LONG width = 0;
    return m_image && !PravonErrorPtr(m_image->GetWidth(&width)) ? width : 0;
}

LONG CHostImage::GetHeight() {
    LONG height = 0;
    return m_image && !PravonErrorPtr(m_image->GetHeight(&height)) ? height : 0;
}

bool CHostImage::Resize(LONG width, LONG height) {
    if (!m_image || width < 1 || height < 1 || width > kMaxSide || height > kMaxSide)
        return false;
    CHostPicture current;
    LONG colorSpace = 0;
    if (PravonErrorPtr(m_image->GetColorSpace(&colorSpace)))
        return false;
    current.width = GetWidth();
    current.height = GetHeight();
    current.channels = PravonColorSpace::Channels(colorSpace);
    current.bits = PravonColorSpace::BitsPerSample(colorSpace);
    if (current.width < 1 || current.height < 1 || current.ColorSpace() != colorSpace)
        return false;
    current.samples.resize(current.RowBytes() * static_cast<std::size_t>(current.height));
    if (PravonErrorPtr(m_image->GetData(PravonRect{0, 0, current.width, current.height},
                                        current.samples.data(), current.RowBytes())))
        return false;
    return Fill(ResamplePicture(current, width, height));
}

LONG CHostImage::Live() {
    return g_liveImages.load();
}
