// Every row-kernel family's choice of road: forcing AVX2 off through the processor-feature override gives
// its plain kernels, forcing it on gives its AVX2 kernels, and with no forcing the processor decides.
#include "filters/CScaleRows.h"
#include "filters/CTransformRows.h"
#include "filters/CUnsharpMaskRows.h"
#include "platform/win/CpuFeatures.h"
#include "rawlib/filters/CDeBayerRows.h"
#include "rawlib/filters/detail/CColorNoiseRows.h"
#include "rawlib/filters/detail/CFineEdgeRows.h"
#include "rawlib/filters/detail/CMoireRows.h"
#include "rawlib/filters/detail/CVignetteRows.h"

#include <gtest/gtest.h>

namespace {

// A family's three entry points, as addresses of its kernel sets.
struct Family {
    const char* name;
    const void* (*plain)();
    const void* (*simd)();
    const void* (*choose)();
};

template <class Kernels, const Kernels& (*Plain)(), const Kernels& (*Simd)(), const Kernels& (*Choose)()>
constexpr Family Of(const char* name) {
    return {name, [] { return static_cast<const void*>(&Plain()); },
            [] { return static_cast<const void*>(&Simd()); },
            [] { return static_cast<const void*>(&Choose()); }};
}

#define KV_FAMILY(ns) Of<ns::Kernels, ns::Plain, ns::Simd, ns::Choose>(#ns)
const Family kFamilies[] = {
    KV_FAMILY(TransformRows), KV_FAMILY(ScaleRows),      KV_FAMILY(UnsharpMaskRows), KV_FAMILY(DeBayerRows),
    KV_FAMILY(VignetteRows),  KV_FAMILY(ColorNoiseRows), KV_FAMILY(FineEdgeRows),    KV_FAMILY(MoireRows),
};
#undef KV_FAMILY

TEST(KernelChoice, ForcingAvx2OffGivesThePlainKernelsAndOnTheAvx2Ones) {
    const bool detected = (CpuDetectedFeatures() & CpuFeature::kAVX2) != 0;
    const struct {
        const char* name;
        DWORD on;
        DWORD off;
        bool avx2;
    } forcings[] = {
        // AVX-512 off throughout: a family with an AVX-512 set takes it over the AVX2 one (below).
        {"as detected", 0, CpuFeature::kAVX512F, detected},
        {"AVX2 forced off", 0, CpuFeature::kAVX2 | CpuFeature::kAVX512F, false},
        {"AVX2 and AVX forced off", 0, CpuFeature::kAVX2 | CpuFeature::kAVX | CpuFeature::kAVX512F, false},
        {"AVX2 forced on", CpuFeature::kAVX2, CpuFeature::kAVX512F, true},
    };
    for (const Family& family : kFamilies) {
        ASSERT_NE(family.plain(), family.simd()) << family.name << ": the two roads are distinct sets";
        for (const auto& forcing : forcings) {
            const CCpuFeatureOverride forced(forcing.on, forcing.off);
            EXPECT_EQ(family.choose(), forcing.avx2 ? family.simd() : family.plain())
                << family.name << ", " << forcing.name;
        }
    }
}

TEST(KernelChoice, TheMoireWalksTakeAvx512OnlyWithAvx2AndAvx512) {
    const DWORD wide = CpuFeature::kAVX2 | CpuFeature::kAVX512F;
    const bool detected = (CpuDetectedFeatures() & wide) == wide;
    const struct {
        const char* name;
        DWORD off;
        const MoireRows::Kernels* expected;
    } forcings[] = {
        {"as detected", 0, detected ? &MoireRows::Wide() : nullptr},
        {"AVX-512 forced off", CpuFeature::kAVX512F, nullptr},
        {"AVX2 forced off", CpuFeature::kAVX2, &MoireRows::Plain()},
    };
    ASSERT_NE(&MoireRows::Wide(), &MoireRows::Simd());
    for (const auto& forcing : forcings) {
        const CCpuFeatureOverride forced(0, forcing.off);
        if (forcing.expected)
            EXPECT_EQ(&MoireRows::Choose(), forcing.expected) << forcing.name;
        else
            EXPECT_NE(&MoireRows::Choose(), &MoireRows::Wide()) << forcing.name;
    }
}

} // namespace
