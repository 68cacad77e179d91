#include "platform/quasel/CPravonTagControl.h"
#include "testing/PravonTestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

struct TagControlReleaser {
    void operator()(CPravonTagControl* tags) const { tags->Release(); }
};
using TagControlPtr = std::unique_ptr<CPravonTagControl, TagControlReleaser>;

TagControlPtr MakeTags() {
    return TagControlPtr(new CPravonTagControl());
}

const std::vector<BYTE> kBlob = {1, 2, 3, 4, 5, 6, 7, 8};

TEST(TagControl, CreateTagControlMakesAnEmptyControlOwnedByTheCaller) {
    IPravonTagControl* raw = nullptr;
    ASSERT_PV_OK(IPravonTagControl::CreateTagControl(&raw));
    PravonTagControlPtr tags(raw);
    ASSERT_TRUE(tags);
    EXPECT_FALSE(tags->TagExists(0x80E01));
    EXPECT_EQ(tags->GetTagSize(0x80E01), 0u);
    EXPECT_EQ(tags->GetTagKind(0x80E01), 0);
    EXPECT_PV_KIND(IPravonTagControl::CreateTagControl(nullptr), PravonKind::kBadArgument);
}

TEST(TagControl, AWrittenTagReportsItsSizeKindAndBytes) {
    auto tags = MakeTags();
    ASSERT_PV_OK(tags->WriteTag(0x80E01, 1, static_cast<ULONG>(kBlob.size()), kBlob.data()));
    EXPECT_TRUE(tags->TagExists(0x80E01));
    EXPECT_EQ(tags->GetTagSize(0x80E01), kBlob.size());
    EXPECT_EQ(tags->GetTagKind(0x80E01), 1);
    std::vector<BYTE> out(kBlob.size());
    ASSERT_PV_OK(tags->ReadTag(0x80E01, 1, static_cast<ULONG>(out.size()), out.data()));
    EXPECT_EQ(out, kBlob);

    const std::vector<BYTE> path(260, 'p');
    ASSERT_PV_OK(tags->WriteTag(0x80E01, 16, 260, path.data()));
    EXPECT_EQ(tags->GetTagKind(0x80E01), 16) << "a rewrite replaces kind and value";
    EXPECT_EQ(tags->GetTagSize(0x80E01), 260u);
}

TEST(TagControl, ReadingFewerBytesThanTheTagHoldsGivesItsFirstBytes) {
    auto tags = MakeTags();
    ASSERT_PV_OK(tags->WriteTag(0x8000C, 4, static_cast<ULONG>(kBlob.size()), kBlob.data()));
    std::array<BYTE, 3> out{};
    ASSERT_PV_OK(tags->ReadTag(0x8000C, 4, 3, out.data()));
    EXPECT_EQ(out, (std::array<BYTE, 3>{1, 2, 3}));
    EXPECT_EQ(tags->GetLastReadType(0x8000C), 4);
}

TEST(TagControl, AMissingOrShortTagIsAnErrorAndLeavesTheBufferUntouched) {
    auto tags = MakeTags();
    std::vector<BYTE> out(16, 0xAB);
    EXPECT_PV_KIND(tags->ReadTag(0x10000, 3, 4, out.data()), PravonKind::kMissingInput);
    ASSERT_PV_OK(tags->WriteTag(0x10000, 3, static_cast<ULONG>(kBlob.size()), kBlob.data()));
    EXPECT_PV_KIND(tags->ReadTag(0x10000, 3, 9, out.data()), PravonKind::kOutOfRange);
    EXPECT_EQ(out, std::vector<BYTE>(16, 0xAB));
    EXPECT_PV_KIND(tags->ReadTag(0x10000, 3, 4, nullptr), PravonKind::kBadArgument);
    EXPECT_EQ(tags->GetLastReadType(0x10000), 3) << "failed reads are recorded too";
    EXPECT_PV_KIND(tags->WriteTag(0x10001, 3, 4, nullptr), PravonKind::kBadArgument);
    EXPECT_FALSE(tags->TagExists(0x10001));
}

