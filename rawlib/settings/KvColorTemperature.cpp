#include "KvColorTemperature.h"

#include <cmath>
#include <cstdint>

namespace {

// Preset groups that select a coefficient row; which codes form a group of their own depends on the
// camera model (256 only for models 513 and 514).
enum Group { kGroup768 = 0, kGroup1024 = 1, kGroup1280 = 2, kGroupOther = 3, kGroup256 = 4 };

Group GroupOf(LONG preset, bool has256) {
    if ((preset >= 768 && preset <= 772) || preset == 4098)
        return kGroup768;
    if (preset >= 1024 && preset <= 1028)
        return kGroup1024;
    if (preset == 1280)
        return kGroup1280;
    if (has256 && preset == 256)
        return kGroup256;
    return kGroupOther;
}

struct Cubic {
    double r[4];
    double b[4];
};

struct Linear {
    double r0, r1, b0, b1, redFactor, blueFactor;
};

struct Quadratic {
    double r[3];
    double b[3];
};

double Poly3(const double (&c)[4], double x) {
    return c[0] + c[1] * x + c[2] * (x * x) + c[3] * (x * x * x);
}

double Poly2(const double (&c)[3], double x) {
    return c[0] + c[1] * x + c[2] * (x * x);
}

// Models 513 and 514 (x = M): 256, 768-772 and 4098, 1024-1028, 1280, other above 5540 K, other up to
// 5540 K.
constexpr Cubic kCubic513[] = {
    {{9.74030665205471e-05, 0.0108084166183556, -3.80048239840715e-05, 3.51930225041871e-08},
     {-2.16619448270336e-05, -0.00238736024726668, 3.62186634566475e-05, -5.1626066272032e-08}},
    {{2.6630022358347, -0.00905129048810722, -1.35982332674418e-06, 2.54498493570654e-08},
     {-0.75225432494309, 0.0279830994902578, -0.000143436421966402, 2.87808163193451e-07}},
    {{4.44705009823775, -0.0359901419949426, 0.00011227505733758, -1.1942799909405e-07},
     {-1.75107127172934, 0.0421973198501932, -0.000227024396609467, 4.27360270758674e-07}},
    {{5.66104994320033, -0.0422060629722856, 0.000126479812492019, -1.58525632905485e-07},
     {-2.35261218534654, 0.0318751296052188, -9.8017111751071e-05, 1.08887641657417e-07}},
    {{1.35348295024953, 0.00810689239529668, -2.73896201887646e-05, -1.6654658807364e-07},
     {-3.64225238841186, 0.0818702912594608, -0.000507678501814226, 1.07638878307926e-06}},
    {{6.21359029375504, -0.0572350032902117, 0.000194436411056218, -2.16377554966518e-07},
     {-26.8000759303044, 0.408293682847161, -0.00201371183033915, 3.33891947784245e-06}},
};

// Model 1025 (x = M / 100): 768-772 and 4098, 1024-1028, other.
constexpr Cubic kCubic1025[] = {
    {{6.42887718202015, -3.35315498349155, 0.821757177563812, -0.0755281787073185},
     {2.04039773246425, -0.725459884969667, 0.566546081003069, -0.069345020676317}},
    {{6.42182964004414, -3.66018115484944, 0.951165592960162, -0.0902230074578707},
     {1.29624093731383, 0.0236717779081764, 0.111365397957067, 0.00624063582678981}},
    {{4.65665923440204, -1.80499396469174, 0.326504509043412, -0.0222242424006754},
     {1.13880404666781, 0.0747570426739464, 0.109021235861812, 0.00625000907822622}},
};

// Every other model (x = M / 100): 768-772 and 4098, 1024-1028, 1280, other at M of 167 or more, other
// below 167.
constexpr Cubic kCubicOther[] = {
    {{6.31216789812451, -3.30601099095181, 0.77991281033161, -0.0693187098818192},
     {1.50062410619389, -0.469207355608773, 0.409280289195002, -0.0475773757220364}},
    {{3.04595254306983, 0.0231809338842397, -0.353164313953854, 0.060631090916256},
     {1.11942880422269, -0.0390102739107014, -0.0068868059760491, 0.0467967049704977}},
    {{19.6105407712148, -26.4272441883714, 13.6667462981847, -2.39182863551374},
     {-2.66011628504981, 5.81790340702104, -3.00748031159632, 0.526221195558535}},
    {{1.06125953223272, 2.06986908841812, -1.01804699855471, 0.127224257465086},
     {1.2529, -0.617, 0.4128, -0.0481}},
    {{13.6318907783465, -21.8857815559445, 14.7448243261809, -3.41562970203907},
     {-3.33946938717871, 9.99874488862739, -7.66855580909005, 1.96769429366278}},
};

// Linear models, rows by group 768, 1024, 1280, other.
constexpr Linear kLinear260[] = {
    {4.590888, -0.009634, -0.162228, 0.010275, 0.98, 0.96},
    {3.931121, -0.007474, 0.325573, 0.00645, 0.98, 0.96},
    {3.46662, -0.00443, 1.05094, 0.00138, 1.0, 1.0},
    {3.394308, -0.005841, 0.333725, 0.005494, 1.0, 1.0},
};
constexpr Linear kLinear515[] = {
    {3.18, -0.00577, 0.7, 0.00779, 1.0, 1.0},
    {3.41, -0.00662, 0.402, 0.00785, 1.0, 1.0},
    {3.4, -0.00586, -0.06, 0.00795, 1.0, 1.0},
    {2.93, -0.00491, 0.164, 0.00773, 1.0, 1.0},
};
constexpr Linear kLinear516[] = {
    {3.36, -0.00648, 0.58, 0.00786, 1.0, 1.0},
    {3.45, -0.00754, 0.362, 0.00739, 1.0, 1.0},
    {3.39, -0.00561, -0.29, 0.00855, 1.0, 1.0},
    {3.02, -0.00541, -0.0957, 0.00833, 1.0, 1.0},
};

// Model 1026, rows by group 768, 1024, 1280, other.
constexpr Quadratic kQuadratic1026[] = {
    {{5.10369772250254, -0.0193157671903615, 2.41117136908234e-05},
     {0.985304294992319, 0.00112741864804505, 2.20003750059635e-05}},
    {{3.7928745143522, -0.011237098696966, 1.17426924351001e-05},
     {1.08040508900423, -0.00220958127744267, 2.6416062649355e-05}},
    {{3.11770146821195, -0.00328186168494345, -9.2405614550329e-06},
     {0.734342047114455, 0.00632545065572829, -9.12828715910897e-06}},
    {{3.97658540717685, -0.0127584774912734, 1.45889759916133e-05},
     {0.717170813034723, 0.00217390174642583, 1.24495722434085e-05}},
};

void ApplyCubic(const Cubic& c, double x, double* red, double* blue) {
    *red = Poly3(c.r, x);
    *blue = Poly3(c.b, x);
}

void ApplyLinear(const Linear& c, double m, double* red, double* blue) {
    *red = c.redFactor * (c.r0 + c.r1 * m);
    *blue = c.blueFactor * (c.b0 + c.b1 * m);
}

} // namespace

