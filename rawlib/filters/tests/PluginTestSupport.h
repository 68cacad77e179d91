// Helpers of the plug-in host tests: a plug-in loaded from the test plug-ins, a run over rectangles of a
// source driven step by step as the plug-in filter drives it, and the host's output as a plane.
#pragma once

#include "platform/plugins/testplugins/KvTestPluginProbe.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "rawlib/filters/CPluginWin.h"
#include "testing/TestPlane.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace kvtest {

inline std::unique_ptr<CPluginWin> LoadTestPlugin(const std::string& library, SHORT* result = nullptr) {
    auto plugin = std::make_unique<CPluginWin>();
    const SHORT r = plugin->SetPluginFile(KvTestPlugins::PathOf(library).c_str());
    if (result)
        *result = r;
    return plugin;
}

// The host's output buffer of the run in progress as a plane of its rectangle, read by the layout the
// buffer describes.
inline TestPlane OutputPlane(const IPlugin& plugin, LONG colorSpace) {
    const IPlugin::Output out = plugin.GetOutput();
    TestPlane plane(out.rect.Width(), out.rect.Height(), colorSpace);
    for (LONG y = 0; y < plane.height; ++y)
        for (LONG x = 0; x < plane.width; ++x)
            for (LONG p = 0; p < out.planes; ++p) {
                const std::int64_t at = out.planar
                                            ? p * out.planeBytes + std::int64_t{y} * out.rowBytes +
                                                  std::int64_t{x} * out.bytesPerSample
                                            : std::int64_t{y} * out.rowBytes +
                                                  (std::int64_t{x} * out.planes + p) * out.bytesPerSample;
                ULONG value = out.data[at];
                if (out.bytesPerSample == 2) {
                    WORD word;
                    std::memcpy(&word, out.data + at, 2);
                    value = word;
                }
                plane.SetSample(x, y, p, value);
            }
    return plane;
}

// One pass over the rectangles of the source, each run as the plug-in filter runs a source tile: set
// up, prepare, run, process, take the output, finish. Stops at the first result that is not 0 (a
// prepare answering kPrepareDone goes on), abandoning that run; the outputs land in `output` (of the
// source's size).
struct PluginPass {
    SHORT result = 0;
    TestPlane output;
};

inline PluginPass RunPass(IPlugin& plugin, IPravonImage* source, IPravonManager* manager,
                          const std::vector<PravonRect>& rects, IPlugin::ProgressCallback callback = nullptr,
                          void* user = nullptr) {
    PluginPass pass;
    LONG width = 0, height = 0, colorSpace = 0;
    PravonErrorPtr(source->GetSize(&width, &height));
    PravonErrorPtr(source->GetColorSpace(&colorSpace));
    pass.output = TestPlane(width, height, colorSpace);
    if (!plugin.PrepareForSource(source, 1.0, 300.0)) {
        pass.result = KvPlugin::kErrParameter;
        return pass;
    }
    for (const PravonRect& rect : rects) {
        SHORT r = plugin.SetupRun(source, manager, rect);
        if (r == 0 && (r = plugin.Prepare()) == KvPlugin::kPrepareDone)
            r = 0;
        if (r == 0)
            r = plugin.Run(callback, user);
        if (r == 0)
            r = plugin.Process();
        if (r == 0) {
            const TestPlane part = OutputPlane(plugin, colorSpace);
            const CPravonRect at = plugin.GetOutput().rect;
            for (LONG y = 0; y < part.height; ++y)
                for (LONG x = 0; x < part.width; ++x)
                    for (LONG p = 0; p < part.Channels(); ++p)
                        pass.output.SetSample(at.left + x, at.top + y, p, part.Sample(x, y, p));
        }
        if (r == 0)
            r = plugin.Finish();
        else
            plugin.Abandon();
        if (r != 0) {
            pass.result = r;
            return pass;
        }
    }
    return pass;
}

// A mean over the window within the image, rounded half up: the blur plug-in's rule, written here.
inline TestPlane BoxBlur(const TestPlane& in, LONG radius) {
    TestPlane out = in;
    for (LONG y = 0; y < in.height; ++y)
        for (LONG x = 0; x < in.width; ++x)
            for (LONG p = 0; p < in.Channels(); ++p) {
                ULONG sum = 0, count = 0;
                for (LONG v = std::max(0, y - radius); v <= std::min(in.height - 1, y + radius); ++v)
                    for (LONG u = std::max(0, x - radius); u <= std::min(in.width - 1, x + radius);
                         ++u, ++count)
                        sum += in.Sample(u, v, p);
                out.SetSample(x, y, p, (sum + count / 2) / count);
            }
    return out;
}

inline std::vector<PravonRect> Bands(LONG width, LONG height, LONG rows) {
    std::vector<PravonRect> bands;
    for (LONG top = 0; top < height; top += rows)
        bands.push_back({0, top, width, std::min(top + rows, height)});
    return bands;
}

} // namespace kvtest
