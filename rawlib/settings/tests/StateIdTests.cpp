#include "RecordConformance.h"

#include "rawlib/settings/KvStateIds.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using kvtest::Hex;
using kvtest::HexText;

struct GoldenId {
    const char* name;
    const char* stored;
    const char* alternate; // the second form readers accept; null when there is none
};

// The bytes each id is stored as. Ids printed as GUID text go through the GUID byte order; ids whose
// printed digits are their stored bytes go straight through and accept the GUID reading on input.
const GoldenId kGolden[] = {
    {"kImageProcSet", "40 A9 86 7A 1B E9 D2 11 A9 0A 00 AA 00 B1 C1 B7", nullptr},
    {"kMarkerUsmList", "00 32 A4 76 A2 17 D4 11 A9 0A 00 AA 00 B1 C1 B7", nullptr},
    {"kMarkerLutGroup1", "01 32 A4 76 A2 17 D4 11 A9 0A 00 AA 00 B1 C1 B7", nullptr},
    {"kMarkerLutGroup2", "02 32 A4 76 A2 17 D4 11 A9 0A 00 AA 00 B1 C1 B7", nullptr},
    {"kMarkerExposure", "03 32 A4 76 A2 17 D4 11 A9 0A 00 AA 00 B1 C1 B7", nullptr},
    {"kMarkerWhiteBalance", "04 32 A4 76 A2 17 D4 11 A9 0A 00 AA 00 B1 C1 B7", nullptr},
    {"kMarkerVignette", "05 32 A4 76 A2 17 D4 11 A9 0A 00 AA 00 B1 C1 B7", nullptr},
    {"kItemOrientation", "06 32 A4 76 A2 17 D4 11 A9 0A 00 AA 00 B1 C1 B7", nullptr},
    {"kItemRotation", "07 32 A4 76 A2 17 D4 11 A9 0A 00 AA 00 B1 C1 B7", nullptr},
    {"kMarkerLutGroup3", "00 8A E8 5E 18 36 D4 11 B6 6D 00 50 DA 5A 1D 0D",
     "5E E8 8A 00 36 18 11 D4 B6 6D 00 50 DA 5A 1D 0D"},
    {"kMarkerRevelation", "51 53 08 7E 4F CB 4F 4C A0 41 80 34 55 3C 57 E5",
     "7E 08 53 51 CB 4F 4C 4F A0 41 80 34 55 3C 57 E5"},
    {"kMarkerAlways", "45 D3 0D 77 A3 6E 1E 4E A4 BE CF C1 8E B5 B7 47", nullptr},
    {"kMarkerDustRemoval", "FE 44 3A 45 A7 92 83 4C 8A 27 F7 D7 6A E2 9E 0B",
     "45 3A 44 FE 92 A7 4C 83 8A 27 F7 D7 6A E2 9E 0B"},
    {"kMarkerNoiseReduction", "C0 CB 3D 75 37 6D D4 11 A9 0A 00 AA 00 B1 C1 B7", nullptr},
    {"kMarkerFisheye", "F6 DD 16 F5 43 47 99 4C 86 61 BD 9B 50 A7 E7 77",
     "F5 16 DD F6 47 43 4C 99 86 61 BD 9B 50 A7 E7 77"},
    {"kMarkerFilterPlugins", "66 C7 4F 79 98 22 C8 4F 92 2E C6 AC 1F 6C C9 5A",
     "79 4F C7 66 22 98 4F C8 92 2E C6 AC 1F 6C C9 5A"},
    {"kMarkerChromaBooster", "5F 0E 7D 23 6B A7 19 4F 97 5E D3 76 B9 9B 06 51",
     "23 7D 0E 5F A7 6B 4F 19 97 5E D3 76 B9 9B 06 51"},
    {"kMarkerRedEye", "FE 28 A4 4F 3D D4 62 4C 90 C9 D0 55 8A E1 B9 5D",
     "4F A4 28 FE D4 3D 4C 62 90 C9 D0 55 8A E1 B9 5D"},
    {"kMarkerBrightness", "5E CA 5E AB DE 14 D0 4A 82 BE 3A 8B 08 57 92 FA", nullptr},
    {"kItemOpaqueBlock", "E0 F6 F5 9E 8D 15 D6 11 BF F7 00 D0 B7 92 41 46", nullptr},
    {"kItemExtraBlock", "01 8F 3D 74 84 B9 D4 11 BF F7 00 01 03 20 81 45", nullptr},
    {"kItemName", "40 29 46 24 1E E7 D4 11 BF F7 00 01 03 20 81 45", nullptr},
    {"kUsmList", "61 51 2B E4 DF 5D D2 11 A9 0A 00 AA 00 B1 C1 B7", nullptr},
    {"kUsm", "60 51 2B E4 DF 5D D2 11 A9 0A 00 AA 00 B1 C1 B7", nullptr},
    {"kRevelation", "8E 86 62 AF DC B5 09 4D 96 1C 69 9D D0 54 FA 0A", nullptr},
    {"kDustRemoval", "7D 75 52 F8 4C 65 0B 46 9D 02 64 66 5E 45 69 6B", nullptr},
    {"kSizeRes", "E0 33 42 37 B8 CC D2 11 0A A9 B7 C1 B1 00 AA 00", nullptr},
    {"kExposureAdjustment", "60 42 A5 56 9B 04 D4 11 A9 0A 00 AA 00 B1 C1 B7", nullptr},
    {"kWBAdjustment", "20 6C 3C BF CA 04 D4 11 A9 0A 00 AA 00 B1 C1 B7", nullptr},
    {"kNoiseReduction", "E0 13 6F 92 19 AC D4 11 BF F7 00 01 03 20 81 45", nullptr},
    {"kFisheye", "23 7D 93 2D BB 69 9B 4F 88 7C 87 CE 3A CC D6 EA",
     "2D 93 7D 23 69 BB 4F 9B 88 7C 87 CE 3A CC D6 EA"},
    {"kFilterPluginList", "23 A0 2C 1C 25 C3 2C 4A 80 4A 57 80 56 2F DE 63", nullptr},
    {"kFilterPlugins", "F2 B6 6C 97 8B 92 31 45 BF A4 78 0E 8D F2 F4 E7",
     "97 6C B6 F2 92 8B 45 31 BF A4 78 0E 8D F2 F4 E7"},
    {"kChromaBooster", "B9 99 A3 6F 3F 1E 88 4B AC 63 59 64 73 8F 33 EF",
     "6F A3 99 B9 1E 3F 4B 88 AC 63 59 64 73 8F 33 EF"},
    {"kLEGeneral", "00 1D 5C E5 1B 26 D6 11 BF F7 00 D0 B7 92 41 46", nullptr},
    {"kVignette", "C0 D5 6B AC F6 8C D6 11 B1 37 00 D0 B7 92 41 46", nullptr},
    {"kFnRedEye", "3C FC 73 C6 18 1F 7C 49 85 A7 07 15 FC D2 C7 E3",
     "C6 73 FC 3C 1F 18 49 7C 85 A7 07 15 FC D2 C7 E3"},
    {"kBrightness", "34 94 58 84 C0 E9 3F 40 AA 15 53 B0 7F 51 A6 97", nullptr},
    {"kHeuristic", "89 2A 64 F4 63 AC D1 11 A7 77 00 AA 00 B1 C1 B7", nullptr},
    {"kLensInformation", "A0 42 D7 06 ED 9B 3E 4A A0 19 77 2A 0A 9A 76 9C",
     "06 D7 42 A0 9B ED 4A 3E A0 19 77 2A 0A 9A 76 9C"},
    {"kLutGroup", "9D DC 7D 00 65 D4 11 D1 91 94 44 45 53 54 00 00",
     "00 7D DC 9D D4 65 D1 11 91 94 44 45 53 54 00 00"},
    {"kToneChannel", "9D DC 7D 03 65 D4 11 D1 91 94 44 45 53 54 00 00",
     "03 7D DC 9D D4 65 D1 11 91 94 44 45 53 54 00 00"},
    {"kHueChannel", "9D DC 7D 02 65 D4 11 D1 91 94 44 45 53 54 00 00",
     "02 7D DC 9D D4 65 D1 11 91 94 44 45 53 54 00 00"},
    {"kChromaChannel", "9D DC 7D 04 65 D4 11 D1 91 94 44 45 53 54 00 00",
     "04 7D DC 9D D4 65 D1 11 91 94 44 45 53 54 00 00"},
};

