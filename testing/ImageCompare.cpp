#include "ImageCompare.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace kvtest {

std::string PlaneDifference::Describe() const {
    if (!sameGeometry)
        return "planes differ in size or colour space";
    char buf[200];
    std::snprintf(buf, sizeof buf, "max error %u at (%d, %d) channel %d; %zu samples differ; PSNR %.2f dB", maxError,
                  x, y, channel, differing, psnr);
    return buf;
}

PlaneDifference ComparePlanes(const TestPlane& expected, const TestPlane& actual) {
    PlaneDifference d;
    d.sameGeometry = expected.width == actual.width && expected.height == actual.height &&
                     expected.colorSpace == actual.colorSpace;
    if (!d.sameGeometry)
        return d;
    const LONG bits = expected.BitsPerSample();
    const LONG channels = bits < 8 ? 1 : expected.Channels();
    const double peak = bits >= 32 ? 4294967295.0 : static_cast<double>((1ull << bits) - 1);
    double squares = 0;
    for (LONG y = 0; y < expected.height; ++y) {
        for (LONG x = 0; x < expected.width; ++x) {
            for (LONG c = 0; c < channels; ++c) {
                const ULONG a = expected.Sample(x, y, c);
                const ULONG b = actual.Sample(x, y, c);
                const ULONG err = a > b ? a - b : b - a;
                if (err == 0)
                    continue;
                ++d.differing;
                squares += static_cast<double>(err) * err;
                if (err > d.maxError) {
                    d.maxError = err;
                    d.x = x;
                    d.y = y;
                    d.channel = c;
                }
            }
        }
    }
    const double count = static_cast<double>(expected.width) * expected.height * channels;
    if (d.differing == 0 || count == 0)
        d.psnr = std::numeric_limits<double>::infinity();
    else
        d.psnr = 10.0 * std::log10(peak * peak / (squares / count));
    return d;
}

::testing::AssertionResult PlanesMatch(const TestPlane& expected, const TestPlane& actual, ULONG tolerance) {
    const PlaneDifference d = ComparePlanes(expected, actual);
    if (d.sameGeometry && d.maxError <= tolerance)
        return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure() << d.Describe();
    if (!d.sameGeometry)
        failure << " (expected " << expected.width << " x " << expected.height << " code 0x" << std::hex
                << expected.colorSpace << ", got " << std::dec << actual.width << " x " << actual.height
                << " code 0x" << std::hex << actual.colorSpace << ")";
    return failure;
}

} // namespace kvtest
