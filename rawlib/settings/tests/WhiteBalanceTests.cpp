#include "RecordConformance.h"

#include "rawlib/settings/CKvWBAdjustment.h"
#include "rawlib/settings/KvColorTemperature.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using kvtest::Hex;
using kvtest::RecordBytes;
using kvtest::RecordDescription;

CKvWBAdjustment Gains(double red, double blue) {
    CKvWBAdjustment wb;
    wb.SetGains(red, blue);
    return wb;
}

struct WBAdjustmentRecord {
    using Record = CKvWBAdjustment;
    static RecordDescription<CKvWBAdjustment> Describe() {
        RecordDescription<CKvWBAdjustment> s;
        s.policy = KvVersionPolicy::kZeroRejects;
        s.version = 4;
        s.sample = [] {
            CKvWBAdjustment wb = Gains(1.5, 2.25);
            wb.SetMode(3);
            wb.SetPreset(4098);
            wb.SetTemperature(4200);
            wb.SetSecondValue(7);
            wb.SetFlag(1);
            return wb;
        };
        s.fields = {
            {"red gain", 22, 8,
             [](auto& to, const auto& from) { to.SetGains(from.GetRedGain(), to.GetBlueGain()); }},
            {"blue gain", 30, 8,
             [](auto& to, const auto& from) { to.SetGains(to.GetRedGain(), from.GetBlueGain()); }},
            {"mode", 38, 4, [](auto& to, const auto& from) { to.SetMode(from.GetMode()); }},
            {"preset", 42, 4, [](auto& to, const auto& from) { to.SetPreset(from.GetPreset()); }},
            {"temperature", 46, 2,
             [](auto& to, const auto& from) { to.SetTemperature(from.GetTemperature()); }},
            {"second value", 48, 2,
             [](auto& to, const auto& from) { to.SetSecondValue(from.GetSecondValue()); }},
            {"flag", 50, 1, [](auto& to, const auto& from) { to.SetFlag(from.GetFlag()); }},
        };
        s.defaultRecord = Hex("20 6C 3C BF CA 04 D4 11 A9 0A 00 AA 00 B1 C1 B7  04 00  21 00 00 00"
                              "00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00  01 00 00 00  00 00 00 00"
                              "00 00  00 00  00");
        const KvStateId& id = KvStateIds::kWBAdjustment;
        s.cases = {
            {"version 1 carries the two gains only", RecordBytes(id, 1).Length().F64(1.25).F64(0.75), 38,
             [] { return Gains(1.25, 0.75); }},
            {"version 1 ignores bytes of later fields",
             RecordBytes(id, 1).Length().F64(1.25).F64(0.75).I32(3).I32(256).U16(3000), 38,
             [] { return Gains(1.25, 0.75); }},
            {"version 2 adds mode, preset and temperature",
             RecordBytes(id, 2).Length().F64(1.0).F64(2.0).I32(3).I32(1280).U16(5400), 48,
             [] {
                 CKvWBAdjustment wb = Gains(1.0, 2.0);
                 wb.SetMode(3);
                 wb.SetPreset(1280);
                 wb.SetTemperature(5400);
                 return wb;
             }},
            {"version 3 adds the second value",
             RecordBytes(id, 3).Length().F64(1.0).F64(2.0).I32(2).I32(0).U16(0).U16(65535), 50,
             [] {
                 CKvWBAdjustment wb = Gains(1.0, 2.0);
                 wb.SetMode(2);
                 wb.SetSecondValue(65535);
                 return wb;
             }},
            {"version 4 adds the flag",
             RecordBytes(id, 4).Length().F64(1.0).F64(2.0).I32(2).I32(0).U16(0).U16(0).U8(9), 51,
             [] {
                 CKvWBAdjustment wb = Gains(1.0, 2.0);
                 wb.SetMode(2);
                 wb.SetFlag(9);
                 return wb;
             }},
        };
        s.randomize = [](CKvWBAdjustment& wb, std::mt19937& random) {
            std::uniform_real_distribution<double> gain(0.0, 8.0);
            wb.SetGains(gain(random), gain(random));
            wb.SetMode(static_cast<LONG>(random() % 5));
            wb.SetPreset(static_cast<LONG>(random()));
            wb.SetTemperature(static_cast<WORD>(random()));
            wb.SetSecondValue(static_cast<WORD>(random()));
            wb.SetFlag(static_cast<BYTE>(random()));
        };
        return s;
    }
};

} // namespace

