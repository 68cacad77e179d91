#include "RecordConformance.h"

#include "rawlib/settings/CKvLutGroup.h"
#include "rawlib/settings/KvLchCalibration.h"
#include "testing/LchCalibrationFiles.h"
#include "testing/PravonTestSupport.h"
#include "testing/TempSystemRoot.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using kvtest::Bytes;

// A machine whose profile folder exists and takes calibration files.
class Calibration : public ::testing::Test {
protected:
    Calibration() : folder(kvtest::ProfileFolder(machine)) {}

    void Write(const std::string& name, const Bytes& bytes) const {
        kvtest::WriteProfileFile(machine, name, bytes);
    }

    // Version 1, the points and the level, then `tail` further bytes.
    static Bytes File(const std::vector<KvHuePoint>& points, double level, int tail = 1) {
        return kvtest::LchCalibrationBytes(points, level, tail);
    }

    // A chroma channel whose calibration set already holds something.
    static CKvChromaChannel Calibrated() {
        CKvChromaChannel channel;
        channel.SetCalibration({{0.9, 0.9, 0.1}}, 0.7);
        channel.SetEditedPoints({{0.1, 0.2, 0.3}});
        return channel;
    }

    static void ExpectUnchanged(const CKvChromaChannel& channel) {
        EXPECT_EQ(channel.GetCalibrationPoints(), (std::vector<KvHuePoint>{{0.9, 0.9, 0.1}}));
        EXPECT_EQ(channel.GetLevelB(), 0.7);
        EXPECT_EQ(channel.GetEditedPoints(), (std::vector<KvHuePoint>{{0.1, 0.2, 0.3}}));
    }

    kvtest::TempSystemRoot machine;
    std::string folder;
    const std::vector<KvHuePoint> points{{0.25, 0.5, 0.125}, {0.75, -0.25, 0.0625}};
};

TEST_F(Calibration, AWholeFileFillsTheCalibrationSet) {
    Write("KvLchCal.nlc", File(points, -0.5));
    CKvChromaChannel channel = Calibrated();
    EXPECT_EQ(LoadLchCalibration(&channel), KvLchCalibrationResult::kLoaded);
    EXPECT_EQ(channel.GetCalibrationPoints(), points);
    EXPECT_EQ(channel.GetLevelB(), -0.5);
    EXPECT_EQ(channel.GetEditedPoints(), (std::vector<KvHuePoint>{{0.1, 0.2, 0.3}}))
        << "the edited set stays";
}

TEST_F(Calibration, AFileWithoutItsLastByteChangesNothing) {
    Write("KvLchCal.nlc", File(points, -0.5, 0));
    CKvChromaChannel channel = Calibrated();
    EXPECT_EQ(LoadLchCalibration(&channel), KvLchCalibrationResult::kWrongLength);
    ExpectUnchanged(channel);
}

TEST_F(Calibration, AFileThatIsTooLongOrTooShortForItsCountIsRefused) {
    CKvChromaChannel channel = Calibrated();
    Write("KvLchCal.nlc", File(points, 0, 2));
    EXPECT_EQ(LoadLchCalibration(&channel), KvLchCalibrationResult::kWrongLength);
    Bytes claims = File(points, 0);
    claims[2] = 200; // 200 points claimed, two present: nothing may be read past the end
    Write("KvLchCal.nlc", claims);
    EXPECT_EQ(LoadLchCalibration(&channel), KvLchCalibrationResult::kWrongLength);
    const Bytes none = File({}, 0);
    for (std::size_t size : {0, 1, 3, 4, 12}) {
        Write("KvLchCal.nlc", Bytes(none.begin(), none.begin() + static_cast<std::ptrdiff_t>(size)));
        EXPECT_EQ(LoadLchCalibration(&channel), KvLchCalibrationResult::kWrongLength) << size << " bytes";
    }
    Write("KvLchCal.nlc", Bytes(13 + 24 * 70000, 0));
    EXPECT_EQ(LoadLchCalibration(&channel), KvLchCalibrationResult::kWrongLength) << "longer than any count";
    ExpectUnchanged(channel);
}

TEST_F(Calibration, AnotherVersionIsRefused) {
    Bytes file = File(points, 0);
    file[0] = 2;
    Write("KvLchCal.nlc", file);
    CKvChromaChannel channel = Calibrated();
    EXPECT_EQ(LoadLchCalibration(&channel), KvLchCalibrationResult::kWrongLength);
    ExpectUnchanged(channel);
}

