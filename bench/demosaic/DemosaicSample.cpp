#include "DemosaicSample.h"

#include "bench/BenchTurns.h"
#include "platform/pravon/PravonGraph.h"

#if KV_HAVE_LIBRAW
#include <libraw/libraw.h>
#endif

#include <cstdio>
#include <cstring>

namespace demosaicbench {

Sample::Sample() : scene(kWidth, kHeight), rgb(scene.Render()) {
    mosaic = CKvSampleScene::Mosaic(rgb, kWidth, kHeight, kRggb + 4, 1.0, 1.0);
}

const Sample& TheSample() {
    static const Sample sample;
    return sample;
}

double ColourPsnr(const PravonRect& rect, const SampleAt& sample) {
    const auto& truth = TheSample().rgb;
    double squares = 0;
    std::size_t count = 0;
    for (LONG y = rect.top; y < rect.bottom; ++y)
        for (LONG x = rect.left; x < rect.right; ++x)
            for (int c = 0; c < 3; ++c) {
                const double t = truth[(static_cast<std::size_t>(y) * kWidth + x) * 3 + c] * 65535.0 / 4095.0;
                const double d = sample(x, y, c) - t;
                squares += d * d;
                ++count;
            }
    const double mse = squares / static_cast<double>(count);
    return mse == 0 ? INFINITY : 10.0 * std::log10(65535.0 * 65535.0 / mse);
}

Source::Source(LONG tileSize)
    : manager(tileSize), image(kvbench::MakeSource(manager, PravonColorSpace::kRawMosaic16,
                                                   TheSample().mosaic.data(), kWidth, kHeight)) {}

IPravonError* PullInto(IPravonDataSource& filter, LONG tileSize, std::vector<WORD>& out, bool declare) {
    LONG w = 0;
    LONG h = 0;
    if (IPravonError* e = filter.GetSize(&w, &h))
        return e;
    if (w != kOutWidth || h != kOutHeight)
        return IPravonError::Add(nullptr, "unexpected output size");
    const LONG columns = (w + tileSize - 1) / tileSize;
    const LONG rows = (h + tileSize - 1) / tileSize;
    for (LONG r = 0; r < rows; ++r)
        for (LONG c = 0; c < columns; ++c) {
            void* data = nullptr;
            if (IPravonError* e = filter.LockTile(c, r, &data, nullptr))
                return e;
            IPravonTile* tile = nullptr;
            PravonErrorPtr(filter.GetTile(c, r, &tile));
            if (declare && r == 0 && c == 0)
                PravonErrorPtr(tile->GetImage()->SetGeneratorWritesInvalidArea(true));
            const PravonRect rect = tile->GetRect();
            const LONG rowBytes = tile->GetRowBytes();
            for (LONG y = rect.top; y < rect.bottom; ++y)
                std::memcpy(out.data() + (static_cast<std::size_t>(y) * w + rect.left) * 3,
                            static_cast<BYTE*>(data) + static_cast<std::size_t>(y - rect.top) * rowBytes,
                            static_cast<std::size_t>(rect.right - rect.left) * 6);
            if (IPravonError* e = filter.UnlockTile(c, r))
                return e;
        }
    return nullptr;
}

IPravonError* ConnectMosaic(Source& source, CDeBayerBase& filter) {
    if (IPravonError* e = PravonConnect(source.image.get(), &filter))
        return e;
    return filter.SetCFAPattern(kRggb, sizeof kRggb, false);
}

void RecordOurs(benchmark::State& state, const IPravonError* error, const char* name, double seconds,
                const std::vector<WORD>& out, Recorder record) {
    if (error) {
        std::fprintf(stderr, "%s\n", error->Describe().c_str());
        state.SkipWithError("the demosaicing failed");
        return;
    }
    const WORD* square = GetSquareTable();
    record(name, seconds, [&](LONG x, LONG y, int c) {
        return square[out[(static_cast<std::size_t>(y - kFrame) * kOutWidth + (x - kFrame)) * 3 + c]];
    });
}

#if KV_HAVE_LIBRAW
void LibRawProcess(benchmark::State& state, int quality, const char* name, Recorder record) {
    const Sample& sample = TheSample();
    std::vector<BYTE> bytes(sample.mosaic.size() * 2);
    for (std::size_t i = 0; i < sample.mosaic.size(); ++i) {
        bytes[2 * i] = static_cast<BYTE>(sample.mosaic[i]);
        bytes[2 * i + 1] = static_cast<BYTE>(sample.mosaic[i] >> 8);
    }
    LibRaw processor;
    int result = 0;
    const double seconds = TimedLoop(state, [&] {
        processor.recycle();
        auto& p = processor.imgdata.params;
        p.user_qual = quality;
        p.output_bps = 16;
        p.gamm[0] = 1.0;
        p.gamm[1] = 1.0;
        p.no_auto_bright = 1;
        p.use_camera_wb = 0;
        p.use_auto_wb = 0;
        for (float& m : p.user_mul)
            m = 1.0f;
        p.output_color = 0; // the camera's own colours: no matrix
        p.user_black = 0;
        p.user_sat = 4095;
        result = processor.open_bayer(bytes.data(), static_cast<unsigned>(bytes.size()), kWidth, kHeight, 0,
                                      0, 0, 0, 0, LIBRAW_OPENBAYER_RGGB, 4, 0, 0);
        if (result == LIBRAW_SUCCESS)
            result = processor.unpack();
        if (result == LIBRAW_SUCCESS)
            result = processor.dcraw_process();
    });
    if (result != LIBRAW_SUCCESS || processor.imgdata.sizes.iwidth != kWidth ||
        processor.imgdata.sizes.iheight != kHeight) {
        state.SkipWithError("LibRaw failed");
        return;
    }
    const auto* image = processor.imgdata.image;
    record(name, seconds,
           [&](LONG x, LONG y, int c) { return image[static_cast<std::size_t>(y) * kWidth + x][c]; });
}
#endif

} // namespace demosaicbench