namespace kvtest {
INSTANTIATE_TYPED_TEST_SUITE_P(WBAdjustment, RecordConformance, WBAdjustmentRecord);
} // namespace kvtest

namespace {

TEST(WBAdjustment, ResetAndTheMode2Test) {
    CKvWBAdjustment wb = WBAdjustmentRecord::Describe().sample();
    EXPECT_FALSE(wb.IsMode2());
    wb.SetMode(2);
    EXPECT_TRUE(wb.IsMode2());
    wb.Reset();
    EXPECT_TRUE(wb == CKvWBAdjustment());
    EXPECT_EQ(wb.GetMode(), 1);
    EXPECT_EQ(wb.GetRedGain(), 0.0);
}

TEST(ColorTemperature, PresetsHaveTheirNominalTemperatures) {
    EXPECT_EQ(KvDefaultColorTemperature(256), 3000);
    EXPECT_EQ(KvDefaultColorTemperature(512), 5200);
    EXPECT_EQ(KvDefaultColorTemperature(513), 8000);
    EXPECT_EQ(KvDefaultColorTemperature(514), 6000);
    EXPECT_EQ(KvDefaultColorTemperature(1280), 5400);
    EXPECT_EQ(KvDefaultColorTemperature(4098), 4200);
    for (LONG other : {0, 1, 255, 257, 768, 1024, 4097, -1})
        EXPECT_EQ(KvDefaultColorTemperature(other), 0) << other;
}

struct GainCase {
    WORD model;
    LONG preset;
    WORD kelvin;
    double red;
    double blue;
};

// Worked out by hand from the fitted polynomials in exact arithmetic (M = 1e6 / T), one or more cases
// per camera-model group and preset group, with the row boundaries at 5540 K (models 513 and 514) and
// at 167 mired (models without formulas of their own), and the whole-number steps of model 1025's
// preset 1280 on both sides of 83 mired.
const GainCase kGainCases[] = {
    {259, 4098, 4200, 1.9263609071618402, 2.0614729374550507},
    {259, 1026, 3000, 1.4447703497246958, 2.6460857866567582},
    {259, 1280, 5400, 2.349642789307175, 1.1419112309783455},
    {259, 0, 6000, 2.3003330632050649, 1.1332573170555975},
    {259, 0, 5988, 2.2712501308263477, 1.1497463499329843},
    {259, 256, 3000, 1.3611993787624903, 2.0014185185185185},
    {257, 770, 3000, 1.390469528939358, 2.7220333295892467},
    {260, 4098, 4200, 2.2511369066666669, 2.1928325485714284},
    {260, 1024, 3000, 1.4109919133333333, 2.3765500799999999},
    {260, 1280, 5400, 2.6462496296296298, 1.3064955555555555},
    {260, 256, 6000, 2.4208080000000001, 1.2493916666666667},
    {515, 772, 3000, 1.2566666666666666, 3.2966666666666669},
    {515, 1028, 4200, 1.8338095238095238, 2.2710476190476192},
    {515, 1280, 5400, 2.3148148148148149, 1.4122222222222223},
    {515, 513, 8000, 2.3162500000000001, 1.13025},
    {516, 768, 3000, 1.2, 3.2000000000000002},
    {516, 1024, 4200, 1.6547619047619047, 2.1215238095238096},
    {516, 1280, 5400, 2.3511111111111109, 1.2933333333333332},
    {516, 514, 6000, 2.1183333333333332, 1.2926333333333333},
    {513, 256, 3000, 0.68358999999885384, 1.3164110000000018},
    {513, 4098, 4200, 0.77435396856508121, 1.6637518561214575},
    {513, 1025, 3000, 0.50208324506021662, 2.9179272313081341},
    {513, 1280, 5400, 1.1758124176679512, 0.88034275984609967},
    {513, 513, 5540, 0.94495563271999949, 0.92504166461018322},
    {513, 513, 5541, 0.94549040475105439, 0.92489669638228944},
    {514, 256, 8000, 0.82606047768834379, 0.16664276296939265},
    {514, 0, 5540, 0.94495563271999949, 0.92504166461018322},
    {514, 0, 8000, 1.61359537938084, 0.7613792701251384},
    {1025, 769, 3000, 1.5849892578566538, 3.3488204723654968},
    {1025, 1027, 4200, 1.8814261451455887, 2.0681581788611827},
    {1025, 256, 6000, 2.4524029183666021, 1.5951711112878755},
    {1025, 0, 8000, 2.8671733504788772, 1.4148030800252349},
    {1025, 1280, 5400, 2.3723602633134822, 1.4607225221480751},
    {1025, 1280, 2000, 1.1006243069726596, 1.953295734537827},
    {1025, 1280, 20000, 2.8492612469412903, 1.276007567501918},
    {1025, 1280, 12048, 2.7432832505795552, 1.3170553352010641},
    {1026, 4098, 4200, 1.8715827276785661, 2.5009240981529035},
    {1026, 1026, 3000, 1.3519185525968778, 3.2789960686738957},
    {1026, 1280, 5400, 2.193057622062172, 1.5926804004005934},
    {1026, 0, 6000, 2.2554218250649862, 1.4253092219781529},
    {259, 0, 1, 127122473464.98267, -48058726168.747101},
    {513, 0, 1, -216183175784.2515, 3336906174278.9937},
    {1025, 1280, 1, -4072.9585008290328, 1579.9321055089579},
    {260, 4098, 65535, 4.355004931386282, -0.0052238880109864959},
};

TEST(ColorTemperature, GainsMatchTheFittedPolynomialsForEveryModelGroup) {
    for (const GainCase& c : kGainCases) {
        double red = 0.0, blue = 0.0;
        KvColorTemperatureToGains(c.preset, c.kelvin, &red, &blue, c.model);
        const double scale = std::fmax(1.0, std::fmax(std::fabs(c.red), std::fabs(c.blue)));
        EXPECT_NEAR(red, c.red, 1e-12 * scale)
            << "model " << c.model << " preset " << c.preset << " at " << c.kelvin;
        EXPECT_NEAR(blue, c.blue, 1e-12 * scale)
            << "model " << c.model << " preset " << c.preset << " at " << c.kelvin;
    }
}

TEST(ColorTemperature, ATemperatureOfZeroGivesNeutralGainsOnEveryModel) {
    for (WORD model : {0, 257, 259, 260, 513, 514, 515, 516, 1025, 1026})
        for (LONG preset : {0, 256, 770, 1025, 1280, 4098}) {
            double red = 7.0, blue = 7.0;
            KvColorTemperatureToGains(preset, 0, &red, &blue, model);
            EXPECT_EQ(red, 1.0) << model << " " << preset;
            EXPECT_EQ(blue, 1.0) << model << " " << preset;
        }
}

TEST(ColorTemperature, GainsAreFiniteAtEveryTemperature) {
    for (WORD model : {259, 260, 513, 515, 516, 1025, 1026})
        for (LONG preset : {0, 1280}) {
            for (unsigned kelvin = 0; kelvin <= 65535; ++kelvin) {
                double red = 0.0, blue = 0.0;
                KvColorTemperatureToGains(preset, static_cast<WORD>(kelvin), &red, &blue, model);
                if (!std::isfinite(red) || !std::isfinite(blue))
                    FAIL() << "model " << model << " preset " << preset << " at " << kelvin;
            }
        }
}

TEST(ColorTemperature, AMissingOutputLeavesBothGainsUntouched) {
    double red = 7.0, blue = 7.0;
    KvColorTemperatureToGains(4098, 4200, &red, nullptr, 260);
    KvColorTemperatureToGains(4098, 4200, nullptr, &blue, 260);
    EXPECT_EQ(red, 7.0);
    EXPECT_EQ(blue, 7.0);
}

} // namespace
