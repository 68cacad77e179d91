#include "tools/CKvLensModel.h"

#include "rawlib/settings/KvRecordCursor.h"
#include "testing/RunProgram.h"
#include "testing/TempFolder.h"
#include "testing/TempSystemRoot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <numbers>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using Model = CKvLensModel;
using Projection = Model::Projection;
using Info = CKvLensInformation;

constexpr double kPi = std::numbers::pi;

// Entry i of a table is the radius i / 4095; these radii fall on entries.
double At(const std::vector<double>& table, int i) {
    return table.at(static_cast<std::size_t>(i));
}

TEST(LensModel, AnEquidistantLensCorrectedToARectilinearAndAStereographicView) {
    Model::Parameters p;
    p.lens = {Projection::kEquidistant, 180.0};
    p.first = {Projection::kRectilinear, 90.0};
    p.second = {Projection::kStereographic, 180.0};
    ASSERT_EQ(Model::Check(p), "");
    const auto t = Model::Tables(p);
    // Worked by hand: the rectilinear view's corner sees 45°, half the lens's 90°; its radius 1/2 sees
    // atan(1/2). The source radius 1/2 (45°) lands on the view's corner; the lens's edge (90°) is beyond it.
    EXPECT_DOUBLE_EQ(At(t[Info::kTableA], 4095), 0.5);
    EXPECT_NEAR(At(t[Info::kTableA], 0), 0.0, 1e-15);
    const int half = 4095 / 2; // radius 2047/4095, just under 1/2
    const double u = half / 4095.0;
    EXPECT_NEAR(At(t[Info::kTableA], half), std::atan(u) / (kPi / 2), 1e-12);
    EXPECT_NEAR(std::atan(0.5) / (kPi / 2), 0.2951672, 1e-7);
    EXPECT_NEAR(At(t[Info::kTableC], half), std::tan(u * kPi / 2), 1e-12);
    EXPECT_EQ(At(t[Info::kTableC], 4095), Model::kBeyondView);
    // The stereographic view of the same field keeps the corner on the corner: 2 atan(1/2) = 53.13° at 1/2.
    EXPECT_DOUBLE_EQ(At(t[Info::kTableB], 4095), 1.0);
    EXPECT_NEAR(At(t[Info::kTableB], half), 2 * std::atan(u) / (kPi / 2), 1e-12);
    EXPECT_NEAR(At(t[Info::kTableD], half), std::tan(u * kPi / 4) / std::tan(kPi / 4), 1e-12);
    EXPECT_NEAR(std::tan(kPi / 8), 0.4142136, 1e-7);
}

TEST(LensModel, ForwardAndBackTablesUndoEachOther) {
    const Model::Parameters p;
    const auto t = Model::Tables(p);
    for (const auto& [back, forward] :
         {std::pair{Info::kTableA, Info::kTableC}, {Info::kTableB, Info::kTableD}}) {
        for (int i : {1, 700, 2048, 3500}) {
            const double source = At(t[back], i);
            ASSERT_LT(source, 1.0);
            // Forward from that source radius by linear interpolation between entries.
            const double position = source * 4095;
            const int j = static_cast<int>(position);
            const double f = position - j;
            const double there = At(t[forward], j) * (1 - f) + At(t[forward], j + 1) * f;
            EXPECT_NEAR(there, i / 4095.0, 2e-4) << "table " << back << " entry " << i;
        }
    }
}

TEST(LensModel, IdentityAndRippleTables) {
    Model::Parameters identity;
    identity.identity = true;
    for (const auto& table : Model::Tables(identity))
        for (int i : {0, 1, 4094, 4095})
            EXPECT_EQ(At(table, i), i / 4095.0);

    Model::Parameters wavy;
    wavy.ripple = 0.1;
    const auto t = Model::Tables(wavy);
    const auto plain = Model::Tables(Model::Parameters());
    EXPECT_NEAR(At(t[Info::kTableA], 4095 / 20) - At(plain[Info::kTableA], 4095 / 20),
                0.1 * std::sin(10 * kPi * (4095 / 20) / 4095.0), 1e-12);
    bool falls = false;
    for (int i = 0; i < 4095; ++i)
        falls |= At(t[Info::kTableA], i + 1) < At(t[Info::kTableA], i);
    EXPECT_TRUE(falls) << "a ripple of 0.1 makes table A fall somewhere";
    EXPECT_EQ(At(t[Info::kTableC], 100), At(plain[Info::kTableC], 100)) << "forward tables keep no ripple";
}

TEST(LensModel, RefusesViewsTheProjectionsCannotShow) {
    const Model::View wrong[] = {{Projection::kRectilinear, 180.0},
                                 {Projection::kOrthographic, 181.0},
                                 {Projection::kStereographic, 360.0},
                                 {Projection::kEquidistant, 0.0},
                                 {Projection::kEquisolid, -10.0},
                                 {Projection::kEquidistant, 361.0},
                                 {Projection::kEquisolid, std::numeric_limits<double>::quiet_NaN()}};
    for (const Model::View& view : wrong) {
        for (Model::View Model::Parameters::*which :
             {&Model::Parameters::lens, &Model::Parameters::first, &Model::Parameters::second}) {
            Model::Parameters p;
            p.*which = view;
            EXPECT_NE(Model::Check(p), "") << Model::Name(view.projection) << " " << view.fieldOfView;
        }
    }
    Model::Parameters p;
    p.ripple = std::numeric_limits<double>::infinity();
    EXPECT_NE(Model::Check(p), "");
    EXPECT_EQ(Model::Check(Model::Parameters()), "");
}

