#include "CurveBytes.h"

#include "rawlib/settings/CKvLutGroup.h"

#include <gtest/gtest.h>

namespace {

using kvtest::Bytes;
using kvtest::CurveBytes;

template <class T>
Bytes Record(T object) {
    return kvtest::WriteRecord(object);
}

// A group record of `version` (3 or 4) and `kind` around the given channel records.
Bytes GroupRecord(BYTE version, BYTE kind, const std::vector<Bytes>& channels, BYTE current = 0) {
    CurveBytes b(KvStateIds::kLutGroup);
    b.U8(0xFF).U8(version).Length().U8(kind).U8(static_cast<BYTE>(channels.size())).U8(current).F64(0);
    for (const Bytes& c : channels)
        b.Raw(c);
    return b;
}

CKvHueChannel HueOf(LONG id, double x) {
    CKvHueChannel h(nullptr, id);
    h.SetPoints({{x, 0.5, 0.1}});
    return h;
}

CKvChromaChannel ChromaOf(LONG id, double x) {
    CKvChromaChannel c(nullptr, id);
    c.SetEditedPoints({{x, -0.5, 0.2}});
    return c;
}

// The settings' LCh group without a calibration file: tone 0, lightness 1, chroma 2, hue 3.
CKvLutGroup LchGroup() {
    CKvLutGroup g;
    g.AddLutChannel(1);
    g.AddChromaChannel(2);
    g.AddHueChannel(3);
    g.SelectChannel(1);
    return g;
}

int Read(CKvLutGroup& group, const Bytes& bytes) {
    return kvtest::ReadRecord(group, bytes);
}

TEST(LutGroup, ANewGroupHoldsOneNeutralToneChannel) {
    CKvLutGroup group;
    ASSERT_EQ(group.GetChannelCount(), 1);
    auto* tone = dynamic_cast<CKvLutChannel*>(group.GetChannelAt(0));
    ASSERT_NE(tone, nullptr);
    EXPECT_EQ(tone->GetChannelId(), 0);
    EXPECT_EQ(tone->GetGroup(), &group);
    EXPECT_EQ(tone->GetSourceParameters(), CKvLutChannel::SourceParameters{});
    EXPECT_EQ(group.GetCurrentIndex(), 0);
    EXPECT_EQ(group.GetKind(), 1);
    EXPECT_TRUE(group.IsNeutral());
    EXPECT_EQ(group.GetChannelAt(-1), tone);
    EXPECT_EQ(group.GetChannelAt(1), nullptr);
}

TEST(LutGroup, FactoriesAppendChannelsThatBelongToTheGroup) {
    CKvLutGroup group;
    CKvHueChannel* hue = group.AddHueChannel(7);
    CKvLutChannel* tone = group.AddLutChannel(8, {1, 2, 3, 4, 5, 6, 7, 8, 9});
    CKvChromaChannel source;
    source.SetEditedPoints({{0.4, 0.3, 0.2}});
    source.SetLevelA(0.25);
    CKvChromaChannel* chroma = group.AddChromaChannel(9, &source);
    ASSERT_EQ(group.GetChannelCount(), 4);
    EXPECT_EQ(hue->GetGroup(), &group);
    EXPECT_EQ(tone->GetSourceParameters()[8], 9);
    EXPECT_EQ(chroma->GetCalibrationPoints(), source.GetEditedPoints()) << "the source's current set";
    EXPECT_EQ(chroma->GetLevelB(), 0.25);
    EXPECT_TRUE(chroma->GetEditedPoints().empty());
    EXPECT_EQ(group.FindChannel(8), tone);
    EXPECT_EQ(group.FindChannel(42), nullptr);
    EXPECT_EQ(group.GetCurrentIndex(), 0) << "appending keeps a current channel";
    EXPECT_TRUE(group.SelectChannel(9));
    EXPECT_EQ(group.GetChannelAt(-1), chroma);
    EXPECT_EQ(group.FindChannel(-1), chroma);
    EXPECT_FALSE(group.SelectChannel(42));
    EXPECT_EQ(group.GetCurrentIndex(), 3);
    hue->SetLevel(0.1);
    group.SetContrast(0.5);
    EXPECT_EQ(group.GetActiveMask(0xFFFFFFFF), static_cast<DWORD>(LutCode::kLevel | 0x01))
        << "the channels' activity, the contrast counting for every tone channel";
    EXPECT_EQ(group.GetActiveMask(0x03), 0x01u) << "within the mask asked for";
}

TEST(LutGroup, ACopyIsDeepAndKeepsItsOwnKind) {
    CKvLutGroup original = LchGroup();
    original.SetKind(3);
    original.SetContrast(0.75);
    original.SetReferenceContrast(-0.5);
    original.SetFlag(9);
    CKvLutGroup copy;
    copy.SetKind(2);
    ASSERT_TRUE(copy.Copy(original));
    EXPECT_EQ(copy.GetKind(), 2);
    EXPECT_EQ(copy.GetChannelCount(), 4);
    EXPECT_EQ(copy.GetCurrentIndex(), 1);
    EXPECT_EQ(copy.GetContrast(), 0.75);
    EXPECT_EQ(copy.GetReferenceContrast(), -0.5);
    EXPECT_EQ(copy.GetFlag(), 9);
    for (LONG i = 0; i < 4; ++i) {
        EXPECT_NE(copy.GetChannelAt(i), original.GetChannelAt(i));
        EXPECT_EQ(copy.GetChannelAt(i)->GetGroup(), &copy);
        EXPECT_EQ(copy.GetChannelAt(i)->Compare(*original.GetChannelAt(i)), 1);
    }
    static_cast<CKvHueChannel*>(original.GetChannelAt(3))->SetLevel(0.5);
    EXPECT_EQ(static_cast<CKvHueChannel*>(copy.GetChannelAt(3))->GetLevel(), 0) << "nothing is shared";
    EXPECT_TRUE(copy.Copy(copy));
    EXPECT_EQ(copy.GetChannelCount(), 4);
}

TEST(LutGroup, ResetAllAndRemoveExtraChannels) {
    CKvLutGroup group = LchGroup();
    group.SetContrast(1);
    auto* tone = static_cast<CKvLutChannel*>(group.GetChannelAt(0));
    tone->SetBrightness(0.5);
    tone->SetPoints({{0, 0.2}, {1, 0.8}});
    static_cast<CKvHueChannel*>(group.GetChannelAt(3))->SetLevel(0.5);
    group.ResetAll(false);
    EXPECT_EQ(group.GetContrast(), 1);
    EXPECT_EQ(tone->GetBrightness(), 0.5);
    EXPECT_EQ(tone->GetPointCount(), 2);
    EXPECT_EQ(tone->GetActiveMask(0x02), 0u) << "the points are back to (0, 0) and (1, 1)";
    EXPECT_EQ(static_cast<CKvHueChannel*>(group.GetChannelAt(3))->GetLevel(), 0);
    group.ResetAll(true);
    EXPECT_TRUE(group.IsNeutral());
    group.RemoveExtraChannels();
    EXPECT_EQ(group.GetChannelCount(), 1);
    EXPECT_EQ(group.GetChannelAt(0), tone);
    EXPECT_EQ(group.GetCurrentIndex(), 0);
}

TEST(LutGroup, AMatchingRecordIsReadIntoTheSameChannels) {
    CKvLutGroup group = LchGroup();
    auto* chroma = static_cast<CKvChromaChannel*>(group.GetChannelAt(2));
    chroma->SetCalibration({{0.5, 0.5, 0.5}}, 0.2);
    std::vector<CKvLutChannelBase*> before;
    for (LONG i = 0; i < 4; ++i)
        before.push_back(group.GetChannelAt(i));

    CKvLutGroup stored = LchGroup();
    static_cast<CKvChromaChannel*>(stored.GetChannelAt(2))->SetEditedPoints({{0.3, 0.1, 0.1}});
    stored.SetContrast(0.5);
    const Bytes record = Record(stored);
    ASSERT_EQ(Read(group, record), static_cast<int>(record.size()));
    for (LONG i = 0; i < 4; ++i)
        EXPECT_EQ(group.GetChannelAt(i), before[static_cast<std::size_t>(i)]) << "channel " << i;
    EXPECT_EQ(chroma->GetEditedPoints(), (std::vector<KvHuePoint>{{0.3, 0.1, 0.1}}));
    EXPECT_EQ(chroma->GetCalibrationPoints().size(), 1u) << "what the record does not hold is kept";
    EXPECT_EQ(chroma->GetLevelB(), 0.2);
    EXPECT_EQ(group.GetContrast(), 0.5);

    CKvLutGroup single;
    ASSERT_EQ(Read(single, record), static_cast<int>(record.size()));
    EXPECT_EQ(single.GetChannelCount(), 4) << "other kinds: the record's channels replace the group's";
    EXPECT_TRUE(single.GetChannelAt(2)->IsChromaChannel());
    EXPECT_EQ(single.GetChannelAt(2)->GetGroup(), &single);
}

TEST(LutGroup, AnLchRecordWithHueBeforeChromaIsReadIntoTheLchLayout) {
    CKvLutGroup group = LchGroup();
    CKvLutChannelBase* chroma = group.GetChannelAt(2);
    CKvLutChannelBase* hue = group.GetChannelAt(3);
    const Bytes record = GroupRecord(4, CKvLutGroup::kLchKind,
                                     {Record(CKvLutChannel(nullptr, 0)), Record(CKvLutChannel(nullptr, 1)),
                                      Record(HueOf(2, 0.25)), Record(ChromaOf(3, 0.75))});
    ASSERT_EQ(Read(group, record), static_cast<int>(record.size()));
    ASSERT_EQ(group.GetChannelAt(2), chroma) << "the group keeps its channel objects";
    ASSERT_EQ(group.GetChannelAt(3), hue);
    EXPECT_EQ(chroma->GetChannelId(), 2);
    EXPECT_EQ(hue->GetChannelId(), 3);
    EXPECT_EQ(static_cast<CKvChromaChannel*>(chroma)->GetEditedPoints()[0].x, 0.75);
    EXPECT_EQ(static_cast<CKvHueChannel*>(hue)->GetPoints()[0].x, 0.25);
    EXPECT_EQ(group.GetKind(), CKvLutGroup::kLchKind);

    CKvLutGroup fresh;
    ASSERT_EQ(Read(fresh, record), static_cast<int>(record.size()));
    ASSERT_EQ(fresh.GetChannelCount(), 4);
    EXPECT_TRUE(fresh.GetChannelAt(2)->IsChromaChannel());
    EXPECT_TRUE(fresh.GetChannelAt(3)->IsHueChannel());
    EXPECT_EQ(fresh.GetChannelAt(2)->GetChannelId(), 2);
    EXPECT_EQ(fresh.GetChannelAt(3)->GetChannelId(), 3);

    CKvLutGroup plain;
    const Bytes toneGroup = GroupRecord(4, 1,
                                        {Record(CKvLutChannel(nullptr, 0)), Record(CKvLutChannel(nullptr, 1)),
                                         Record(HueOf(2, 0.25)), Record(ChromaOf(3, 0.75))});
    ASSERT_EQ(Read(plain, toneGroup), static_cast<int>(toneGroup.size()));
    EXPECT_TRUE(plain.GetChannelAt(2)->IsHueChannel()) << "only LCh groups change places";
}

TEST(LutGroup, AnOlderLchRecordGetsAnEmptyChromaChannel) {
    const Bytes record = GroupRecord(3, CKvLutGroup::kLchKind,
                                     {Record(CKvLutChannel(nullptr, 0)), Record(CKvLutChannel(nullptr, 1)),
                                      Record(HueOf(2, 0.25)), Record(HueOf(3, 0.5))});
    CKvLutGroup fresh;
    ASSERT_EQ(Read(fresh, record), static_cast<int>(record.size()));
    ASSERT_EQ(fresh.GetChannelCount(), 4);
    auto* chroma = dynamic_cast<CKvChromaChannel*>(fresh.GetChannelAt(2));
    ASSERT_NE(chroma, nullptr) << "the third channel is replaced";
    EXPECT_TRUE(chroma->GetEditedPoints().empty());
    EXPECT_EQ(chroma->GetChannelId(), 2);
    EXPECT_TRUE(fresh.GetChannelAt(3)->IsHueChannel());

    // Read into the LCh layout, the kinds match after the replacement: the chroma channel is only reset.
    CKvLutGroup group = LchGroup();
    auto* own = static_cast<CKvChromaChannel*>(group.GetChannelAt(2));
    own->SetEditedPoints({{0.1, 0.1, 0.1}});
    own->SetCalibration({{0.2, 0.2, 0.2}}, 0.3);
    ASSERT_EQ(Read(group, record), static_cast<int>(record.size()));
    EXPECT_EQ(group.GetChannelAt(2), own);
    EXPECT_TRUE(own->GetEditedPoints().empty());
    EXPECT_EQ(own->GetCalibrationPoints().size(), 1u) << "the calibration set stays";
}

TEST(LutGroup, ACountOfZeroLeavesNoChannelAndNoCurrentOne) {
    CKvLutGroup group = LchGroup();
    const Bytes record = GroupRecord(4, 1, {});
    ASSERT_EQ(Read(group, record), 33);
    EXPECT_EQ(group.GetChannelCount(), 0);
    EXPECT_EQ(group.GetCurrentIndex(), -1);
    EXPECT_EQ(group.GetChannelAt(-1), nullptr);
    EXPECT_TRUE(group.IsNeutral());
    group.RemoveExtraChannels();
    EXPECT_EQ(group.GetCurrentIndex(), -1);
    CKvHueChannel* hue = group.AddHueChannel(5);
    EXPECT_EQ(group.GetChannelAt(-1), hue) << "the first channel appended becomes current";
    const Bytes empty = Record(CKvLutGroup(group));
    EXPECT_EQ(empty.size(), 33u + 39u);
}

TEST(LutGroup, ARecordThatCannotBeReadWholeChangesNothing) {
    CKvLutGroup group = LchGroup();
    std::vector<CKvLutChannelBase*> before;
    for (LONG i = 0; i < 4; ++i)
        before.push_back(group.GetChannelAt(i));
    const Bytes record = GroupRecord(4, 1, {Record(CKvLutChannel(nullptr, 0)), Record(HueOf(1, 0.5))});
    for (std::size_t cut = 0; cut < record.size(); ++cut) {
        ASSERT_EQ(kvtest::ReadRecord(group, record, cut), 0) << cut;
        ASSERT_EQ(group.GetChannelCount(), 4);
        for (LONG i = 0; i < 4; ++i)
            ASSERT_EQ(group.GetChannelAt(i), before[static_cast<std::size_t>(i)]);
    }
    EXPECT_EQ(group.GetCurrentIndex(), 1);
    EXPECT_EQ(group.GetKind(), 1);
}

} // namespace