TEST_F(Calibration, AFileThatCannotBeReadIsReportedAsSuch) {
    CKvChromaChannel channel = Calibrated();
    EXPECT_EQ(LoadLchCalibration(&channel), KvLchCalibrationResult::kUnreadable) << "no file";
    std::filesystem::create_directory(folder + "KvLchCal.nlc");
    EXPECT_EQ(LoadLchCalibration(&channel), KvLchCalibrationResult::kUnreadable) << "a folder of that name";
    EXPECT_EQ(LoadLchCalibration(nullptr), KvLchCalibrationResult::kUnreadable);
    ExpectUnchanged(channel);
}

TEST_F(Calibration, FilesAreFoundInAnyLetterCaseAndByName) {
    Write("KVLCHCAL.NLC", File(points, 0.1));
    Write("KvCBoost.nlc", File({{0.5, 0.5, 0.5}}, 0.2));
    CKvChromaChannel lch, boost;
    EXPECT_EQ(LoadLchCalibration(&lch), KvLchCalibrationResult::kLoaded);
    EXPECT_EQ(lch.GetLevelB(), 0.1);
    EXPECT_EQ(LoadLchCalibration(&boost, kKvChromaBoostCalibrationFile), KvLchCalibrationResult::kLoaded);
    EXPECT_EQ(boost.GetLevelB(), 0.2);
}

TEST_F(Calibration, TheFiltersTableReportsKinds3500And3501) {
    std::vector<WORD> table(3, 7);
    EXPECT_PV_KIND(KvReadCalibrationTable(kKvLchCalibrationFile, table), KvLchCalibrationKind::kUnreadable);
    Write("KvLchCal.nlc", File(points, 0, 0));
    EXPECT_PV_KIND(KvReadCalibrationTable(kKvLchCalibrationFile, table), KvLchCalibrationKind::kWrongLength);
    Write("KvLchCal.nlc", File(points, 0, 5));
    EXPECT_PV_KIND(KvReadCalibrationTable(kKvLchCalibrationFile, table), KvLchCalibrationKind::kWrongLength);
    EXPECT_EQ(table, std::vector<WORD>(3, 7)) << "a failed read leaves the table";

    Write("KvLchCal.nlc", File({{0.5, 0.5, 0.25}}, 0));
    ASSERT_PV_OK(KvReadCalibrationTable(kKvLchCalibrationFile, table));
    ASSERT_EQ(table.size(), 65536u);
    EXPECT_EQ(table[0], 32768) << "away from the bump the gain is 1";
    EXPECT_EQ(table[32768], 49152) << "the bump's top: 1.5";
}

TEST_F(Calibration, TheSettingsLchGroupLoadsTheDefaultFile) {
    Write("KvLchCal.nlc", File(points, 0.3));
    CKvLutGroup group;
    group.SetContrast(2);
    EXPECT_EQ(KvBuildLchGroup(group), KvLchCalibrationResult::kLoaded);
    ASSERT_EQ(group.GetChannelCount(), 4);
    EXPECT_EQ(group.GetCurrentIndex(), 1);
    EXPECT_EQ(group.GetContrast(), 0);
    const LONG ids[] = {0, 1, 2, 3};
    for (LONG i = 0; i < 4; ++i)
        EXPECT_EQ(group.GetChannelAt(i)->GetChannelId(), ids[i]);
    EXPECT_FALSE(group.GetChannelAt(1)->IsHueChannel() || group.GetChannelAt(1)->IsChromaChannel());
    auto* chroma = dynamic_cast<CKvChromaChannel*>(group.GetChannelAt(2));
    ASSERT_NE(chroma, nullptr);
    EXPECT_EQ(chroma->GetCalibrationPoints(), points);
    EXPECT_TRUE(group.GetChannelAt(3)->IsHueChannel());
    EXPECT_TRUE(group.IsNeutral()) << "a calibration set is not an edit";

    std::filesystem::remove(folder + "KvLchCal.nlc");
    EXPECT_EQ(KvBuildLchGroup(group), KvLchCalibrationResult::kUnreadable);
    EXPECT_EQ(group.GetChannelCount(), 4) << "built without its calibration";
}

} // namespace
