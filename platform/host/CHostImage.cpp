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

struct Tap {
    LONG index;
    double weight;
};

// For each of the new positions on an axis, the old pixels it covers and by how much (summing to 1).
std::vector<std::vector<Tap>> Taps(LONG from, LONG to) {
    std::vector<std::vector<Tap>> taps(static_cast<std::size_t>(to));
    const double scale = static_cast<double>(from) / to;
    for (LONG o = 0; o < to; ++o) {
        const double start = o * scale, end = (o + 1) * scale;
        for (LONG i = static_cast<LONG>(std::floor(start)); i < std::min<double>(from, std::ceil(end)); ++i) {
            const double weight = std::min<double>(end, i + 1) - std::max<double>(start, i);
            if (weight > 0)
                taps[static_cast<std::size_t>(o)].push_back(Tap{i, weight / scale});
        }
    }
    return taps;
}

} // namespace

CHostPicture ResamplePicture(const CHostPicture& picture, LONG width, LONG height) {
    const auto across = Taps(picture.width, width), down = Taps(picture.height, height);
    const LONG channels = picture.channels;
    // Across first, into a row-major plane of the new width and the old height. Each value is summed from
    // nothing in the order of its taps, so the plane needs no clearing first; the old row is read once.
    const std::size_t lineSamples = static_cast<std::size_t>(picture.width) * channels;
    const std::unique_ptr<double[]> rows(new double[static_cast<std::size_t>(width) * picture.height * channels]);
    std::vector<double> line(lineSamples);
    for (LONG y = 0; y < picture.height; ++y) {
        for (LONG x = 0; x < picture.width; ++x)
            for (LONG c = 0; c < channels; ++c)
                line[static_cast<std::size_t>(x) * channels + c] = picture.Sample(x, y, c);
        double* row = rows.get() + static_cast<std::size_t>(y) * width * channels;
        for (LONG x = 0; x < width; ++x) {
            const std::vector<Tap>& taps = across[static_cast<std::size_t>(x)];
            for (LONG c = 0; c < channels; ++c) {
                double sum = 0.0;
                for (const Tap& tap : taps)
                    sum += tap.weight * line[static_cast<std::size_t>(tap.index) * channels + c];
                row[static_cast<std::size_t>(x) * channels + c] = sum;
            }
        }
    }
    CHostPicture out{width, height, channels, {}, picture.bits};
    out.samples.resize(out.RowBytes() * static_cast<std::size_t>(height));
    const long most = picture.bits == 16 ? 0xFFFF : 0xFF;
    for (LONG y = 0; y < height; ++y) {
        for (LONG x = 0; x < width; ++x) {
            for (LONG c = 0; c < channels; ++c) {
                double sum = 0;
                for (const Tap& tap : down[static_cast<std::size_t>(y)])
                    sum +=
                        tap.weight * rows[(static_cast<std::size_t>(tap.index) * width + x) * channels + c];
                out.SetSample(x, y, c, static_cast<std::uint32_t>(std::clamp(std::lround(sum), 0L, most)));
            }
        }
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
