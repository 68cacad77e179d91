// Advance state: the plug-in's request for input, served from the run's source.
//
// The rectangles and planes come from the plug-in and are checked before anything is copied: a reversed
// rectangle or a plane range outside the image's planes is refused (kErrWithText and a reason in the error
// string); the input buffer has the shape of the plug-in's input rectangle and holds the part of it inside
// the image (the rest stays zero), sized in 64 bits and refused with kErrMemory beyond what the record's
// 32-bit fields can address; the output rectangle must lie inside the output buffer the run set up. Unless
// the plug-in set outputInitialised, the output starts as a copy of the input where the two meet.
#include "IPlugin.h"

#include "filters/CPravonFilterScale.h"
#include "filters/engine/ForEachSourcePart.h"
#include "platform/pravon/PravonGraph.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

using namespace KvPlugin;

constexpr std::int64_t kMaxWorkBytes = std::numeric_limits<std::int32_t>::max();

bool Reversed(const KvPluginRect& r) {
    return r.right < r.left || r.bottom < r.top;
}

std::int64_t Width(const KvPluginRect& r) {
    return std::int64_t{r.right} - r.left;
}

std::int64_t Height(const KvPluginRect& r) {
    return std::int64_t{r.bottom} - r.top;
}

CPravonRect RectOf(const KvPluginRect& r) {
    return CPravonRect(r.left, r.top, r.right, r.bottom);
}

bool PlanesWithin(int lo, int hi, int planes) {
    return 0 <= lo && lo <= hi && hi < planes;
}

bool Inside(const CPravonRect& inner, const CPravonRect& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

} // namespace

// The reading source of a request for input scaled down: a scale filter on the run's source, connected
// for the time of one advance.
class IPlugin::Scaler {
public:
    Scaler() = default;
    Scaler(const Scaler&) = delete;
    Scaler& operator=(const Scaler&) = delete;
    ~Scaler() {
        if (m_source)
            PravonErrorPtr(PravonDisconnect(m_source, m_filter.get()));
    }

    SHORT Open(IPlugin& plugin, double rate) {
        if (!plugin.m_manager)
            return plugin.FailWith("Cannot scale down image");
        m_filter.reset(new (std::nothrow) CPravonFilterScale(plugin.m_manager, CPravonFilterScale::kNearest));
        if (!m_filter)
            return kErrMemory;
        if (PravonErrorPtr error(PravonConnect(plugin.m_source, m_filter.get())); error)
            return plugin.FailWith("Cannot scale down image");
        m_source = plugin.m_source;
        if (PravonErrorPtr error(m_filter->SetScale(1.0 / rate, false)); error)
            return plugin.FailWith("Cannot scale down image");
        return kNoError;
    }
    IPravonDataSource* Reader() const { return m_filter.get(); }

private:
    std::unique_ptr<CPravonFilterScale> m_filter;
    IPravonDataSource* m_source = nullptr;
};

SHORT IPlugin::AdvanceState() {
    if (!m_source)
        return kErrNoSource;
    KvFilterRecord& r = m_record;
    if (Reversed(r.inRect) || Reversed(r.outRect) || Reversed(r.maskRect))
        return FailWith("The plug-in asked for a reversed rectangle");
    const bool wantsInput = Width(r.inRect) > 0 && Height(r.inRect) > 0;
    const bool wantsOutput = Width(r.outRect) > 0 && Height(r.outRect) > 0;
    const bool wantsMask = Width(r.maskRect) > 0 && Height(r.maskRect) > 0;
    if (!wantsInput && !wantsOutput && !wantsMask)
        return kNoError;
    if (wantsInput && !PlanesWithin(r.inLoPlane, r.inHiPlane, r.planes))
        return FailWith("The plug-in asked for input planes the image does not have");
    if (wantsOutput && !PlanesWithin(r.outLoPlane, r.outHiPlane, r.planes))
        return FailWith("The plug-in asked for output planes the image does not have");

    m_input.Free();
    r.inData = nullptr;
    r.inRowBytes = 0;
    const std::int64_t bytesPerSample = r.depth / 8;
    if (wantsInput) {
        const std::int64_t rowBytes = Width(r.inRect) * (r.inHiPlane - r.inLoPlane + 1) * bytesPerSample;
        if (rowBytes > kMaxWorkBytes || Height(r.inRect) > kMaxWorkBytes / rowBytes ||
            !m_input.Allocate(static_cast<std::size_t>(rowBytes * Height(r.inRect))))
            return kErrMemory;
        r.inData = m_input.data.get();
        r.inRowBytes = static_cast<std::int32_t>(rowBytes);
    }
    const CPravonRect out = wantsOutput ? RectOf(r.outRect) : CPravonRect();
    if (const SHORT result = PointOutput(out); result != kNoError)
        return result;
    if (!wantsInput)
        return kNoError;

    Scaler scaler;
    IPravonDataSource* reader = m_source;
    const double rate = static_cast<double>(r.inputRate) / kFixedOne;
    if (rate > 1.0) {
        if (const SHORT result = scaler.Open(*this, rate); result != kNoError)
            return result;
        reader = scaler.Reader();
    }
    LONG width = 0, height = 0;
    if (PravonErrorPtr error(reader->GetSize(&width, &height)); error)
        return FailWith("Cannot map destination rect");
    const CPravonRect in = RectOf(r.inRect);
    const CPravonRect part = in.Intersect(CPravonRect(0, 0, width, height));
    // Scaled input lies in other coordinates than the output, so it is no start for the output.
    if (!part.Empty()) {
        if (const SHORT result = CopyInput(reader, in, part, reader == m_source ? out : CPravonRect());
            result != kNoError)
            return result;
    }
    ReportRead(std::int64_t{part.Width()} * part.Height());
    return kNoError;
}