TEST(TagControl, RemovingATagSucceedsWhetherOrNotItExists) {
    auto tags = MakeTags();
    ASSERT_PV_OK(tags->WriteTag(0x80E01, 1, 4, kBlob.data()));
    EXPECT_PV_OK(tags->RemoveTag(0x80E01));
    EXPECT_FALSE(tags->TagExists(0x80E01));
    EXPECT_PV_OK(tags->RemoveTag(0x80E01));
    EXPECT_EQ(tags->GetTagCount(), 0u);
}

TEST(TagControl, AnEmptyTagExistsWithSizeZero) {
    auto tags = MakeTags();
    ASSERT_PV_OK(tags->WriteTag(0x80E0B, 1, 0, nullptr));
    EXPECT_TRUE(tags->TagExists(0x80E0B));
    EXPECT_EQ(tags->GetTagSize(0x80E0B), 0u);
    EXPECT_PV_OK(tags->ReadTag(0x80E0B, 1, 0, nullptr));
}

TEST(TagControl, TheCameraModelIsAnErrorUntilTheImageCarriesOne) {
    auto tags = MakeTags();
    WORD model = 77;
    EXPECT_PV_KIND(tags->GetCameraModel(&model), PravonKind::kMissingInput);
    EXPECT_EQ(model, 77);
    tags->SetCameraModel(1025);
    ASSERT_PV_OK(tags->GetCameraModel(&model));
    EXPECT_EQ(model, 1025);
    EXPECT_PV_KIND(tags->GetCameraModel(nullptr), PravonKind::kBadArgument);
    tags->ClearCameraModel();
    EXPECT_PV_KIND(tags->GetCameraModel(&model), PravonKind::kMissingInput);
}

TEST(TagControl, InjectedFailuresHitOnlyTheChosenOperationAndTag) {
    auto tags = MakeTags();
    tags->SetCameraModel(259);
    ASSERT_PV_OK(tags->WriteTag(0x80E01, 1, 4, kBlob.data()));
    ASSERT_PV_OK(tags->WriteTag(0x8000C, 4, 4, kBlob.data()));
    tags->SetFailure(CPravonTagControl::Operation::kRead, 0x80E01, PravonKind::kInvalidState);
    tags->SetFailure(CPravonTagControl::Operation::kWrite, 0x80E01, PravonKind::kOutOfMemory);
    tags->SetFailure(CPravonTagControl::Operation::kRemove, 0x80E01, PravonKind::kInvalidState);
    tags->SetFailure(CPravonTagControl::Operation::kCameraModel, 0, PravonKind::kOutOfRange);

    std::array<BYTE, 4> out{};
    WORD model = 0;
    EXPECT_PV_KIND(tags->ReadTag(0x80E01, 1, 4, out.data()), PravonKind::kInvalidState);
    EXPECT_PV_KIND(tags->WriteTag(0x80E01, 1, 2, kBlob.data()), PravonKind::kOutOfMemory);
    EXPECT_PV_KIND(tags->RemoveTag(0x80E01), PravonKind::kInvalidState);
    EXPECT_PV_KIND(tags->GetCameraModel(&model), PravonKind::kOutOfRange);
    EXPECT_EQ(tags->GetTagSize(0x80E01), 4u) << "a failed write or remove keeps the old value";
    EXPECT_PV_OK(tags->ReadTag(0x8000C, 4, 4, out.data()));

    tags->ClearFailures();
    EXPECT_PV_OK(tags->ReadTag(0x80E01, 1, 4, out.data()));
    EXPECT_PV_OK(tags->GetCameraModel(&model));
    EXPECT_EQ(model, 259);
}

TEST(TagControl, TheLastReleaseDestroysTheControl) {
    IPravonTagControl* raw = nullptr;
    ASSERT_PV_OK(IPravonTagControl::CreateTagControl(&raw));
    EXPECT_EQ(raw->AddRef(), 2u);
    EXPECT_EQ(raw->Release(), 1u);
    EXPECT_EQ(raw->Release(), 0u); // the leak checker of the sanitizer run sees whether it went
}

} // namespace
