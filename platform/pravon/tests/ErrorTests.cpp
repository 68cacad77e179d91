#include "platform/pravon/IPravonError.h"
#include "platform/win/FourCC.h"

#include <gtest/gtest.h>

namespace {

TEST(PravonError, AddStartsAChainAndKeepsTheFirstCause) {
    PravonErrorPtr e(IPravonError::Add(nullptr, FourCC("scal"), 10, PravonKind::kOutOfRange));
    ASSERT_TRUE(e);
    IPravonError* same = IPravonError::Add(e.get(), 32, 20, PravonKind::kInvalidState);
    EXPECT_EQ(same, e.get());
    EXPECT_EQ(e->GetCount(), 2u);
    EXPECT_EQ(e->GetKind(), PravonKind::kOutOfRange);
    EXPECT_EQ(e->GetComponent(), FourCC("scal"));
    EXPECT_TRUE(e->HasKind(PravonKind::kInvalidState));
    EXPECT_FALSE(e->HasKind(PravonKind::kOutOfMemory));
}

TEST(PravonError, EveryAddFormRecordsItsFields) {
    PravonErrorPtr e(IPravonError::Add(nullptr, "bare message"));
    IPravonError::Add(e.get(), FourCC("cmle"), 7, "with component");
    IPravonError::Add(e.get(), FourCC("cmle"), 8, FourCC("KVCM"), 3);
    IPravonError::Add(e.get(), FourCC("Crop"), 9, PravonKind::kOutOfRange, "both");
    ASSERT_EQ(e->GetCount(), 4u);
    EXPECT_EQ(e->GetEntry(0).component, 0);
    EXPECT_EQ(e->GetEntry(0).text, "bare message");
    EXPECT_EQ(e->GetEntry(1).line, 7);
    EXPECT_EQ(e->GetEntry(2).secondary, FourCC("KVCM"));
    EXPECT_EQ(e->GetEntry(2).kind, 3);
    EXPECT_EQ(e->GetKind(), 3) << "the first entry with a kind is the cause";
    EXPECT_TRUE(e->HasText("with comp"));
    const std::string text = e->Describe();
    EXPECT_NE(text.find("[cmle] line 8 kind 3 secondary KVCM"), std::string::npos) << text;
    EXPECT_NE(text.find("[Crop] line 9 kind 1013: both"), std::string::npos);
}

TEST(PravonError, AddWorkerWrapsTheInnerChainBelowTheOuter) {
    IPravonError* inner = IPravonError::Add(nullptr, FourCC("PRVN"), 1, PravonKind::kBadArgument);
    PravonErrorPtr outer(IPravonError::Add(nullptr, FourCC("DBbs"), 2, "reading the source"));
    IPravonError::AddWorker(outer.get(), inner);
    ASSERT_EQ(outer->GetCount(), 2u);
    EXPECT_EQ(outer->GetEntry(1).depth, 1);
    EXPECT_EQ(outer->GetKind(), PravonKind::kBadArgument);
}

TEST(PravonError, AddWorkerWithoutAChainReturnsTheInnerAndNullInnerChangesNothing) {
    IPravonError* inner = IPravonError::Add(nullptr, 32, 1, PravonKind::kNoSource);
    PravonErrorPtr e(IPravonError::AddWorker(nullptr, inner));
    EXPECT_EQ(e.get(), inner);
    EXPECT_EQ(IPravonError::AddWorker(e.get(), nullptr), e.get());
    EXPECT_EQ(IPravonError::AddWorker(nullptr, nullptr), nullptr);
}

TEST(PravonError, ChainJoinsTwoErrorsAndToleratesNull) {
    IPravonError* a = IPravonError::Add(nullptr, 1, 1, PravonKind::kOutOfRange);
    IPravonError* b = IPravonError::Add(nullptr, 2, 2, PravonKind::kOutOfMemory);
    PravonErrorPtr joined(IPravonError::Chain(a, b));
    EXPECT_EQ(joined.get(), a);
    EXPECT_EQ(joined->GetCount(), 2u);
    EXPECT_EQ(joined->GetKind(), PravonKind::kOutOfRange);
    EXPECT_EQ(IPravonError::Chain(nullptr, nullptr), nullptr);
}

TEST(PravonError, FailRecordsTheCallersLineAndContextKeepsTheFirstCause) {
    const LONG failLine = __LINE__ + 1;
    PravonErrorPtr e(PravonFail(FourCC("Crop"), PravonKind::kOutOfRange, std::string("crop is inverted")));
    ASSERT_EQ(e->GetCount(), 1u);
    EXPECT_EQ(e->GetEntry(0).line, failLine);
    EXPECT_EQ(e->GetEntry(0).component, FourCC("Crop"));
    EXPECT_EQ(e->GetEntry(0).text, "crop is inverted");

    const LONG contextLine = __LINE__ + 1;
    IPravonError* same = PravonContext(e.get(), FourCC("scal"), "cannot read the source");
    EXPECT_EQ(same, e.get());
    ASSERT_EQ(e->GetCount(), 2u);
    EXPECT_EQ(e->GetEntry(1).line, contextLine);
    EXPECT_EQ(e->GetEntry(1).kind, 0);
    EXPECT_EQ(e->GetKind(), PravonKind::kOutOfRange);
    EXPECT_EQ(e->GetComponent(), FourCC("Crop"));
    // Success has no context to take.
    EXPECT_EQ(PravonContext(nullptr, FourCC("scal"), "nothing failed"), nullptr);
}

TEST(PravonError, AnOutsideLibrarysFailureCarriesItsCodeAndResultFromTheCallersLine) {
    const LONG line = __LINE__ + 1;
    PravonErrorPtr e(PravonLibraryFail(FourCC("cml "), FourCC("KVCM"), 7));
    ASSERT_EQ(e->GetCount(), 1u);
    EXPECT_EQ(e->GetEntry(0).line, line);
    EXPECT_EQ(e->GetEntry(0).component, FourCC("cml "));
    EXPECT_EQ(e->GetEntry(0).secondary, FourCC("KVCM"));
    EXPECT_EQ(e->GetKind(), 7);
}

TEST(PravonError, FourCharacterCodesPutTheFirstCharacterHighest) {
    static_assert(FourCC("scal") == 0x7363616C);
    static_assert(FourCC("hsto") == 0x6873746F);
    EXPECT_EQ(FourCCText(FourCC("Raw1")), "Raw1");
    EXPECT_EQ(FourCCText(32), "... ");
}

} // namespace
