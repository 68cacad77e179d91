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

// The byte and word instructions are an extension of the foundation: never reported without it.
TEST(CpuFeatures, Avx512WordsComeWithTheFoundation) {
    if (!(CpuDetectedFeatures() & CpuFeature::kAVX512BW))
        GTEST_SKIP() << "no AVX-512 byte and word instructions here";
    EXPECT_TRUE(CpuDetectedFeatures() & CpuFeature::kAVX512F);
}

// Fused multiply-add is reported exactly where the compiler's own probe of the processor finds it and the
// system saves the 256-bit state it works on.
TEST(CpuFeatures, FusedMultiplyAddAsTheCompilersProbeFindsIt) {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    const bool probed = __builtin_cpu_supports("fma") && (CpuDetectedFeatures() & CpuFeature::kAVX);
    EXPECT_EQ((CpuDetectedFeatures() & CpuFeature::kFMA) != 0, probed);
#else
    EXPECT_FALSE(CpuDetectedFeatures() & CpuFeature::kFMA);
#endif
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

// The kernel chooser follows the features code paths go by, forcing included: off wins, and forcing AVX2 on
// chooses the AVX2 set without running it.
TEST(CpuFeatures, TheKernelChooserFollowsTheForcedFeatures) {
    const int plain = 1;
    const int avx2 = 2;
    const bool detected = (CpuDetectedFeatures() & CpuFeature::kAVX2) != 0;
    const struct {
        const char* name;
        DWORD on;
        DWORD off;
        const int* chosen;
    } cases[] = {
        {"as detected", 0, 0, detected ? &avx2 : &plain},
        {"AVX2 forced off", 0, CpuFeature::kAVX2, &plain},
        {"AVX2 forced on", CpuFeature::kAVX2, 0, &avx2},
        {"AVX2 forced on and off", CpuFeature::kAVX2, CpuFeature::kAVX2, &plain},
        {"only AVX forced off", 0, CpuFeature::kAVX, detected ? &avx2 : &plain},
    };
    for (const auto& c : cases) {
        CCpuFeatureOverride forced(c.on, c.off);
        EXPECT_EQ(&CpuChoose(plain, avx2), c.chosen) << c.name;
    }
}

} // namespace