TEST(LensModel, DamagedFilesDepartOnlyWhereAsked) {
    const Model::Parameters p;
    const std::vector<BYTE> whole = Model::FileBytes(p);
    ASSERT_EQ(whole.size(), 131095u);
    EXPECT_EQ(KvGetValue(whole.data() + 16, 2), 2u);
    EXPECT_EQ(KvGetValue(whole.data() + 18, 4), 131077u);
    EXPECT_EQ(whole[22], 0x80);

    Model::Damage damage;
    damage.version = 1;
    damage.length = 7;
    std::vector<BYTE> changed = Model::FileBytes(p, damage);
    EXPECT_EQ(KvGetValue(changed.data() + 16, 2), 1u);
    EXPECT_EQ(KvGetValue(changed.data() + 18, 4), 7u);
    EXPECT_TRUE(std::equal(whole.begin() + 22, whole.end(), changed.begin() + 22));

    damage = {};
    damage.cut = 100;
    EXPECT_EQ(Model::FileBytes(p, damage), std::vector<BYTE>(whole.begin(), whole.begin() + 100));
    damage = {};
    damage.extra = 3;
    changed = Model::FileBytes(p, damage);
    ASSERT_EQ(changed.size(), whole.size() + 3);
    EXPECT_TRUE(std::equal(whole.begin(), whole.end(), changed.begin()));

    // The id A042D706-ED9B-3E4A-A019-772A0A9A769C read as GUID text: the first three groups little-endian.
    const std::vector<BYTE> guidOrder = {0x06, 0xD7, 0x42, 0xA0, 0x9B, 0xED, 0x4A, 0x3E,
                                         0xA0, 0x19, 0x77, 0x2A, 0x0A, 0x9A, 0x76, 0x9C};
    damage = {};
    damage.otherId = true;
    changed = Model::FileBytes(p, damage);
    ASSERT_EQ(changed.size(), whole.size());
    EXPECT_EQ(std::vector<BYTE>(changed.begin(), changed.begin() + 16), guidOrder);
    EXPECT_TRUE(std::equal(whole.begin() + 16, whole.end(), changed.begin() + 16));
}

} // namespace

namespace {

std::vector<BYTE> FileAt(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(MakeLens, InstallsTheStandardFileOnceWhereTheLibraryLooks) {
    kvtest::TempSystemRoot machine;
    ASSERT_EQ(kvtest::RunProgram({KV_MAKE_LENS, "--install"}), 0);
    CKvString path;
    ASSERT_EQ(GetLensFilePath(path, 0x80), 0);
    const std::string file(path.GetBuffer());
    EXPECT_EQ(FileAt(file), Model::FileBytes(Model::Parameters()));
    struct stat before {
    }, after{};
    ASSERT_EQ(stat(file.c_str(), &before), 0);
    ASSERT_EQ(kvtest::RunProgram({KV_MAKE_LENS, "--install"}), 0);
    ASSERT_EQ(stat(file.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino) << "a file with the same bytes is left alone";
    ASSERT_EQ(kvtest::RunProgram({KV_MAKE_LENS, "--identity", "--install"}), 0);
    Model::Parameters identity;
    identity.identity = true;
    EXPECT_EQ(FileAt(file), Model::FileBytes(identity)) << "another file replaces it";
}

TEST(MakeLens, WritesWhatItsArgumentsDescribe) {
    kvtest::TempFolder folder;
    const std::string file = folder.File("lens.lns");
    ASSERT_EQ(
        kvtest::RunProgram({KV_MAKE_LENS, "--lens", "equisolid:200", "--first", "rectilinear:120", "--second",
                            "orthographic:180", "--ripple", "0.05", "--model", "7", "--cut", "9000", file}),
        0);
    Model::Parameters p;
    p.lens = {Projection::kEquisolid, 200.0};
    p.first = {Projection::kRectilinear, 120.0};
    p.second = {Projection::kOrthographic, 180.0};
    p.ripple = 0.05;
    p.lensModel = 7;
    Model::Damage damage;
    damage.cut = 9000;
    EXPECT_EQ(FileAt(file), Model::FileBytes(p, damage));
}

TEST(MakeLens, RefusesWhatDescribesNoLens) {
    kvtest::TempFolder folder;
    const std::string file = folder.File("lens.lns");
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"--lens", "fisheye:180", file},
        {"--first", "rectilinear:180", file},
        {"--lens", "equidistant", file},
        {"--model", "256", file},
        {"--install", file},
        {"--ripple", "nan", file},
    };
    for (const auto& arguments : wrong) {
        std::vector<std::string> words{KV_MAKE_LENS};
        words.insert(words.end(), arguments.begin(), arguments.end());
        EXPECT_EQ(kvtest::RunProgram(words), 2) << (arguments.empty() ? "no arguments" : arguments[0]);
    }
    EXPECT_FALSE(std::filesystem::exists(file));
}

} // namespace
