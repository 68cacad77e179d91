// The scale filter against the reference resampling sample for sample: every method, reducing, enlarging
// and both at once, at 8 and 16 bits and one, three and four channels, with the processor's row routines
// and with the plain ones. No tolerance: an accidental change of arithmetic (a weight, a rounding, a
// reciprocal, a row fetched too early) that moves one sample by one fails here.
#include "ScaleReference.h"
#include "filters/CPravonFilterScale.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "platform/win/CpuFeatures.h"
#include "testing/ImageCompare.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace kvtest;
using Scale = CPravonFilterScale;

struct Geometry {
    const char* name;
    double sx; // factors above 0: scale mode; else the fixed size below
    double sy;
    LONG width;  // the output size: in scale mode trunc(61 sx + 0.5) x trunc(43 sy + 0.5)
    LONG height;
};

// 61 x 43 sources: reduced to 37 % x 41 %, enlarged to 170 % x 230 %, and widened while shortened.
constexpr Geometry kGeometries[] = {
    {"reduce", 0.37, 0.41, 23, 18},
    {"enlarge", 1.7, 2.3, 104, 99},
    {"mixed", 0, 0, 90, 25},
};

struct Space {
    const char* name;
    LONG code;
};

constexpr Space kSpaces[] = {
    {"rgb8", PravonColorSpace::kRGB8},
    {"rgb16", PravonColorSpace::kRGB16},
    {"cmyk8", PravonColorSpace::kCMYK8},
    {"grey16", PravonColorSpace::kGrey16},
};

const char* MethodName(LONG method) {
    return method == Scale::kNearest ? "nearest" : method == Scale::kLinear ? "linear" : "cubic";
}

void CheckAgainstTheReference() {
    for (const Space& space : kSpaces) {
        // Random samples over the whole range reach every tap, every clamp of the cubic and every carry.
        const TestPlane noise = MakePlane(61, 43, space.code, FillPattern::Random, 11);
        for (LONG method : {Scale::kNearest, Scale::kLinear, Scale::kCubic}) {
            for (const Geometry& g : kGeometries) {
                const std::string name = std::string(space.name) + "/" + MethodName(method) + "/" + g.name;
                CPravonMemoryManager manager(16);
                PravonImagePtr source = MakeImage(manager, noise);
                Scale filter(&manager, method);
                ASSERT_PV_OK(PravonConnect(source.get(), &filter));
                if (g.sx > 0)
                    ASSERT_PV_OK(filter.SetScale(g.sx, g.sy, false));
                else
                    ASSERT_PV_OK(filter.SetSize(g.width, g.height, false));
                TestPlane out;
                ASSERT_PV_OK(PullAll(&filter, &out, PullOrder::RandomOrder, 3));
                ASSERT_PV_OK(PravonDisconnect(source.get(), &filter));
                ASSERT_EQ(out.width, g.width) << name;
                ASSERT_EQ(out.height, g.height) << name;
                EXPECT_TRUE(PlanesMatch(ReferenceScale(noise, g.width, g.height, method), out)) << name;
            }
        }
    }
}

TEST(ScaleExact, EveryMethodGivesTheReferenceSampleForSample) {
    CheckAgainstTheReference();
}

TEST(ScaleExact, ThePlainRowRoutinesGiveTheReferenceToo) {
    const CCpuFeatureOverride plain(0, CpuFeature::kAVX2);
    CheckAgainstTheReference();
}

} // namespace
