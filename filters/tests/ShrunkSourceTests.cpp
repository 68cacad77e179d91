// The standard filters that write every pixel of a tile's invalid part keep that word after their source
// shrinks without announcing it.
#include "ShrunkSource.h"
#include "filters/CBGRizeFilter.h"
#include "filters/CCropFilter.h"
#include "filters/CFltScale.h"
#include "filters/CPravonFilterColorSpace.h"
#include "filters/CPravonFilterGrid.h"
#include "filters/CPravonFilterLut.h"
#include "filters/CPravonFilterScale.h"
#include "filters/CPravonFilterTransform.h"
#include "filters/CUnsharpMaskFilter.h"

#include <array>
#include <vector>

namespace {

using namespace kvtest;
namespace Cs = PravonColorSpace;

TEST(ShrunkSource, PixelsTheSourceNoLongerCoversAreWrittenAllTheSame) {
    static std::array<std::vector<WORD>, 3> tables;
    for (int c = 0; c < 3; ++c) {
        tables[c].resize(256);
        for (int i = 0; i < 256; ++i)
            tables[c][i] = static_cast<WORD>(255 - i / (c + 1));
    }
    const std::vector<ShrinkCase> cases = {
        {"BGR order", Cs::kRGB8, [](IPravonManager* m) { return new CBGRizeFilter(m); }},
        {"colour space", Cs::kRGB8,
         [](IPravonManager* m) {
             auto* f = new CPravonFilterColorSpace(m);
             EXPECT_PV_OK(f->SetOutputColorSpace(CPravonFilterColorSpace::kOneChannel,
                                                 CPravonFilterColorSpace::k16Bit, false));
             return f;
         }},
        {"lookup tables", Cs::kRGB8,
         [](IPravonManager* m) {
             auto* f = new CPravonFilterLut(m);
             const WORD* t[3] = {tables[0].data(), tables[1].data(), tables[2].data()};
             EXPECT_PV_OK(f->SetLUT(t, 8, 8, 3, false));
             return f;
         }},
        {"grid", Cs::kRGB8, [](IPravonManager* m) { return new CPravonFilterGrid(m); }},
        {"scale", Cs::kRGB8,
         [](IPravonManager* m) {
             auto* f = new CPravonFilterScale(m, CPravonFilterScale::kLinear);
             EXPECT_PV_OK(f->SetScale(1.3, 0.8, false));
             return f;
         }},
        {"older scale", Cs::kRGB16,
         [](IPravonManager* m) {
             auto* f = new CFltScale(m, CPravonFilterScale::kCubic);
             EXPECT_PV_OK(f->SetScale(1.3, 0.8, false));
             return f;
         }},
        {"crop", Cs::kRGB8,
         [](IPravonManager* m) {
             auto* f = new CCropFilter(m);
             EXPECT_PV_OK(f->SetCrop(PravonRect{4, 3, 41, 35}, false));
             return f;
         }},
        {"quarter turn", Cs::kRGB16,
         [](IPravonManager* m) {
             auto* f = new CPravonFilterTransform(m);
             EXPECT_PV_OK(f->SetTransform(false, 90, false, false));
             return f;
         }},
        {"unsharp mask", Cs::kRGB16,
         [](IPravonManager* m) {
             auto* f = new CUnsharpMaskFilter(m);
             EXPECT_PV_OK(f->SetRadius(2, false));
             return f;
         }},
    };
    CheckSilentShrinks(cases);
}

} // namespace