TEST(StateIds, EveryIdIsStoredAsItsGoldenBytes) {
    const auto all = KvStateIds::All();
    ASSERT_EQ(all.size(), std::size(kGolden));
    for (std::size_t i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(kGolden[i].name);
        EXPECT_STREQ(all[i].name, kGolden[i].name);
        const kvtest::Bytes stored(all[i].id->stored.begin(), all[i].id->stored.end());
        const kvtest::Bytes alternate(all[i].id->alternate.begin(), all[i].id->alternate.end());
        EXPECT_EQ(HexText(stored), kGolden[i].stored);
        EXPECT_EQ(HexText(alternate), kGolden[i].alternate ? kGolden[i].alternate : kGolden[i].stored);
        EXPECT_EQ(all[i].id->HasAlternate(), kGolden[i].alternate != nullptr);
    }
}

TEST(StateIds, NoTwoFormsOfAnyIdsCoincide) {
    std::set<std::array<BYTE, 16>> forms;
    std::size_t count = 0;
    for (const auto& named : KvStateIds::All()) {
        forms.insert(named.id->stored);
        ++count;
        if (named.id->HasAlternate()) {
            forms.insert(named.id->alternate);
            ++count;
        }
    }
    EXPECT_EQ(forms.size(), count) << "accepting both forms would confuse two ids";
}

TEST(StateIds, AnIdMatchesEitherOfItsFormsAndNothingElse) {
    const KvStateId& id = KvStateIds::kChromaBooster;
    EXPECT_TRUE(id.Matches(Hex("B9 99 A3 6F 3F 1E 88 4B AC 63 59 64 73 8F 33 EF").data()));
    EXPECT_TRUE(id.Matches(Hex("6F A3 99 B9 1E 3F 4B 88 AC 63 59 64 73 8F 33 EF").data()));
    EXPECT_FALSE(id.Matches(Hex("B9 99 A3 6F 3F 1E 88 4B AC 63 59 64 73 8F 33 EE").data()));
    const KvStateId& guid = KvStateIds::kBrightness;
    EXPECT_TRUE(guid.Matches(Hex("34 94 58 84 C0 E9 3F 40 AA 15 53 B0 7F 51 A6 97").data()));
    EXPECT_FALSE(guid.Matches(Hex("84 58 94 34 E9 C0 40 3F AA 15 53 B0 7F 51 A6 97").data()))
        << "an id printed as GUID text has one form only";
}

} // namespace
