// The processor's identification: which instruction-set extensions the SIMD paths may use. The processor
// is asked once per process; tests can force features off (or on) to run the plain and the SIMD paths.
#pragma once

#include "wintypes.h"

namespace CpuFeature {
constexpr DWORD kMMX = 1u << 0;           // leaf 1, EDX bit 23
constexpr DWORD kSSE = 1u << 1;           // leaf 1, EDX bit 25
constexpr DWORD kSSE2 = 1u << 2;          // leaf 1, EDX bit 26
constexpr DWORD kSSE3 = 1u << 3;          // leaf 1, ECX bit 0
constexpr DWORD kSSSE3 = 1u << 4;         // leaf 1, ECX bit 9
constexpr DWORD kSSE41 = 1u << 5;         // leaf 1, ECX bit 19
constexpr DWORD kSSE42 = 1u << 6;         // leaf 1, ECX bit 20
constexpr DWORD kAVX = 1u << 7;           // leaf 1, ECX bit 28, with the YMM state enabled by the system
constexpr DWORD kAVX2 = 1u << 8;          // leaf 7, EBX bit 5, with the YMM state enabled by the system
constexpr DWORD kCMOV = 1u << 9;          // leaf 1, EDX bit 15
constexpr DWORD kMMXExt = 1u << 10;       // leaf 0x80000001, EDX bit 22
constexpr DWORD k3DNowExt = 1u << 11;     // leaf 0x80000001, EDX bit 30
constexpr DWORD k3DNow = 1u << 12;        // leaf 0x80000001, EDX bit 31
constexpr DWORD kExtendedLeaf = 1u << 13; // the processor answers leaf 0x80000001
constexpr DWORD kAVX512F = 1u << 14;      // leaf 7, EBX bit 16, with the opmask and ZMM state enabled
constexpr DWORD kAVX512BW = 1u << 15;     // leaf 7, EBX bit 30, with the same state
constexpr DWORD kFMA = 1u << 16;          // leaf 1, ECX bit 12, with the YMM state enabled by the system
} // namespace CpuFeature

// What the processor reports, asked on the first call only.
DWORD CpuDetectedFeatures();
// The features code paths go by: the detected ones with the forced changes applied.
DWORD CpuFeatures();
// Whether every feature in mask is available.
inline bool CpuHas(DWORD mask) {
    return (CpuFeatures() & mask) == mask;
}

// A row-kernel family's set for this processor: the AVX2 set where the features code paths go by hold AVX2,
// the plain set otherwise, so that a test or bench forcing AVX2 off runs the plain kernels.
template <class Kernels>
const Kernels& CpuChoose(const Kernels& plain, const Kernels& avx2) {
    return CpuHas(CpuFeature::kAVX2) ? avx2 : plain;
}

// For tests: from now on, report the features in on as present and those in off as absent (off wins).
// Forcing on a feature the processor lacks is the caller's risk.
void CpuForceFeatures(DWORD on, DWORD off);
// Back to what the processor reports.
void CpuRestoreFeatures();

// Forces features for one scope and puts the previous forcing back when it ends.
class CCpuFeatureOverride {
public:
    CCpuFeatureOverride(DWORD on, DWORD off);
    ~CCpuFeatureOverride();
    CCpuFeatureOverride(const CCpuFeatureOverride&) = delete;
    CCpuFeatureOverride& operator=(const CCpuFeatureOverride&) = delete;

private:
    DWORD m_previousOn;
    DWORD m_previousOff;
};
