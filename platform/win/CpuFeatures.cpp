#include "CpuFeatures.h"

#include <atomic>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace {

std::atomic<DWORD> g_forcedOn{0};
std::atomic<DWORD> g_forcedOff{0};

#if defined(__x86_64__) || defined(__i386__)
// The register state the system saves on a context switch (XCR0); AVX needs the SSE and YMM bits.
unsigned long long ReadXcr0() {
    unsigned int low = 0;
    unsigned int high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (static_cast<unsigned long long>(high) << 32) | low;
}

DWORD Probe() {
    unsigned int eax = 0;
    unsigned int ebx = 0;
    unsigned int ecx = 0;
    unsigned int edx = 0;
    const auto maxLeaf = static_cast<unsigned int>(__get_cpuid_max(0, nullptr));
    if (maxLeaf < 1 || !__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return 0;
    DWORD f = 0;
    auto bit = [&f](unsigned int reg, int n, DWORD flag) {
        if (reg & (1u << n))
            f |= flag;
    };
    bit(edx, 23, CpuFeature::kMMX);
    bit(edx, 25, CpuFeature::kSSE);
    bit(edx, 26, CpuFeature::kSSE2);
    bit(edx, 15, CpuFeature::kCMOV);
    bit(ecx, 0, CpuFeature::kSSE3);
    bit(ecx, 9, CpuFeature::kSSSE3);
    bit(ecx, 19, CpuFeature::kSSE41);
    bit(ecx, 20, CpuFeature::kSSE42);
    const bool osSavesYmm = (ecx & (1u << 27)) && (ReadXcr0() & 0x6) == 0x6;
    if (osSavesYmm && (ecx & (1u << 28)))
        f |= CpuFeature::kAVX;
    if (osSavesYmm && (ecx & (1u << 12)))
        f |= CpuFeature::kFMA;
    if (osSavesYmm && maxLeaf >= 7) {
        unsigned int a7 = 0, b7 = 0, c7 = 0, d7 = 0;
        __cpuid_count(7, 0, a7, b7, c7, d7);
        if (b7 & (1u << 5))
            f |= CpuFeature::kAVX2;
        // AVX-512 needs the system to save the opmask registers and all 512 bits of all 32 vectors too.
        constexpr unsigned long long kZmmState = 0xE6;
        const bool osSavesZmm = (ReadXcr0() & kZmmState) == kZmmState;
        if (osSavesZmm && (b7 & (1u << 16)))
            f |= CpuFeature::kAVX512F;
        if (osSavesZmm && (b7 & (1u << 30)))
            f |= CpuFeature::kAVX512BW;
    }
    if (static_cast<unsigned int>(__get_cpuid_max(0x80000000u, nullptr)) >= 0x80000001u &&
        __get_cpuid(0x80000001u, &eax, &ebx, &ecx, &edx)) {
        f |= CpuFeature::kExtendedLeaf;
        bit(edx, 22, CpuFeature::kMMXExt);
        bit(edx, 30, CpuFeature::k3DNowExt);
        bit(edx, 31, CpuFeature::k3DNow);
    }
    return f;
}
#else
DWORD Probe() {
    return 0;
}
#endif

} // namespace

DWORD CpuDetectedFeatures() {
    static const DWORD detected = Probe();
    return detected;
}

DWORD CpuFeatures() {
    return (CpuDetectedFeatures() | g_forcedOn.load()) & ~g_forcedOff.load();
}

void CpuForceFeatures(DWORD on, DWORD off) {
    g_forcedOn = on;
    g_forcedOff = off;
}

void CpuRestoreFeatures() {
    CpuForceFeatures(0, 0);
}

CCpuFeatureOverride::CCpuFeatureOverride(DWORD on, DWORD off)
    : m_previousOn(g_forcedOn.load()), m_previousOff(g_forcedOff.load()) {
    CpuForceFeatures(on, off);
}

CCpuFeatureOverride::~CCpuFeatureOverride() {
    CpuForceFeatures(m_previousOn, m_previousOff);
}
