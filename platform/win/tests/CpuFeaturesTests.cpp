#include "platform/win/CpuFeatures.h"

#include <gtest/gtest.h>

namespace {

#if defined(__x86_64__)
TEST(CpuFeatures, EveryX86_64ProcessorReportsTheBaseline) {
    const DWORD baseline = CpuFeature::kMMX | CpuFeature::kSSE | CpuFeature::kSSE2 | CpuFeature::kCMOV |
                           CpuFeature::kExtendedLeaf;
    EXPECT_EQ(CpuDetectedFeatures() & baseline, baseline);
}
#endif

// Every processor with AVX-512 has AVX2 and AVX, and a system that saves the 512-bit state saves the 256-bit.
TEST(CpuFeatures, Avx512ComesWithAvx2) {
    if (!(CpuDetectedFeatures() & CpuFeature::kAVX512F))
        GTEST_SKIP() << "no AVX-512 here";
    const DWORD below = CpuFeature::kAVX | CpuFeature::kAVX2;
    EXPECT_EQ(CpuDetectedFeatures() & below, below);
}

TEST(CpuFeatures, ForcedFeaturesApplyUntilRestored) {
    const DWORD detected = CpuDetectedFeatures();
    CpuForceFeatures(CpuFeature::k3DNow, CpuFeature::kSSE2 | CpuFeature::k3DNow);
    EXPECT_FALSE(CpuHas(CpuFeature::kSSE2));
    EXPECT_FALSE(CpuHas(CpuFeature::k3DNow)) << "forcing off wins over forcing on";
    CpuForceFeatures(CpuFeature::k3DNowExt, 0);
    EXPECT_TRUE(CpuHas(CpuFeature::k3DNowExt));
    EXPECT_EQ(CpuDetectedFeatures(), detected) << "forcing never changes what was detected";
    CpuRestoreFeatures();
    EXPECT_EQ(CpuFeatures(), detected);
}

TEST(CpuFeatures, AnOverridePutsThePreviousForcingBack) {
    CpuForceFeatures(0, CpuFeature::kAVX2);
    {
        CCpuFeatureOverride plain(0, ~DWORD{0});
        EXPECT_EQ(CpuFeatures(), 0u);
        EXPECT_TRUE(CpuHas(0)) << "an empty mask is always there";
    }
    EXPECT_EQ(CpuFeatures(), CpuDetectedFeatures() & ~CpuFeature::kAVX2);
    CpuRestoreFeatures();
}

} // namespace