SHORT IPlugin::PointOutput(const CPravonRect& out) {
    KvFilterRecord& r = m_record;
    const Output o = GetOutput();
    r.outData = nullptr;
    r.outRowBytes = r.outPlaneBytes = 0;
    if (!o.data || o.planes <= 0)
        return out.Empty() ? kNoError : FailWith("The host has no output for the plug-in");
    if (!out.Empty() && !Inside(out, o.rect))
        return FailWith("The plug-in asked for output outside the host's output");
    const LONG x = out.Empty() ? o.rect.left : out.left;
    const LONG y = out.Empty() ? o.rect.top : out.top;
    const std::int64_t plane = std::clamp<std::int64_t>(r.outLoPlane, 0, o.planes - 1);
    const std::int64_t pixelStep = o.planar ? o.bytesPerSample : std::int64_t{o.planes} * o.bytesPerSample;
    const std::int64_t offset = std::int64_t{y - o.rect.top} * o.rowBytes +
                                std::int64_t{x - o.rect.left} * pixelStep +
                                plane * (o.planar ? o.planeBytes : o.bytesPerSample);
    r.outData = m_output.data.get() + offset;
    r.outRowBytes = o.rowBytes;
    r.outPlaneBytes = static_cast<std::int32_t>(o.planeBytes);
    return kNoError;
}

SHORT IPlugin::CopyInput(IPravonDataSource* reader, const CPravonRect& in, const CPravonRect& part,
                         const CPravonRect& out) {
    const KvFilterRecord& r = m_record;
    const std::size_t bytesPerSample = static_cast<std::size_t>(r.depth / 8);
    const std::size_t first = static_cast<std::size_t>(r.inLoPlane);
    const std::size_t samples = static_cast<std::size_t>(r.inHiPlane - r.inLoPlane + 1);
    const std::size_t sourcePixel = static_cast<std::size_t>(r.planes) * bytesPerSample;
    const std::size_t inPixel = samples * bytesPerSample;
    const Output o = GetOutput();
    const bool copyOut = !r.outputInitialised && !out.Empty();

    // The input pixels of one source tile, and the output pixels where the output meets them.
    const auto copyPiece = [&](const CSourcePart& piece) -> IPravonError* {
        const CPravonRect& cell = piece.part;
        const CPravonRect outPart = copyOut ? cell.Intersect(out) : CPravonRect();
        for (LONG y = cell.top; y < cell.bottom; ++y) {
            const BYTE* source = piece.Row(y) + std::size_t(cell.left - piece.tileRect.left) * sourcePixel;
            BYTE* target = m_input.data.get() + std::ptrdiff_t{y - in.top} * r.inRowBytes +
                           std::size_t(cell.left - in.left) * inPixel;
            if (samples == static_cast<std::size_t>(r.planes)) {
                std::memcpy(target, source, std::size_t(cell.Width()) * sourcePixel);
            } else {
                for (LONG x = 0; x < cell.Width(); ++x)
                    std::memcpy(target + std::size_t(x) * inPixel,
                                source + std::size_t(x) * sourcePixel + first * bytesPerSample, inPixel);
            }
            if (outPart.Empty() || y < outPart.top || y >= outPart.bottom)
                continue;
            BYTE* const row = m_output.data.get() + std::int64_t{y - o.rect.top} * o.rowBytes;
            for (LONG x = outPart.left; x < outPart.right; ++x) {
                const BYTE* pixel =
                    source + std::size_t(x - cell.left) * sourcePixel + first * bytesPerSample;
                const std::int64_t column = x - o.rect.left;
                if (!o.planar) {
                    std::memcpy(row + column * std::int64_t(sourcePixel) +
                                    std::int64_t(first * bytesPerSample),
                                pixel, inPixel);
                    continue;
                }
                for (std::size_t p = 0; p < samples; ++p)
                    std::memcpy(row + std::int64_t(first + p) * o.planeBytes +
                                    column * std::int64_t(bytesPerSample),
                                pixel + p * bytesPerSample, bytesPerSample);
            }
        }
        return nullptr;
    };
    if (PravonErrorPtr error(ForEachSourcePart(reader, part, copyPiece)); error)
        return FailWith("Cannot lock tile");
    return kNoError;
}

void IPlugin::ReportRead(std::int64_t pixels) {
    m_pixelsRead += pixels;
    const std::int64_t area = std::int64_t{m_record.imageWidth} * m_record.imageHeight;
    const std::int64_t percent = area > 0 ? std::min<std::int64_t>(m_pixelsRead * 100 / area, 100) : 0;
    ReportProgress(1, static_cast<LONG>(percent));
}
