// A filter for tests: its output is its first source with a constant added to every byte, and it
// records what the base class asks of it (each ProcessTile call with the invalid part it was handed).
// It can be told to fail, and to run a step inside ProcessTile while its tile is locked.
#pragma once

#include "filters/engine/CPravonFilterBase.h"
#include "testing/TestPlane.h"

#include <functional>
#include <vector>

namespace kvtest {

class ProbeFilter : public CPravonFilterBase {
public:
    static constexpr LONG kCode = 0x70726F62; // "prob"

    struct Call {
        PravonRect invalid; // the tile's invalid part when ProcessTile was called
        PravonRect tileRect;
        const CProcessInfo* info = nullptr;
    };

    explicit ProbeFilter(IPravonManager* manager, BYTE addend = 1, LONG cacheUsage = 1);

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override { return "Probe Filter"; }
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;
    bool WritesWholeInvalidArea() const override { return writesWhole; }

    // What the output of a source plane is.
    TestPlane Expected(const TestPlane& source) const;

    using CPravonFilterBase::GetCacheImage;
    using CPravonFilterBase::GetChrono;
    using CPravonFilterBase::InvalidateCache;
    using CPravonFilterBase::IsCacheCheckSet;
    using CPravonFilterBase::SetCacheCheck;
    using CPravonFilterBase::SetPassThrough;

    // What the probe declares about its writes (it does write every invalid pixel).
    bool writesWhole = false;
    std::vector<Call> calls;
    // The next failures calls fail with failKind after writing part of the tile.
    int failures = 0;
    LONG failKind = PravonKind::kInvalidState;
    // Run inside ProcessTile, after the tile was locked and before it is written.
    std::function<void()> during;

private:
    BYTE m_addend;
};

} // namespace kvtest
