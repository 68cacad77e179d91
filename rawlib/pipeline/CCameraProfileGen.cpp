#include "CCameraProfileGen.h"

#include "CCameraProfileTables.h"
#include "rawlib/foundation/KvProfileFolder.h"
#include "platform/pravon/IPravonError.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

using namespace KvCameraTables;

namespace {

constexpr DWORD kHeaderSize = 128;
constexpr DWORD kTagTableEnd = 192; // the count and five entries, then the description's data
constexpr DWORD kTagCount = 5;
constexpr int kGridSize = 32;
constexpr LONG kToneCustom = 16;
constexpr LONG kTableVersion = 308;
constexpr int kDescriptionTimes2Extra = 25; // 2 n + 25 bytes for a description of n characters
constexpr int kNoticeExtra = 9;
constexpr double kGainFactorOwn = 85.03401360544218;
constexpr double kGainFactorShared = 100.0;
constexpr double kGridStep = 132.09677419354838; // 4095 / 31
constexpr double kWhiteX = 0.9642, kWhiteZ = 0.8249;
constexpr double kLabEncoding = 65280.0;

const double kFixedA[9] = {0.919348232, 0.088581407, -0.016898367, 0.01509928, 0.971194576,
                           0.011822937, 0.012188438, -0.017390235, 0.980156867};
const double kFixedB13[9] = {0.972344257,  0.002357555,  0.025298188, 0.040848954, 0.977100799,
                             -0.017949754, -0.028960182, 0.185618012, 0.84334217};
const double kFixedB4[9] = {0.9049872,  0.0600704,  0.0349424, 0.048347, 0.9628944,
                            -0.0112414, -0.0097457, 0.126058,  0.8836877};
const double kFixedB6[9] = {0.939604906,  0.090177306,  -0.030347516, 0.009786263, 1.07888651,
                            -0.083185864, -0.052034769, 0.253005123,  0.806622308};
const double kFixedC13[9] = {0.948210469, 0.0362419,   0.020374316,  0.011376031, 0.906475988,
                             0.079111097, 0.029694645, -0.128660956, 1.09365835};
const double kFixedC4[9] = {1.03750631, -0.057698102, 0.027452895,  0.022633723, 0.921217865,
                            0.04720629, 0.016296202,  -0.045716757, 1.01363407};
const double kFixedC5[9] = {1.06371503,  -0.092679036, 0.030250504, -0.00551151, 0.908860025,
                            0.090829255, 0.070456595,  -0.28451614, 1.20387204};

const double kSrgbToXyz[9] = {0.436071339, 0.385066415, 0.143057225, 0.222502613, 0.716880769,
                              0.06061491,  0.013922978, 0.097068147, 0.713984047};
const double kAdobeToXyz[9] = {0.609775615, 0.205241544, 0.149182841, 0.311134109, 0.62565549,
                               0.063210401, 0.019469045, 0.060874584, 0.744556371};

DWORD Round4(DWORD n) {
    return (n + 3) & ~3u;
}

double DecodeSrgb(double v) {
    return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

DWORD ReadBig32(const BYTE* p) {
    return DWORD(p[0]) << 24 | DWORD(p[1]) << 16 | DWORD(p[2]) << 8 | p[3];
}
WORD ReadBig16(const BYTE* p) {
    return WORD(p[0] << 8 | p[1]);
}
void WriteBig32(BYTE* p, DWORD v) {
    p[0] = BYTE(v >> 24);
    p[1] = BYTE(v >> 16);
    p[2] = BYTE(v >> 8);
    p[3] = BYTE(v);
}
void WriteBig16(BYTE* p, WORD v) {
    p[0] = BYTE(v >> 8);
    p[1] = BYTE(v);
}

// a x b, both 3 x 3 row-major.
void Multiply(const double* a, const double* b, double* out) {
    double r[9];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            r[3 * i + j] = a[3 * i] * b[j] + a[3 * i + 1] * b[3 + j] + a[3 * i + 2] * b[6 + j];
    std::copy(r, r + 9, out);
}

void Apply(const double* m, const double* v, double* out) {
    for (int i = 0; i < 3; ++i)
        out[i] = m[3 * i] * v[0] + m[3 * i + 1] * v[1] + m[3 * i + 2] * v[2];
}

// Temperature index and its inverse on the mired scale, saturating where the quotient leaves int.
LONG TemperatureIndex(DWORD temperature) {
    if (temperature == 0)
        return std::numeric_limits<LONG>::max();
    return static_cast<LONG>((1000000.0 / temperature - 83.0) * 0.7692307692307692);
}
DWORD IndexTemperature(LONG index) {
    const double denominator = 1.3 * index + 83.0;
    if (denominator <= 0)
        return 0;
    return static_cast<DWORD>(std::min(1000000.0 / denominator, 4294967295.0));
}

int GainRow(double gain, double factor) {
    if (!std::isfinite(gain))
        gain = 1.0;
    const double row = std::trunc((gain - 1.0) * factor);
    return static_cast<int>(std::clamp(row, 0.0, 255.0));
}

} // namespace

double CCameraProfileGen::ToneCurve(const double* p, double x) {
    if (x < p[0])
        return ((p[2] * x + p[3]) * x + p[4]) * x + p[5];
    if (x < p[1])
        return p[8] + p[6] * std::pow(x, p[7]);
    return p[12] + p[9] * std::pow(x - p[10], p[11]);
}

void CCameraProfileGen::Release() {
    m_base = {};
    m_tone = {};
    m_L = {};
    m_a = {};
    m_b = {};
    m_built = false;
}

void CCameraProfileGen::Initialize(const CameraProfileParams& params) {
    Release();
    m_params = params;
    m_validated = m_fixedProfile = m_secondSet = m_alternateIndex = false;
    m_selectionCase = 0;
    m_selectedRow = kNoRow;
    std::fill(m_m1, m_m1 + 9, 0.0);
    std::fill(m_m2, m_m2 + 9, 0.0);
    m_hueRow = nullptr;
    m_description.clear();
    m_notice.clear();
    m_profileSize = 0;
    if (!Validate() || !SelectRow())
        return;
    FormTexts();
    m_validated = true;
    m_profileSize = m_fixedProfile ? kFixedProfileSize
                                   : kTagTableEnd + kTailSize +
                                         Round4(DWORD(2 * m_description.size() + kDescriptionTimes2Extra)) +
                                         Round4(DWORD(m_notice.size() + kNoticeExtra));
}

bool CCameraProfileGen::Validate() {
    const CameraProfileParams& p = m_params;
    if (p.camera < 0 || p.camera > 6 || p.colorMode < 0 || p.colorMode > 6)
        return false;
    if (!((p.toneMode >= 0 && p.toneMode <= 6) || p.toneMode == kToneCustom))
        return false;
    m_namingStyle = (p.camera >= 1 && p.camera <= 4) ? 0 : 1;
    if (p.tableIndex >= 300 && p.tableIndex <= 499) {
        m_alternateIndex = true;
        m_params.tableIndex -= 300;
    }
    if (p.toneMode == kToneCustom) {
        const auto bitsOk = [](LONG bits) { return bits == 12 || bits == 16; };
        if (!p.customCurve || !bitsOk(p.curveInputBits) || !bitsOk(p.curveOutputBits))
            return false;
    }
    return true;
}

bool CCameraProfileGen::Plain() const {
    return m_params.colorModeFromState == 0 && m_params.whiteBalanceKind != 4 &&
           m_params.whiteBalanceKind != 5 && m_params.toneSource != 1;
}

DWORD CCameraProfileGen::SelectCase() const {
    const LONG cm = m_params.colorMode, w = m_params.whiteBalanceKind, camera = m_params.camera;
    using Row = DWORD[5];
    const auto byW = [w](const Row& cases) -> DWORD { return w >= 1 && w <= 5 ? cases[w - 1] : 0; };
    static const Row kMaOther = {12, 3, 12, 5, 12}, kMahOther = {11, 3, 12, 5, 12},
                     kMa4 = {13, 13, 14, 15, 14};
    static const Row kC = {212, 203, 206, 205, 204}, kCPlain = {202, 203, 206, 205, 204};
    static const Row kMdOther = {2, 3, 4, 5, 4}, kMd4 = {6, 7, 8, 9, 8}, kB = {102, 103, 106, 105, 104};
    const bool cm023 = cm == 0 || cm == 2 || cm == 3, cm56 = cm == 5 || cm == 6;
    switch (camera) {
    case 1:
    case 2:
    case 3:
        if (cm == 1 || (camera == 1 && m_params.colorModeFromState == 0))
            return 10;
        if (cm023)
            return byW(camera == 1 ? kMaOther : kMahOther);
        if (cm == 4)
            return byW(kMa4);
        return byW(kC);
    case 4:
        if (Plain())
            return 1;
        if (cm023)
            return byW(kMdOther);
        if (cm == 4)
            return byW(kMd4);
        return cm56 ? byW(kCPlain) : 0;
    case 5:
        if (Plain())
            return 101;
        return byW(cm56 ? kCPlain : kB);
    case 6:
        if (cm == 2 || cm == 4)
            return byW(kB);
        return Plain() ? 201 : byW(kCPlain);
    default:
        return 0;
    }
}

int CCameraProfileGen::RuleTone(bool setA) const {
    if (m_params.toneMode != kToneCustom)
        return m_params.toneMode;
    return (setA || m_params.camera <= 4) ? 2 : 3;
}

// The entry (group + r) x 7 + tone of the set's row table, raised by 500 for set B and 700 for set C.
LONG CCameraProfileGen::RowFromTable(Set set, int r, bool setA) const {
    const LONG cm = m_params.colorMode;
    int group = 0;
    if (set == Set::C)
        group = cm == 5 ? 8 : cm == 6 ? 16 : 0;
    else
        group = cm == 3 ? 8 : cm == 4 ? 16 : 0;
    const int t = RuleTone(setA);
    switch (set) {
    case Set::A:
        return kRowTableA[group + r][t];
    case Set::B:
        return 500 + kRowTableB[group + r][t];
    default:
        return 700 + kRowTableC[group + r][t];
    }
}

namespace {

// The selection row of the rules shared by every colour mode other than 4.
int CommonRow(DWORD temperature, LONG subMode) {
    switch (subMode) {
    case 0:
        return temperature <= 3499 ? 0 : temperature <= 6649 ? 1 : 2;
    case 2:
        return temperature <= 3499 ? 3 : 4;
    case 1:
        return temperature <= 3499 ? 5 : 6;
    default:
        return 7;
    }
}

} // namespace

CCameraProfileGen::Selection CCameraProfileGen::RuleA(DWORD temperature, LONG subMode) {
    int r = 0;
    if (m_params.colorMode == 4) {
        if (subMode == 0 || subMode == 4) {
            const DWORD limits[5] = {3699, 4249, 4749, 5499, 6649};
            r = int(std::find_if(limits, limits + 5, [temperature](DWORD l) { return temperature <= l; }) -
                    limits);
        } else {
            r = subMode == 3 ? 6 : 7;
            m_secondSet = true;
        }
    } else if (m_params.whiteBalanceFlag == 1 && m_selectionCase == 2) {
        r = 7;
    } else {
        r = CommonRow(temperature, subMode);
    }
    return {Set::A, RowFromTable(Set::A, r, true)};
}

CCameraProfileGen::Selection CCameraProfileGen::RuleBC(Set set, DWORD temperature, LONG subMode) const {
    int r = 0;
    if (set == Set::B && m_params.whiteBalanceFlag == 1 && m_selectionCase == 102)
        r = 7;
    else
        r = CommonRow(temperature, subMode);
    return {set, RowFromTable(set, r, false)};
}

CCameraProfileGen::Selection CCameraProfileGen::RuleS(Set set) {
    const bool setA = set == Set::A;
    if (m_params.whiteBalanceFlag == 1)
        return {set, RowFromTable(set, 7, setA)};
    const DWORD temperature = m_params.colorTemperature;
    int r = 0;
    if (!setA && (m_params.camera == 5 || m_params.camera == 6) && m_params.rawWhiteBalance[0] == 8) {
        r = m_params.rawWhiteBalance[1] < 3500 ? 0 : 1;
        return {set, RowFromTable(set, r, setA)};
    }
    switch (m_params.whiteBalanceTagValue) {
    case 2:
        if (m_params.subMode == 2)
            r = temperature < 3500 ? 3 : 4;
        else
            r = temperature < 3500 ? 5 : 6;
        break;
    case 3:
    case 6:
        r = 1;
        break;
    case 4:
        r = 7;
        break;
    case 5:
        r = 2;
        break;
    default:
        r = 0;
    }
    return {set, RowFromTable(set, r, setA)};
}

CCameraProfileGen::Selection CCameraProfileGen::RuleFA() {
    if (m_params.colorMode == 4) {
        m_secondSet = true;
        return {Set::A, RowFromTable(Set::A, 6, true)};
    }
    return {Set::A, RowFromTable(Set::A, 7, true)};
}

bool CCameraProfileGen::RuleI(White* white) const {
    const CameraProfileParams& p = m_params;
    LONG index = p.tableIndex;
    if ((p.camera == 5 || p.camera == 6) && p.rawWhiteBalance[0] == 8) {
        *white = {DWORD(std::max<LONG>(p.rawWhiteBalance[1], 0)), 0};
        return true;
    }
    struct Range {
        LONG first, last;
        DWORD temperature;
        LONG subMode;
    };
    const auto lookup = [&](const Range* ranges, std::size_t count, LONG at) {
        for (std::size_t i = 0; i < count; ++i) {
            if (at >= ranges[i].first && at <= ranges[i].last) {
                *white = {ranges[i].temperature, ranges[i].subMode};
                return true;
            }
        }
        return false;
    };
    if (p.camera == 5 || p.camera == 6) {
        const LONG base = p.camera == 5 ? 500 : 700;
        if (index < base)
            index += base;
        static const Range kClasses[6] = {{0, 6, 3300, 0},   {7, 13, 5000, 0},  {14, 20, 7000, 0},
                                          {21, 27, 5000, 2}, {28, 34, 5000, 1}, {35, 41, 5000, 3}};
        const LONG at = index - base;
        if (at < 0 || at > 125)
            return false;
        return lookup(kClasses, 6, at % 42);
    }
    if (index >= 500) {
        *white = {0, 0};
        return true;
    }
    static const Range kAlternate[8] = {{0, 5, 3300, 0},     {6, 11, 4000, 0},   {36, 41, 4500, 0},
                                        {66, 71, 5000, 0},   {84, 90, 5000, 3},  {91, 97, 5000, 1},
                                        {120, 125, 6000, 0}, {150, 155, 7000, 0}};
    static const Range kPlain[6] = {{0, 6, 3300, 0},   {7, 13, 5000, 0},  {14, 20, 7000, 0},
                                    {21, 27, 5000, 2}, {28, 34, 5000, 1}, {35, 41, 5000, 3}};
    if (m_alternateIndex)
        return lookup(kAlternate, 8, index);
    return index >= 0 && index <= 83 && lookup(kPlain, 6, index % 42);
}

int CCameraProfileGen::GainTable() const {
    switch (m_params.camera) {
    case 4:
        return kGainCamera4;
    case 5:
        return kGainCamera5;
    case 6:
        return kGainCamera6;
    default:
        return kGainOthers;
    }
}

CCameraProfileGen::Estimate CCameraProfileGen::RuleE() const {
    const int table = GainTable();
    const double factor = table == kGainOthers ? kGainFactorShared : kGainFactorOwn;
    const BYTE* red = kGainToIndex[table][GainRow(m_params.redGain, factor)];
    const BYTE* blue = kGainToIndex[table][GainRow(m_params.blueGain, factor)];
    const auto usable = [](BYTE b) { return b != 0 && b != 255; };
    LONG difference[3];
    bool any = false;
    for (int pair = 0; pair < 3; ++pair) {
        const bool ok = usable(red[2 * pair]) && usable(blue[2 * pair + 1]);
        any = any || ok;
        const LONG h = ok ? red[2 * pair] : 10000;
        difference[pair] = std::abs(h - LONG(blue[2 * pair + 1]));
    }
    if (!any)
        return {90, 0};
    int pair = 0;
    LONG subMode = 0;
    if (difference[2] < difference[0] && difference[2] < difference[1]) {
        pair = 2;
        subMode = 1;
    } else if (difference[1] < difference[0] && difference[1] < difference[2]) {
        pair = 1;
        subMode = 2;
    }
    return {(LONG(red[2 * pair]) + LONG(blue[2 * pair + 1])) >> 1, subMode};
}

LONG CCameraProfileGen::RuleG(LONG subMode) const {
    const int table = GainTable();
    const double factor = table == kGainOthers ? kGainFactorShared : kGainFactorOwn;
    const int pair = subMode == 0 ? 0 : subMode == 2 ? 1 : 2;
    LONG h = kGainToIndex[table][GainRow(m_params.redGain, factor)][2 * pair];
    LONG l = kGainToIndex[table][GainRow(m_params.blueGain, factor)][2 * pair + 1];
    if (h == 255)
        h = 0;
    if (l == 255)
        l = 0;
    if (h == 0)
        return l == 0 ? 84 : l;
    if (l == 0)
        return h;
    return (h + l) >> 1;
}

LONG CCameraProfileGen::RuleL(LONG value) const {
    int set = 0;
    switch (m_params.subMode) {
    case 0:
        set = 0;
        break;
    case 2:
        set = 1;
        break;
    case 3:
        set = 2;
        break;
    case 4:
        set = 3;
        break;
    default:
        return value;
    }
    int k = 0;
    for (int j = 0; j <= 52; ++j)
        if (-2.0 + 0.3 * j <= m_params.brightnessValue)
            ++k;
    value = std::max<LONG>(value, kBrightnessLimits[set][0][k]);
    return std::min<LONG>(value, kBrightnessLimits[set][1][k]);
}

LONG CCameraProfileGen::RuleX(LONG value) const {
    const double bv = m_params.brightnessValue;
    const int b = !(bv >= 2) ? 0 : bv < 4 ? 1 : bv < 7 ? 2 : bv < 9 ? 3 : 4;
    const int isoRatio = m_params.sensitivity / 200;
    const int s = isoRatio < 2 ? 0 : std::min(4, int(std::log2(double(isoRatio))));
    const BYTE* e = m_params.recordBytes;
    const int index = std::min(e[0] >> 1, 7) + 8 * (std::min(e[1] >> 2, 3) + 4 * std::min<int>(e[2], 3) +
                                                    16 * std::min<int>(e[3], 5) + 96 * b + 480 * s);
    const WORD word = kExposureTable[index];
    int o = (word >> 6) & 7;
    if (m_params.toneSource == 0 || m_params.toneSource == 1) {
        if (m_params.toneMode == 0)
            o = 5;
        else if (m_params.toneMode == 2 || m_params.toneMode == kToneCustom)
            o = 3;
        else if (m_params.toneMode == 6)
            o = 0;
    }
    static const LONG kClassLimits[7] = {25, 37, 53, 75, 97, 116, 143};
    const int c = int(std::find_if(kClassLimits, kClassLimits + 7, [value](LONG l) { return value <= l; }) -
                      kClassLimits);
    return kExposureRows[(word >> 13) + 32 * o + 192 * c + 8 * ((word >> 9) & 7)];
}

bool CCameraProfileGen::SelectRow() {
    m_selectionCase = SelectCase();
    if (m_selectionCase == 0)
        return false;
    const CameraProfileParams& p = m_params;
    const bool flag = p.whiteBalanceFlag == 1;
    const DWORD T = p.colorTemperature;
    const LONG m = p.subMode;
    const auto oneFor2 = [](LONG subMode) { return subMode == 2 ? 1 : subMode; };
    Selection selection;
    White white{};
    switch (m_selectionCase) {
    case 1: {
        const LONG index = p.tableIndex;
        if (p.colorMode == 4) {
            const LONG d = index >= 84 && index <= 90 ? 4 : index >= 91 && index <= 97 ? 2 : 0;
            if (!flag && d != 0 &&
                (d == m + 1 || (p.whiteBalanceKind == 2 && LONG(p.whiteBalanceTagValue) == d)))
                m_secondSet = true;
            if (flag && index >= 84 && index <= 90)
                m_secondSet = true;
        }
        selection = {Set::A, index};
        break;
    }
    case 2:
        if (!RuleI(&white))
            return false;
        selection = RuleA(white.temperature, white.subMode);
        break;
    case 3:
        selection = RuleS(Set::A);
        break;
    case 4:
    case 12:
    case 14:
        if (flag) {
            selection = RuleFA();
        } else {
            const Estimate e = RuleE();
            selection =
                RuleA(IndexTemperature(e.index), m_selectionCase == 14 ? oneFor2(e.subMode) : e.subMode);
        }
        break;
    case 5:
        selection = RuleA(T, m);
        break;
    case 6:
        if (flag)
            selection = RuleFA();
        else if (m == 0 || m == 2 || m == 4)
            selection = {Set::A, RuleX(RuleL(p.recordByte))};
        else
            selection = RuleA(T, m);
        break;
    case 7:
        if (flag) {
            selection = RuleFA();
        } else {
            static const int kRowOfValue[7] = {0, 3, 4, 2, 5, 0, 1};
            const int row = p.whiteBalanceTagValue <= 6 ? kRowOfValue[p.whiteBalanceTagValue] : 0;
            const int column = int(std::clamp<LONG>(p.fineTune + 3, 0, 5));
            const LONG subMode = kSettingSubModes[row][column];
            selection =
                subMode != 0 ? RuleA(T, subMode) : Selection{Set::A, RuleX(kSettingTable[row][column])};
        }
        break;
    case 8:
        if (flag) {
            selection = RuleFA();
        } else {
            const Estimate e = RuleE();
            selection = e.subMode != 0 ? RuleA(T, e.subMode) : Selection{Set::A, RuleX(e.index)};
        }
        break;
    case 9:
        selection = m != 0 ? RuleA(T, m) : Selection{Set::A, RuleX(TemperatureIndex(T))};
        break;
    case 10:
        m_fixedProfile = true;
        selection = {Set::A, 1};
        break;
    case 11:
    case 13:
        if (flag || m == 3)
            selection = RuleFA();
        else
            selection = RuleA(IndexTemperature(RuleG(m)), m_selectionCase == 13 ? oneFor2(m) : m);
        break;
    case 15:
        selection = RuleA(T, oneFor2(m));
        break;
    case 101:
        selection = {Set::B, p.camera == 5 && p.tableIndex < 500 ? p.tableIndex + 500 : p.tableIndex};
        break;
    case 201: {
        const bool setC = p.colorMode == 5 || p.colorMode == 6 || (p.camera == 6 && p.colorMode == 3);
        LONG index = p.tableIndex;
        if (setC && p.camera == 6 && index < 700)
            index += 700;
        if (!setC && p.camera == 5 && index < 500)
            index += 500;
        selection = {setC ? Set::C : Set::B, index};
        break;
    }
    case 212:
        if (flag || m == 3)
            selection = RuleBC(Set::C, 5000, 3);
        else
            selection = RuleBC(Set::C, IndexTemperature(RuleG(m)), m);
        break;
    default: {
        // 102 to 106 and 202 to 206.
        const Set set = m_selectionCase >= 200 ? Set::C : Set::B;
        switch (m_selectionCase % 100) {
        case 2:
            if (!RuleI(&white))
                return false;
            selection = RuleBC(set, white.temperature, white.subMode);
            break;
        case 3:
            selection = RuleS(set);
            break;
        case 4:
            if (flag) {
                selection = RuleBC(set, 5000, 3);
            } else {
                const Estimate e = RuleE();
                selection = RuleBC(set, IndexTemperature(e.index), e.subMode);
            }
            break;
        case 5:
            selection = RuleBC(set, T, m);
            break;
        case 6:
            selection = RuleBC(set, 5000, 0);
            break;
        default:
            return false;
        }
    }
    }
    if (selection.row < 0 || selection.row >= kNoRow)
        return false;
    return LoadMatrices(selection);
}

bool CCameraProfileGen::LoadMatrices(Selection selection) {
    const LONG camera = m_params.camera;
    const bool ma = camera >= 1 && camera <= 3;
    LONG row = selection.row;
    const double* fixed = nullptr;
    if (selection.set == Set::A) {
        // A row beyond its group would give no matrices: the record is refused instead.
        const bool firstGroup = m_params.colorMode == 4 && !m_secondSet;
        if (row > (firstGroup ? kSetAFirstGroup - 1 : kSetASecondGroup - 1))
            return false;
        const double* values = kMatrixSetA[firstGroup ? row : kSetAFirstGroup + row];
        std::copy(values, values + 9, m_m1);
        std::copy(values + 9, values + 18, m_m2);
        if (ma)
            Multiply(m_m1, kFixedA, m_m1);
        m_selectedRow = WORD(row);
        return true;
    }
    m_selectedRow = WORD(row);
    const bool setB = selection.set == Set::B;
    if (setB) {
        if (camera == 5 && row < 500)
            row += 500;
        if (row >= 500)
            row -= 500;
        fixed = ma ? kFixedB13 : camera == 4 ? kFixedB4 : camera == 6 ? kFixedB6 : nullptr;
    } else {
        if (camera == 6 && row < 700)
            row += 700;
        if (row >= 700)
            row -= 700;
        else if (row >= 500)
            row -= 500;
        fixed = ma ? kFixedC13 : camera == 4 ? kFixedC4 : camera == 5 ? kFixedC5 : nullptr;
    }
    const auto& matrices = setB ? kMatrixSetB : kMatrixSetC;
    const auto& hues = setB ? kHueTableB : kHueTableC;
    if (row > kSetBCRows - 1) {
        std::fill(m_m1, m_m1 + 9, 0.0);
        std::fill(m_m2, m_m2 + 9, 0.0);
        m_hueRow = hues[0];
        return true;
    }
    std::copy(matrices[row], matrices[row] + 9, m_m1);
    std::copy(matrices[row] + 9, matrices[row] + 18, m_m2);
    m_hueRow = hues[row];
    if (fixed)
        Multiply(m_m1, fixed, m_m1);
    return true;
}

namespace {

long ModeNumber(LONG colorMode) {
    switch (colorMode) {
    case 1:
        return 0;
    case 0:
    case 2:
        return 1;
    case 3:
        return 2;
    case 4:
        return 3;
    case 5:
        return 4;
    case 6:
        return 5;
    default:
        return colorMode;
    }
}

} // namespace

void CCameraProfileGen::FormTexts() {
    const long mode = ModeNumber(m_params.colorMode);
    char text[96];
    const char* model = nullptr;
    switch (m_params.camera) {
    case 2:
    case 3:
        model = "MA/H/X";
        break;
    case 4:
        model = "MD";
        break;
    case 5:
        model = "MBH";
        break;
    case 6:
        model = "MC";
        break;
    default:
        break;
    }
    if (model)
        std::snprintf(text, sizeof text, "Korvel %s for KRX Mode%ld v2.0.0.3000", model, mode);
    else
        std::snprintf(text, sizeof text, "Korvel MA for KRX v1.0.0.3000");
    m_description = text;
    if (m_params.camera == 4)
        m_notice = "Copyright Korvel. Profile for MD raw images.";
    else if (m_params.camera == 5 || m_params.camera == 6)
        m_notice = "Copyright Korvel. Profile for MBH and MC raw images.";
    else
        m_notice = "Copyright Korvel. Profile for MA raw images.";
}

LONG CCameraProfileGen::Name(char* buffer, std::size_t capacity, const char* prefix) const {
    if (!buffer || !m_validated)
        return PravonKind::kBadArgument;
    int written = 0;
    if (m_fixedProfile) {
        written = std::snprintf(buffer, capacity, "%s", kFixedProfileName);
    } else {
        const char* format = "%sMA_%ld_%04ld_%02ld_%ld.icm";
        if (m_params.camera == 4)
            format = "%sMD_%ld_%04ld_%02ld_%ld.icm";
        else if (m_params.camera == 5)
            format = "%sMBH_%ld_%04ld_%02ld_%ld.icm";
        else if (m_params.camera == 6)
            format = "%sMC_%ld_%04ld_%02ld_%ld.icm";
        long row = m_selectedRow;
        if (m_namingStyle == 0 && m_params.colorMode == 4 && !m_secondSet)
            row += 300;
        written =
            std::snprintf(buffer, capacity, format, prefix ? prefix : "Kvp_", ModeNumber(m_params.colorMode),
                          row, long(m_params.toneMode), long(kTableVersion));
    }
    if (written < 0 || std::size_t(written) >= capacity) {
        if (capacity > 0)
            buffer[0] = '\0';
        return PravonKind::kBadArgument;
    }
    return 0;
}

LONG CCameraProfileGen::LoadBase() {
    m_base = {};
    const std::string folder = static_cast<const char*>(GetProfileFolder());
    const std::string path = folder + (m_fixedProfile ? kFixedProfileName : kBaseProfileName);
    if (path.size() >= CCameraProfileGen::kPathLimit)
        return CameraProfileError::kNoFolder;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return CameraProfileError::kCannotOpen;
    LONG result = 0;
    if (std::fseek(file, 0, SEEK_END) != 0) {
        result = CameraProfileError::kCannotSeek;
    } else if (const long length = std::ftell(file); length < 0) {
        result = CameraProfileError::kNoLength;
    } else {
        std::rewind(file);
        try {
            m_base.resize(std::size_t(length));
        } catch (const std::bad_alloc&) {
            result = PravonKind::kOutOfMemory;
        }
        if (result == 0 && std::fread(m_base.data(), 1, m_base.size(), file) != m_base.size())
            result = CameraProfileError::kShortRead;
    }
    std::fclose(file);
    if (result == 0) {
        // The fixed profile is handed on as it is and must have its exact size; the base of the other
        // profiles must have the layout the serialiser copies from.
        std::string problem;
        if (m_fixedProfile ? m_base.size() != kFixedProfileSize : !CheckBaseLayout(m_base, &problem))
            result = PravonKind::kBadArgument;
    }
    if (result != 0)
        m_base = {};
    return result;
}

bool CCameraProfileGen::CheckBaseLayout(const std::vector<BYTE>& bytes, std::string* problem) {
    const auto fail = [problem](const char* text) {
        if (problem)
            *problem = text;
        return false;
    };
    if (bytes.size() < kTagTableEnd)
        return fail("shorter than its header and tag table");
    const BYTE* p = bytes.data();
    if (ReadBig32(p + kHeaderSize) != kTagCount)
        return fail("not five tags");
    static const char kOrder[5][5] = {"desc", "cprt", "wtpt", "A2B0", "B2A0"};
    DWORD offset[5], size[5];
    for (int i = 0; i < 5; ++i) {
        const BYTE* entry = p + kHeaderSize + 4 + 12 * i;
        if (std::memcmp(entry, kOrder[i], 4) != 0)
            return fail("tags not in the order desc, cprt, wtpt, A2B0, B2A0");
        offset[i] = ReadBig32(entry + 4);
        size[i] = ReadBig32(entry + 8);
        if (std::uint64_t(offset[i]) + size[i] > bytes.size() || offset[i] < kTagTableEnd)
            return fail("a tag outside the file");
    }
    const DWORD wtpt = offset[2];
    if (wtpt % 4 != 0 || offset[3] != Round4(wtpt + size[2]) || offset[4] != Round4(offset[3] + size[3]))
        return fail("white point, A2B0 and B2A0 not contiguous on multiples of 4");
    if (bytes.size() - wtpt != kTailSize)
        return fail("not 221528 bytes from the white point on");
    const BYTE* lut = p + offset[3];
    constexpr DWORD kLutGrid = DWORD(kGridPoints) * 3 * 2;
    if (size[3] < kGridOffset + kLutGrid + 3 * 2 * 2 || std::memcmp(lut, "mft2", 4) != 0 || lut[8] != 3 ||
        lut[9] != 3 || lut[10] != kGridSize || ReadBig16(lut + 48) != 4096)
        return fail("A2B0 not a 16-bit table of 3 inputs, 3 outputs, 32 grid points and 4096-entry inputs");
    const DWORD outputEntries = ReadBig16(lut + 50);
    if (outputEntries < 2 || kGridOffset + kLutGrid + 6 * outputEntries > size[3])
        return fail("A2B0 output tables outside the tag");
    return true;
}

LONG CCameraProfileGen::Build() {
    m_built = false;
    if (const LONG result = LoadBase(); result != 0)
        return result;
    if (m_fixedProfile) {
        m_built = m_validated;
        return m_validated ? 0 : PravonKind::kBadArgument;
    }
    try {
        if (m_tone.empty()) {
            m_L.assign(kGridPoints, 0);
            m_a.assign(kGridPoints, 0);
            m_b.assign(kGridPoints, 0);
            m_tone.assign(4096, 0);
        }
    } catch (const std::bad_alloc&) {
        Release();
        return PravonKind::kOutOfMemory;
    }
    if (!m_validated)
        return PravonKind::kBadArgument;
    BuildToneTable();
    const bool direct = m_params.camera >= 1 && m_params.camera <= 4 && m_params.colorMode <= 4;
    if (direct)
        BuildDirect();
    else
        BuildGrid();
    m_built = true;
    return 0;
}

void CCameraProfileGen::BuildToneTable() {
    const CameraProfileParams& p = m_params;
    if (p.toneMode == kToneCustom) {
        for (int i = 0; i < 4096; ++i) {
            const WORD value = p.customCurve[p.curveInputBits == 12 ? i : 16 * i];
            m_tone[i] = p.curveOutputBits == 12 ? value : WORD(value >> 4);
        }
        return;
    }
    const bool direct = p.camera >= 1 && p.camera <= 4 && p.colorMode <= 4;
    int set = kToneDirect;
    if (!direct)
        set = p.colorMode == 3                         ? kToneGridMode3
              : (p.colorMode == 4 || p.colorMode == 6) ? kToneGridMode4Or6
                                                       : kToneGridOther;
    const double* parameters = kToneParameters[set][p.toneMode];
    m_tone[0] = 0;
    for (int i = 1; i < 4096; ++i) {
        const double value = std::trunc(3520.0 * ToneCurve(parameters, i / 1800.0));
        m_tone[i] = WORD(std::isfinite(value) ? std::clamp(value, 0.0, 4095.0) : 0.0);
    }
}

void CCameraProfileGen::StoreLab(int entry, double r, double g, double b, bool adobe) {
    double rgb[3] = {std::clamp(r, 0.0, 1.0), std::clamp(g, 0.0, 1.0), std::clamp(b, 0.0, 1.0)};
    for (double& v : rgb)
        v = m_params.colorMode == 3 ? std::pow(v, 2.2) : DecodeSrgb(v);
    double xyz[3];
    Apply(adobe ? kAdobeToXyz : kSrgbToXyz, rgb, xyz);
    xyz[0] /= kWhiteX;
    xyz[2] /= kWhiteZ;
    const auto f = [](double u) { return u > 0.008856 ? std::cbrt(u) : 7.787 * u + 0.13793103448275862; };
    const double fx = f(xyz[0]), fy = f(xyz[1]), fz = f(xyz[2]);
    const double L = std::clamp((116.0 * fy - 16.0) / 100.0, 0.0, 1.0);
    const double a = std::clamp(500.0 * (fx - fy), -128.0, 127.0);
    const double bb = std::clamp(200.0 * (fy - fz), -128.0, 127.0);
    m_L[entry] = WORD(L * kLabEncoding + 0.5);
    m_a[entry] = WORD((a + 128.0) / 255.0 * kLabEncoding + 0.5);
    m_b[entry] = WORD((bb + 128.0) / 255.0 * kLabEncoding + 0.5);
}

void CCameraProfileGen::BuildDirect() {
    const bool adobe = m_params.colorMode == 1 || m_params.colorMode == 3;
    // The YCbCr decoding applied to M2: camera RGB straight to the output RGB.
    const double* y = m_m2;
    const double* cb = m_m2 + 3;
    const double* cr = m_m2 + 6;
    double n[9];
    for (int c = 0; c < 3; ++c) {
        n[c] = y[c] + 1.4021 * cr[c];
        n[3 + c] = y[c] - 0.3455 * cb[c] - 0.7146 * cr[c];
        n[6 + c] = y[c] + 1.7712 * cb[c];
    }
    double code[kGridSize];
    for (int i = 0; i < kGridSize; ++i)
        code[i] = std::min(4095.0, 4095.0 * DecodeSrgb(i / 31.0));
    for (int i = 0; i < kGridSize; ++i)
        for (int j = 0; j < kGridSize; ++j)
            for (int k = 0; k < kGridSize; ++k) {
                const double c[3] = {code[i], code[j], code[k]};
                double v[3], w[3], rgb[3];
                Apply(m_m1, c, v);
                for (int q = 0; q < 3; ++q)
                    w[q] = m_tone[int(std::clamp(v[q], 0.0, 4095.0))] / 4095.0;
                Apply(n, w, rgb);
                StoreLab(1024 * i + 32 * j + k, rgb[0], rgb[1], rgb[2], adobe);
            }
}

void CCameraProfileGen::BuildGrid() {
    const bool adobe = m_params.colorMode == 1 || m_params.colorMode == 3;
    static const double kNeutral[80] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, //
                                        1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, //
                                        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, //
                                        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, //
                                        1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    const double* hue = m_hueRow ? m_hueRow : kNeutral;
    // Each group extended by a 17th value equal to its 12th.
    double groups[5][17];
    for (int g = 0; g < 5; ++g) {
        std::copy(hue + 16 * g, hue + 16 * g + 16, groups[g]);
        groups[g][16] = groups[g][11];
    }
    double code[kGridSize];
    for (int i = 0; i < kGridSize; ++i)
        code[i] = kGridInput[int(i * kGridStep + 0.5)];
    for (int i = 0; i < kGridSize; ++i)
        for (int j = 0; j < kGridSize; ++j)
            for (int k = 0; k < kGridSize; ++k) {
                const double c[3] = {code[i], code[j], code[k]};
                double v[3], w[3], ycc[3];
                Apply(m_m1, c, v);
                for (int q = 0; q < 3; ++q)
                    w[q] = m_tone[int(std::clamp(v[q], 0.0, 4095.0))] / 4095.0;
                Apply(m_m2, w, ycc);
                const double Y = ycc[0], Cb = ycc[1], Cr = ycc[2];
                const double sum = std::fabs(Cr) + std::fabs(Cb);
                const int R = sum > 0 ? std::min(255, int(255.0 * std::fabs(Cr) / sum)) : 0;
                const int quadrant = Cr > 0 ? (Cb < 0 ? 2 : 3) : (Cb <= 0 ? 0 : 1);
                const int sector = 4 * quadrant + (R >> 6);
                const int s = (R >> 2) & 15;
                double h[5];
                for (int g = 0; g < 5; ++g)
                    h[g] = (s * groups[g][sector + 1] + (16 - s) * groups[g][sector]) * 0.0625;
                const double y2 = Y * (1 + h[0]);
                const double cb2 = h[1] * Cb + h[2] * Cr;
                const double cr2 = h[3] * Cb + h[4] * Cr;
                StoreLab(1024 * i + 32 * j + k, y2 + 1.4021 * cr2, y2 - 0.7146 * cr2 - 0.3455 * cb2,
                         y2 + 1.7712 * cb2, adobe);
            }
}

std::vector<BYTE> CCameraProfileGen::Assemble(const BYTE* header, DWORD tagCount,
                                              const std::string& description, const std::string& notice,
                                              const BYTE* tail, const DWORD tailSizes[3]) {
    const DWORD nd = DWORD(description.size()), nc = DWORD(notice.size());
    const DWORD descSize = 2 * nd + kDescriptionTimes2Extra, noticeSize = nc + kNoticeExtra;
    const DWORD oc = kTagTableEnd + Round4(descSize);
    const DWORD ow = oc + Round4(noticeSize);
    const DWORD oa = Round4(ow + tailSizes[0]);
    const DWORD ob = Round4(oa + tailSizes[1]);
    std::vector<BYTE> out(std::size_t(ow) + kTailSize, 0);
    if (out.size() < kTagTableEnd)
        return {};
    BYTE* p = out.data();
    std::memcpy(p, header, kHeaderSize);
    // The size is this profile's, and the ID, computed over other bytes, is marked as not computed.
    WriteBig32(p, DWORD(out.size()));
    std::memset(p + 84, 0, 16);
    WriteBig32(p + kHeaderSize, tagCount);
    const struct {
        const char* signature;
        DWORD offset, size;
    } entries[5] = {{"desc", kTagTableEnd, descSize},
                    {"cprt", oc, noticeSize},
                    {"wtpt", ow, tailSizes[0]},
                    {"A2B0", oa, tailSizes[1]},
                    {"B2A0", ob, tailSizes[2]}};
    for (int i = 0; i < 5; ++i) {
        BYTE* entry = p + kHeaderSize + 4 + 12 * i;
        std::memcpy(entry, entries[i].signature, 4);
        WriteBig32(entry + 4, entries[i].offset);
        WriteBig32(entry + 8, entries[i].size);
    }
    BYTE* d = p + kTagTableEnd;
    std::memcpy(d, "desc", 4);
    WriteBig32(d + 8, nd + 1);
    std::memcpy(d + 12, description.c_str(), nd + 1);
    d += 12 + nd + 1 + 8 + 2; // the Unicode language code and count, then the script code, stay 0
    *d++ = BYTE(std::min<DWORD>(nd + 1, 255));
    std::memcpy(d, description.c_str(), nd + 1);
    BYTE* c = p + oc;
    std::memcpy(c, "text", 4);
    std::memcpy(c + 8, notice.c_str(), nc + 1);
    std::memcpy(p + ow, tail, kTailSize);
    return out;
}

LONG CCameraProfileGen::Serialize(BYTE* buffer, DWORD size) const {
    if (!buffer || !m_built || size < m_profileSize)
        return PravonKind::kBadArgument;
    if (m_fixedProfile) {
        std::memcpy(buffer, m_base.data(), kFixedProfileSize);
        return 0;
    }
    const BYTE* base = m_base.data();
    const DWORD wtpt = ReadBig32(base + kHeaderSize + 4 + 12 * 2 + 4);
    const DWORD sizes[3] = {ReadBig32(base + kHeaderSize + 4 + 12 * 2 + 8),
                            ReadBig32(base + kHeaderSize + 4 + 36 + 8),
                            ReadBig32(base + kHeaderSize + 4 + 48 + 8)};
    std::vector<BYTE> out =
        Assemble(base, ReadBig32(base + kHeaderSize), m_description, m_notice, base + wtpt, sizes);
    const DWORD ow = DWORD(out.size()) - kTailSize;
    BYTE* grid = out.data() + Round4(ow + sizes[0]) + kGridOffset;
    for (int i = 0; i < kGridPoints; ++i) {
        WriteBig16(grid + 6 * i, m_L[i]);
        WriteBig16(grid + 6 * i + 2, m_a[i]);
        WriteBig16(grid + 6 * i + 4, m_b[i]);
    }
    std::memcpy(buffer, out.data(), out.size());
    return 0;
}
