#include "rawlib/pipeline/CProcessRawVendor1.h"

#include "testing/PravonTestSupport.h"

#include <gtest/gtest.h>

namespace {

// Stands in for the processor until it exists: an output image of a fixed size, or a failing query.
class FakeProcessor : public CProcessRawVendor1 {
public:
    FakeProcessor() : CProcessRawVendor1(nullptr) {}
    LONG width = 2992;
    LONG height = 1994;
    LONG failWith = 0;

protected:
    IPravonError* GetImageSize(LONG* w, LONG* h) override {
        if (failWith)
            return IPravonError::Add(nullptr, 0x1234, 1, failWith);
        *w = width;
        *h = height;
        return nullptr;
    }
};

TEST(RawVendorSize, GivesTheOutputImagesSize) {
    FakeProcessor processor;
    LONG w = 0, h = 0;
    EXPECT_PV_OK(processor.GetSize(&w, &h));
    EXPECT_EQ(w, 2992);
    EXPECT_EQ(h, 1994);
}

TEST(RawVendorSize, RefusesAMissingOutput) {
    FakeProcessor processor;
    LONG v = 5;
    PravonErrorPtr error(processor.GetSize(nullptr, &v));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->GetKind(), PravonKind::kBadArgument);
    EXPECT_EQ(error->GetComponent(), FourCC("Raw1"));
    EXPECT_EQ(v, 5);
    EXPECT_PV_KIND(processor.GetSize(&v, nullptr), PravonKind::kBadArgument);
}

TEST(RawVendorSize, WrapsAFailedSizeQuery) {
    FakeProcessor processor;
    processor.failWith = PravonKind::kInvalidState;
    LONG w = 0, h = 0;
    PravonErrorPtr error(processor.GetSize(&w, &h));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->GetKind(), PravonKind::kInvalidState) << "the first cause stays the image's";
    ASSERT_GE(error->GetCount(), 2u);
    EXPECT_EQ(error->GetEntry(0).component, FourCC("Raw1"));
    EXPECT_EQ(error->GetEntry(1).depth, 1);
}

} // namespace
