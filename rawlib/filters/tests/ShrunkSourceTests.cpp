// The raw library's filters that write every pixel of a tile's invalid part keep that word after their
// source shrinks without announcing it.
#include "filters/tests/ShrunkSource.h"
#include "rawlib/filters/CDeBayerSingleFilter.h"
#include "rawlib/filters/CDeBayerSingleHQ4Filter.h"
#include "rawlib/filters/CFltAutoBrightness.h"
#include "rawlib/filters/CFltChannelMixer.h"
#include "rawlib/filters/CFltSatComp.h"
#include "rawlib/filters/CFltThreshold.h"
#include "rawlib/filters/CFltVisualCrop.h"
#include "rawlib/filters/detail/CFltVignette.h"
#include "rawlib/filters/tests/DeBayerTestSupport.h"

#include <vector>

namespace {

using namespace kvtest;
namespace Cs = PravonColorSpace;

template <class Filter>
CPravonFilterBase* WithPattern(IPravonManager* m) {
    auto* f = new Filter(m);
    const std::vector<BYTE>& descriptor = BayerLayouts()[1].descriptor;
    EXPECT_PV_OK(f->SetCFAPattern(descriptor.data(), static_cast<ULONG>(descriptor.size()), false));
    return f;
}

TEST(ShrunkSource, PixelsTheSourceNoLongerCoversAreWrittenAllTheSame) {
    const std::vector<ShrinkCase> cases = {
        {"channel mixer", Cs::kRGB16, [](IPravonManager* m) { return new CFltChannelMixer(m); }},
        {"saturation compensation", Cs::kLCh16,
         [](IPravonManager* m) {
             auto* f = new CFltSatComp(m);
             EXPECT_PV_OK(f->SetCompensation(8, false));
             return f;
         }},
        {"threshold", Cs::kRGB8,
         [](IPravonManager* m) {
             auto* f = new CFltThreshold(m);
             EXPECT_PV_OK(f->SetThreshold(100, false));
             return f;
         }},
        {"visual crop", Cs::kRGB16,
         [](IPravonManager* m) {
             auto* f = new CFltVisualCrop(m);
             EXPECT_PV_OK(f->SetCropRect(PravonRect{5, 4, 30, 33}, false));
             return f;
         }},
        {"auto brightness", Cs::kRGB16,
         [](IPravonManager* m) {
             auto* f = new CFltAutoBrightness(m);
             EXPECT_PV_OK(f->SetBrightness(100, false));
             return f;
         }},
        {"vignette", Cs::kRGB16,
         [](IPravonManager* m) {
             auto* f = new CFltVignette(m);
             EXPECT_PV_OK(f->SetFNumber(2.8, false));
             EXPECT_PV_OK(f->SetAmount(1.0, false));
             return f;
         }},
        {"demosaicing", Cs::kRawMosaic16, WithPattern<CDeBayerSingleFilter>},
        {"high-quality demosaicing", Cs::kRawMosaic16, WithPattern<CDeBayerSingleHQ4Filter>},
    };
    CheckSilentShrinks(cases);
}

} // namespace
