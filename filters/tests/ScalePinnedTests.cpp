// Pinned outputs of the scale filter: every method, reducing, enlarging and both at once, at 8 and 16
// bits and one, three and four channels. The references of the other scale tests allow for rounding; these
// hashes do not, so that an accidental change of arithmetic (a weight, a rounding, a reciprocal, a row
// fetched too early) fails here even where it stays within a tolerance.
#include "filters/CPravonFilterScale.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "platform/win/CpuFeatures.h"
#include "testing/PlaneHash.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using namespace kvtest;
using Scale = CPravonFilterScale;

struct Geometry {
    const char* name;
    double sx; // factors above 0: scale mode; else the fixed size below
    double sy;
    LONG width;
    LONG height;
};

// 61 x 43 sources: reduced to 37 % x 41 %, enlarged to 170 % x 230 %, and widened while shortened.
constexpr Geometry kGeometries[] = {
    {"reduce", 0.37, 0.41, 0, 0},
    {"enlarge", 1.7, 2.3, 0, 0},
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

// Taken from the scale filter as it stood when its arithmetic was last checked against the references.
const std::map<std::string, std::uint64_t>& Pinned() {
    static const std::map<std::string, std::uint64_t> pinned = {
        {"rgb8/nearest/reduce", 0xb3a40acddaf3db16ull},    {"rgb8/nearest/enlarge", 0x790e0bb495251bc7ull},
        {"rgb8/nearest/mixed", 0xeba6d7ff62f3abfaull},     {"rgb8/linear/reduce", 0x0f8508a614313e97ull},
        {"rgb8/linear/enlarge", 0x4ac2d333e8c27c5dull},    {"rgb8/linear/mixed", 0x56401a85ca5b0ac7ull},
        {"rgb8/cubic/reduce", 0x0f8508a614313e97ull},      {"rgb8/cubic/enlarge", 0x22b4b66a685524d3ull},
        {"rgb8/cubic/mixed", 0xc963b5cd16e5d6d4ull},       {"rgb16/nearest/reduce", 0x8a8d5a60d37a2440ull},
        {"rgb16/nearest/enlarge", 0x370ceba2c044ccf4ull},  {"rgb16/nearest/mixed", 0x58e36c889d3d80fbull},
        {"rgb16/linear/reduce", 0x3c969595820c240cull},    {"rgb16/linear/enlarge", 0x0e2ae2d58137edddull},
        {"rgb16/linear/mixed", 0x194bbf7394b7b4b5ull},     {"rgb16/cubic/reduce", 0x3c969595820c240cull},
        {"rgb16/cubic/enlarge", 0x860e77af64481671ull},    {"rgb16/cubic/mixed", 0x292491fac3ece35cull},
        {"cmyk8/nearest/reduce", 0xd3d6aeca35f49d06ull},   {"cmyk8/nearest/enlarge", 0x341d429f25a9e582ull},
        {"cmyk8/nearest/mixed", 0xb54578a34cc99311ull},    {"cmyk8/linear/reduce", 0x63201715637dfe62ull},
        {"cmyk8/linear/enlarge", 0x6fb27ed5b54e9709ull},   {"cmyk8/linear/mixed", 0x172dd32f379950e5ull},
        {"cmyk8/cubic/reduce", 0x63201715637dfe62ull},     {"cmyk8/cubic/enlarge", 0x315200c6a0392dd3ull},
        {"cmyk8/cubic/mixed", 0xa88afaccbb38663bull},      {"grey16/nearest/reduce", 0x31e2599d5486fd0full},
        {"grey16/nearest/enlarge", 0x1d03fcde4b455bebull}, {"grey16/nearest/mixed", 0x9d7c8d9eb157ffbeull},
        {"grey16/linear/reduce", 0x059d719cbe567964ull},   {"grey16/linear/enlarge", 0x1a0ebbcf910c58d7ull},
        {"grey16/linear/mixed", 0xd61508a4e0b557dbull},    {"grey16/cubic/reduce", 0x059d719cbe567964ull},
        {"grey16/cubic/enlarge", 0x26ed4c22520e4943ull},   {"grey16/cubic/mixed", 0x6e542f02a847146full},
    };
    return pinned;
}

// The plain and the SIMD row routines give the same bytes, so both runs meet the same pins.
void CheckPins(std::string* listing) {
    for (const Space& space : kSpaces) {
        // Random samples over the whole range reach every tap, every clamp of the cubic and every carry.
        const TestPlane noise = MakePlane(61, 43, space.code, FillPattern::Random, 11);
        for (LONG method : {Scale::kNearest, Scale::kLinear, Scale::kCubic}) {
            for (const Geometry& g : kGeometries) {
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
                const std::string name = std::string(space.name) + "/" + MethodName(method) + "/" + g.name;
                const std::uint64_t hash = HashPlane(out);
                *listing += "        {\"" + name + "\", " + HashText(hash) + "ull},\n";
                const auto it = Pinned().find(name);
                if (it == Pinned().end())
                    ADD_FAILURE() << name << " has no pinned hash";
                else
                    EXPECT_EQ(HashText(hash), HashText(it->second)) << name;
            }
        }
    }
}

TEST(ScalePinned, EveryMethodGivesItsPinnedOutput) {
    std::string listing;
    CheckPins(&listing);
    if (HasFailure())
        std::printf("The outputs of this build:\n%s", listing.c_str());
}

TEST(ScalePinned, ThePlainRowRoutinesGiveThePinnedOutputToo) {
    const CCpuFeatureOverride plain(0, CpuFeature::kAVX2);
    std::string listing;
    CheckPins(&listing);
}

} // namespace