WORD KvDefaultColorTemperature(LONG preset) {
    switch (preset) {
    case 256:
        return 3000;
    case 512:
        return 5200;
    case 513:
        return 8000;
    case 514:
        return 6000;
    case 1280:
        return 5400;
    case 4098:
        return 4200;
    default:
        return 0;
    }
}

void KvColorTemperatureToGains(LONG preset, WORD temperature, double* redGain, double* blueGain,
                               WORD cameraModel) {
    if (!redGain || !blueGain)
        return;
    *redGain = 1.0;
    *blueGain = 1.0;
    if (temperature == 0)
        return;
    const unsigned t = temperature;
    const double m = 1000000.0 / t;

    switch (cameraModel) {
    case 260:
        ApplyLinear(kLinear260[GroupOf(preset, false)], m, redGain, blueGain);
        return;
    case 515:
        ApplyLinear(kLinear515[GroupOf(preset, false)], m, redGain, blueGain);
        return;
    case 516:
        ApplyLinear(kLinear516[GroupOf(preset, false)], m, redGain, blueGain);
        return;
    case 1026: {
        const Quadratic& q = kQuadratic1026[GroupOf(preset, false)];
        *redGain = Poly2(q.r, m);
        *blueGain = Poly2(q.b, m);
        return;
    }
    case 513:
    case 514: {
        const Group g = GroupOf(preset, true);
        int row = 0;
        switch (g) {
        case kGroup256:
            row = 0;
            break;
        case kGroup768:
            row = 1;
            break;
        case kGroup1024:
            row = 2;
            break;
        case kGroup1280:
            row = 3;
            break;
        case kGroupOther:
            row = t > 5540 ? 4 : 5;
            break;
        }
        ApplyCubic(kCubic513[row], m, redGain, blueGain);
        return;
    }
    case 1025: {
        const Group g = GroupOf(preset, false);
        if (g == kGroup1280) {
            // A step table rather than a polynomial: k and s are whole numbers, each truncated toward zero.
            const auto k = static_cast<std::int64_t>(std::trunc((m - 83.0) * -0.7692307692307692));
            const std::int64_t s = (-22 - k) / 10;
            *redGain = 2.63730525421782 - static_cast<double>(s) * 0.0529889981808676;
            *blueGain = 1.35810310290021 + static_cast<double>(s) * 0.020523883849573;
            return;
        }
        ApplyCubic(kCubic1025[g == kGroup768 ? 0 : g == kGroup1024 ? 1 : 2], m * 0.01, redGain, blueGain);
        return;
    }
    default: {
        const Group g = GroupOf(preset, false);
        const int row = g == kGroupOther ? (m >= 167.0 ? 3 : 4) : static_cast<int>(g);
        ApplyCubic(kCubicOther[row], m * 0.01, redGain, blueGain);
        return;
    }
    }
}
