// What a change makes the development's stages compute again, for the tests that count it. A working
// lookup-table stage whose next working stage is another lookup-table stage or the colour conversion is
// read through by that stage (CPravonFilterLut::SetReadThrough) and makes no tiles of its own; with read-
// through off every working stage makes its own.
#pragma once

#include "rawlib/pipeline/CKvTolmoFilterChain.h"

#include "filters/CPravonFilterCML.h"
#include "filters/CPravonFilterLut.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace kvtest {

class StageRegeneration {
public:
    // Taken before the change: every count goes back to 0 and the stages read through now are noted.
    explicit StageRegeneration(const CKvTolmoFilterChain& chain)
        : m_chain(chain), m_readBefore(ReadThrough()) {
        for (const CPravonFilterBase* stage : Stages())
            const_cast<CPravonFilterBase*>(stage)->ResetGeneratedTileCount();
    }

    // The working stages in processing order, the sharpening list's and the plug-ins' among them.
    std::vector<const CPravonFilterBase*> Stages() const {
        std::vector<const CPravonFilterBase*> stages;
        IPravonFilterChain* output = m_chain.GetOutput();
        for (LONG i = 0; i < output->GetCount(); ++i)
            if (const auto* stage = dynamic_cast<const CPravonFilterBase*>(output->GetAt(i)))
                stages.push_back(stage);
        return stages;
    }

    // The working stages that the next working stage reads through.
    std::set<const CPravonFilterBase*> ReadThrough() const {
        std::set<const CPravonFilterBase*> read;
        const CPravonFilterBase* last = nullptr;
        for (const CPravonFilterBase* stage : Stages()) {
            if (!stage->IsEnabled() || stage->IsPassThrough())
                continue;
            const auto* lut = dynamic_cast<const CPravonFilterLut*>(last);
            const bool mapsPixels =
                dynamic_cast<const CPravonFilterLut*>(stage) || dynamic_cast<const CPravonFilterCML*>(stage);
            if (lut && lut->GetReadThrough() && mapsPixels)
                read.insert(last);
            last = stage;
        }
        return read;
    }

    // After the development that follows the change: every working stage before `first` answered from its
    // cache (one that was read through before the change has none and may make its tiles now), `first` and
    // every working stage after it computed its tiles again, and a stage read through made none: the stage
    // after it made its pixels.
    void ExpectFrom(int first) const {
        const CPravonFilterBase* touched = m_chain.GetStage(first);
        ASSERT_NE(touched, nullptr);
        ASSERT_TRUE(touched->IsEnabled());
        const std::set<const CPravonFilterBase*> readNow = ReadThrough();
        bool reached = false;
        for (const CPravonFilterBase* stage : Stages()) {
            reached = reached || stage == touched;
            if (!stage->IsEnabled() || stage->IsPassThrough())
                continue;
            const std::uint64_t tiles = stage->GetGeneratedTileCount();
            const int number = Number(stage);
            if (readNow.count(stage)) {
                EXPECT_EQ(tiles, 0u) << "stage " << number << " is read through by the stage after it";
            } else if (reached) {
                EXPECT_GT(tiles, 0u) << "stage " << number;
            } else if (!m_readBefore.count(stage)) {
                EXPECT_EQ(tiles, 0u) << "stage " << number;
            }
        }
    }

    // The stage's number in the chain's table, -1 for a list or plug-in stage.
    int Number(const CPravonFilterBase* stage) const {
        for (int n = 0; n < CKvTolmoFilterChain::kStageCount; ++n)
            if (m_chain.GetStage(n) == stage)
                return n;
        return -1;
    }

private:
    const CKvTolmoFilterChain& m_chain;
    std::set<const CPravonFilterBase*> m_readBefore;
};

} // namespace kvtest
