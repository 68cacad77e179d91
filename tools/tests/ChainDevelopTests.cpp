// The demo host's development through the exported filter-chain object.
#include "testing/PravonTestSupport.h"
#include "testing/TempFolder.h"
#include "testing/TempSystemRoot.h"
#include "tools/CKvChainDevelop.h"
#include "tools/CKvSampleMaker.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

double Mean(const std::vector<BYTE>& rgb) {
    return std::accumulate(rgb.begin(), rgb.end(), 0.0) / static_cast<double>(rgb.size());
}

TEST(ChainDevelop, DevelopsTheSampleAndAnExposureChangeBrightensIt) {
    kvtest::TempSystemRoot root;
    kvtest::TempFolder folder;
    CKvSampleMaker::Options options;
    options.width = 120;
    options.height = 90;
    options.samplePath = folder.File("chain.kvraw");
    ASSERT_PV_OK(CKvSampleMaker::Make(options));
    CKvChainDevelop chain;
    ASSERT_PV_OK(chain.Open(options.samplePath));
    std::vector<BYTE> first;
    LONG width = 0, height = 0, lastDone = 0, lastTotal = 0;
    ASSERT_PV_OK(chain.Develop(&first, &width, &height, [&](LONG done, LONG total) {
        lastDone = done;
        lastTotal = total;
    }));
    EXPECT_GT(width, 0);
    EXPECT_GT(height, 0);
    EXPECT_EQ(first.size(), static_cast<std::size_t>(width) * height * 3);
    EXPECT_EQ(lastDone, lastTotal);
    ASSERT_PV_OK(chain.SetExposure(1.0));
    std::vector<BYTE> brighter;
    ASSERT_PV_OK(chain.Develop(&brighter, &width, &height, nullptr));
    EXPECT_GT(Mean(brighter), Mean(first));
}

TEST(ChainDevelop, RefusesToDevelopWithoutASample) {
    CKvChainDevelop chain;
    std::vector<BYTE> rgb;
    LONG width = 0, height = 0;
    EXPECT_PV_KIND(chain.Develop(&rgb, &width, &height, nullptr), PravonKind::kInvalidState);
    EXPECT_PV_KIND(chain.SetExposure(1.0), PravonKind::kInvalidState);
}

} // namespace
