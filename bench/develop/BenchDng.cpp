#include "BenchDng.h"

#include "bench/demosaic/DemosaicSample.h"
#include "testing/DngWriter.h"
#include "testing/TempFolder.h"

#include <fstream>

namespace developbench {

namespace {
constexpr int kSensorWhite = 16383;
// The sample's 12-bit levels spread over the sensor's 14 bits.
constexpr int kTwelveToFourteen = 4;
} // namespace

const std::string& DngPath() {
    static kvtest::TempFolder folder;
    static const std::string path = [] {
        using namespace demosaicbench;
        kvtest::DngContent content;
        content.width = kWidth;
        content.height = kHeight;
        content.white = kSensorWhite;
        content.calibrations.push_back({21, {0.70, 0.25, -0.10, -0.30, 1.20, 0.05, 0.02, -0.15, 0.95}});
        content.samples.reserve(std::size_t(kWidth) * kHeight);
        for (WORD v : TheSample().mosaic)
            content.samples.push_back(static_cast<std::uint16_t>(v * kTwelveToFourteen));
        const std::string p = folder.File("camera.dng");
        const kvtest::DngFile file = kvtest::WriteDng(content);
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.bytes.data()),
                   static_cast<std::streamsize>(file.bytes.size()));
        return p;
    }();
    return path;
}

} // namespace developbench
