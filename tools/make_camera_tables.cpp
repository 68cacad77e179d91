// make-camera-tables: writes the C++ source of the camera input-profile generator's constant tables
// (declared in rawlib/pipeline/CCameraProfileTables.h). The build runs it; nothing it writes is kept in
// the tree.
//
//   make-camera-tables OUTPUT.cpp
//
// What is given and what is derived. The generator's rules fix the tables' shapes and lookups and print a
// few rows; every other value is derived here from those rows by the models below, so that each lookup
// the rules can make lands on a plausible entry.
// - Row tables A, B and C, the setting table with its sub-modes, the grid input table (sRGB decoding) and
//   the direct path's tone parameters are the printed values and formulas, unchanged.
// - Tone sets of the grid path: the printed tone 3 of the "other" and "4 or 6" sets; their other tones are
//   the direct path's. The colour-mode-3 set is the direct path's shifted by one tone from tone 3 on (as
//   printed), its tones 1 and 2 both the direct path's tone 1.
// - Matrix set A: every row is row 0 (first group) or row 156 (second group) adjusted for the white the
//   row stands for (colour temperature T and sub-mode m) and for its tone position. First group: six-row
//   classes (row / 6) at 3300 K, 4000 K, then 4500, 5000, 6000 and 7000 K at rows 36, 66, 120 and 150 (the
//   rows the table-index decoding names), classes between them interpolated in mired; rows 84 to 90 are
//   5000 K sub-mode 3, rows 91 to 97 5000 K sub-mode 1; the tone position is 5 - row % 6. Second group:
//   seven-row classes whose (T, m) repeat 3300/0, 5000/0, 7000/0, 5000/2, 5000/1, 5000/3, then 5000/3 and
//   5000/1 for classes 12 and 13; the tone position is 6 - row % 7. Sets B and C: seven-row classes with the
//   same repeating list; set B's base is its printed row 0, set C, of which nothing is printed, takes the
//   same base.
//   The adjustment: with d = 1e6 / T - 1e6 / 3300 (mired), M1 is multiplied on the right by
//   diag(1 - 0.0006 d, 1, 1 + 0.0006 d) and by a sub-mode tint (m 1: 1.03, 1, 0.97; m 2: 0.97, 1, 1.04;
//   m 3: 1, 1, 1.02); the colour-difference rows of M2 are scaled by 1 + 0.03 (p0 - p), p the row's tone
//   position and p0 that of the class's first row. The base rows themselves come out unchanged.
// - Hue tables B and C: group 0 is 0; groups 1 and 4 are 1 + 0.015 q cos(2 pi n / 16), groups 2 and 3
//   -/+ 0.01 q sin(2 pi n / 16) (a small rotation of the colour differences by sector n), q the row's
//   position in its class, so each class's first row (row 0 among them) is the neutral row.
// - Gain-to-index tables: white-balance gains as straight lines in mired M, red 2.9 - 0.006 (M - 100) and
//   blue 1.05 + 0.0045 (M - 83), per pair scaled (pair 0: 1, 1; pair 1: 0.93, 1.06; pair 2: 1.05, 0.94) and
//   per table scaled by a camera factor (camera 4: 1.08, 5: 0.95, 6: 1.02, others 1). A gain row holds, for
//   the gain at the row's middle, the temperature index (M - 83) / 1.3 at which the line reaches that gain,
//   rounded; 0 ("no value") outside 1 to 254.
// - Brightness limits: sub-mode 0 begins with the printed lows and highs; after them low[k] =
//   25 + 65 x 0.736^k and high[k] = min(200, 107 + 3.2 k), rounded; sub-modes 2, 3 and 4 are sub-mode 0's
//   raised by 6, 12 and 18.
// - Exposure table: the word's tone group (bits 6 to 8) is the brightness class, at most 5; its other bits
//   are 0. Exposure row table: row = the first-group class start of the temperature class (c 0 and 1: 150,
//   2 and 3: 120, 4: 66, 5: 36, 6: 6, 7: 0) plus the tone group, at most 5.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr double kBaseTemperature = 3300.0;

struct White {
    double temperature;
    int subMode;
};

// The repeating (T, m) list of seven-row classes.
White SevenRowWhite(int cls) {
    static const White list[6] = {{3300, 0}, {5000, 0}, {7000, 0}, {5000, 2}, {5000, 1}, {5000, 3}};
    if (cls == 12)
        return {5000, 3};
    if (cls == 13)
        return {5000, 1};
    return list[cls % 6];
}

White FirstGroupWhite(int row) {
    if (row >= 84 && row <= 90)
        return {5000, 3};
    if (row >= 91 && row <= 97)
        return {5000, 1};
    struct Anchor {
        int cls;
        double temperature;
    };
    static const Anchor anchors[] = {{0, 3300}, {1, 4000}, {6, 4500}, {11, 5000}, {20, 6000}, {25, 7000}};
    const int cls = row / 6;
    for (std::size_t i = 0; i + 1 < std::size(anchors); ++i) {
        if (cls >= anchors[i].cls && cls <= anchors[i + 1].cls) {
            const double f = double(cls - anchors[i].cls) / double(anchors[i + 1].cls - anchors[i].cls);
            const double mired =
                (1 - f) * 1e6 / anchors[i].temperature + f * 1e6 / anchors[i + 1].temperature;
            return {1e6 / mired, 0};
        }
    }
    return {7000, 0};
}

// Row `base` adjusted for a white and a tone position offset (p0 - p).
std::vector<double> AdjustRow(const double* base, White white, int toneOffset) {
    std::vector<double> row(base, base + 18);
    const double d = 1e6 / white.temperature - 1e6 / kBaseTemperature;
    double diag[3] = {1 - 0.0006 * d, 1, 1 + 0.0006 * d};
    static const double tints[4][3] = {{1, 1, 1}, {1.03, 1, 0.97}, {0.97, 1, 1.04}, {1, 1, 1.02}};
    for (int c = 0; c < 3; ++c)
        diag[c] *= tints[white.subMode][c];
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            row[3 * r + c] = base[3 * r + c] * diag[c];
    const double saturation = 1 + 0.03 * toneOffset;
    for (int i = 12; i < 18; ++i)
        row[i] = base[i] * saturation;
    return row;
}

const double kSetARow0[18] = {1.77156447,   -0.800973487, 0.029409019,  -0.130455965, 1.26802677,
                              -0.137570805, -0.272901313, 0.248966304,  1.02393501,   0.298097149,
                              0.588208334,  0.113694518,  -0.053751089, -0.564135527, 0.617886616,
                              0.439479695,  -0.293811639, -0.145668056};
const double kSetARow156[18] = {1.26499032,  -0.314047203, 0.049056885,  -0.081136002, 1.18177708,
                                -0.10064108, -0.026323715, -0.088890316, 1.11521403,   0.298828,
                                0.585938,    0.115234,     -0.172432674, -0.504151813, 0.676584488,
                                0.583262195, -0.439200725, -0.14406147};
const double kSetBRow0[18] = {1.58789,   -0.445312, -0.142578, -0.154297, 1.25586,   -0.101562,
                              -0.201172, 0.0292969, 1.17188,   0.300781,  0.585938,  0.113281,
                              -0.046875, -0.613281, 0.660156,  0.390625,  -0.148438, -0.242188};

const double kDirectTone[7][13] = {{0.0934553, 0.3722, -14.1377, -7.97409, 3.56722, 0.00115, 1.035, 0.475,
                                    -0.0823789, 0.931376, 0.1222, 0.354184, -0.0051614},
                                   {0.125593, 0.3911, -27.2607, 1.40006, 2.50889, 0.002075, 1.1125, 0.4875,
                                    -0.119365, 0.850102, 0.1911, 0.358896, 0.107477},
                                   {0.177918, 0.41, -22.6088, 5.11514, 1.73749, 0.003, 1.19, 0.5, -0.155229,
                                    0.813962, 0.21, 0.36349, 0.153286},
                                   {0.208155, 0.4575, -16.414, 4.5884, 1.5893, -0.001, 1.2425, 0.5075,
                                    -0.179653, 0.706082, 0.3075, 0.365839, 0.303118},
                                   {0.247383, 0.505, -12.2009, 4.28357, 1.43374, -0.005, 1.295, 0.515,
                                    -0.20363, 0.642049, 0.355, 0.368149, 0.387922},
                                   {0.299077, 0.5525, -9.12198, 4.06686, 1.26813, -0.009, 1.3475, 0.5225,
                                    -0.227166, 0.531015, 0.4525, 0.370421, 0.534853},
                                   {0.368458, 0.6, -6.70499, 3.8335, 1.09219, -0.013, 1.4, 0.53, -0.250267,
                                    0.461911, 0.5, 0.372656, 0.621836}};
const double kGridOtherTone3[13] = {0.229388, 0.405,      -13.4517, 2.35435, 2.10816,  0.00452, 1.02,
                                    0.5,      -0.0388973, 0.829594, 0.155,   0.373754, 0.116095};
const double kGridMode46Tone3[13] = {0.120858, 0.382,     22.587,   -5.53922, 2.2882,   -0.006,  1.35,
                                     0.51,     -0.229998, 0.776204, 0.232,    0.361417, 0.205372};

const unsigned kSettingTable[6][6] = {{21, 24, 27, 32, 38, 45},    {52, 56, 60, 64, 68, 72},
                                      {72, 76, 81, 84, 90, 93},    {172, 179, 184, 192, 201, 210},
                                      {43, 54, 90, 119, 144, 192}, {46, 50, 54, 58, 62, 66}};

class Writer {
public:
    explicit Writer(std::FILE* out) : m_out(out) {}
    void Open(const char* declaration) { std::fprintf(m_out, "const %s = {\n", declaration); }
    void Close() { std::fprintf(m_out, "};\n\n"); }
    void Reals(const double* values, int count) {
        std::fprintf(m_out, "    {");
        for (int i = 0; i < count; ++i)
            std::fprintf(m_out, "%s%.17g", i ? ", " : "", values[i]);
        std::fprintf(m_out, "},\n");
    }
    void Integers(const unsigned* values, int count, bool braces = true) {
        std::fprintf(m_out, braces ? "    {" : "    ");
        for (int i = 0; i < count; ++i)
            std::fprintf(m_out, "%s%u", i ? ", " : "", values[i]);
        std::fprintf(m_out, braces ? "},\n" : ",\n");
    }
    void Text(const char* text) { std::fputs(text, m_out); }

private:
    std::FILE* m_out;
};

void WriteMatrixSets(Writer& w) {
    w.Open("double kMatrixSetA[kSetARows][18]");
    for (int row = 0; row < 156; ++row)
        w.Reals(AdjustRow(kSetARow0, FirstGroupWhite(row), row % 6).data(), 18);
    for (int row = 0; row < 98; ++row)
        w.Reals(AdjustRow(kSetARow156, SevenRowWhite(row / 7), row % 7).data(), 18);
    w.Close();
    for (const char* name : {"double kMatrixSetB[kSetBCRows][18]", "double kMatrixSetC[kSetBCRows][18]"}) {
        w.Open(name);
        for (int row = 0; row < 126; ++row)
            w.Reals(AdjustRow(kSetBRow0, SevenRowWhite(row / 7), row % 7).data(), 18);
        w.Close();
    }
    for (const char* name : {"double kHueTableB[kSetBCRows][80]", "double kHueTableC[kSetBCRows][80]"}) {
        w.Open(name);
        for (int row = 0; row < 126; ++row) {
            const int q = row % 7;
            double values[80];
            for (int n = 0; n < 16; ++n) {
                const double angle = 2 * M_PI * n / 16;
                values[n] = 0;
                values[16 + n] = values[64 + n] = 1 + 0.015 * q * std::cos(angle);
                values[32 + n] = -0.01 * q * std::sin(angle);
                values[48 + n] = 0.01 * q * std::sin(angle);
            }
            w.Reals(values, 80);
        }
        w.Close();
    }
}

void WriteRowTables(Writer& w) {
    const unsigned classesA[24] = {0, 1, 2,  0,  3, 0, 4, 5, 6, 7, 8,  6,
                                   9, 6, 10, 11, 0, 0, 0, 0, 0, 0, 12, 13};
    const unsigned classesB[24] = {0, 1, 2,  0,  3,  0,  4,  5,  6,  7,  8,  6,
                                   9, 6, 10, 11, 12, 13, 14, 12, 15, 12, 16, 17};
    const unsigned classesC[24] = {6, 7, 8, 6, 9,  6,  10, 11, 0,  1,  2,  0,
                                   3, 0, 4, 5, 12, 13, 14, 12, 15, 12, 16, 17};
    const unsigned explicitStarts[6] = {5, 11, 41, 71, 125, 155}; // rows 16 to 21 of row table A
    const struct {
        const char* name;
        const unsigned* classes;
        bool colourMode4Rows;
    } tables[3] = {{"uint8_t kRowTableA[24][7]", classesA, true},
                   {"uint8_t kRowTableB[24][7]", classesB, false},
                   {"uint8_t kRowTableC[24][7]", classesC, false}};
    for (const auto& table : tables) {
        w.Open(table.name);
        for (int row = 0; row < 24; ++row) {
            unsigned entries[7];
            for (unsigned t = 0; t < 7; ++t) {
                if (table.colourMode4Rows && row >= 16 && row <= 21)
                    entries[t] = explicitStarts[row - 16] - (t < 6 ? t : 5);
                else
                    entries[t] = 7 * table.classes[row] + 6 - t;
            }
            w.Integers(entries, 7);
        }
        w.Close();
    }
}

void WriteToneSets(Writer& w) {
    w.Open("double kToneParameters[4][7][13]");
    for (int set = 0; set < 4; ++set) {
        w.Text("    {\n");
        for (int tone = 0; tone < 7; ++tone) {
            const double* p = kDirectTone[tone];
            if (set == 1)
                p = tone == 0 ? kDirectTone[0] : tone <= 2 ? kDirectTone[1] : kDirectTone[tone - 1];
            else if (set == 2 && tone == 3)
                p = kGridMode46Tone3;
            else if (set == 3 && tone == 3)
                p = kGridOtherTone3;
            w.Text("    ");
            w.Reals(p, 13);
        }
        w.Text("    },\n");
    }
    w.Close();
}

double DecodeSrgb(double v) {
    return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

void WriteGridInput(Writer& w) {
    w.Open("uint16_t kGridInput[4096]");
    for (int i = 0; i < 4096; i += 16) {
        unsigned values[16];
        for (int j = 0; j < 16; ++j)
            values[j] = static_cast<unsigned>(std::floor(4095.0 * DecodeSrgb((i + j) / 4095.0)));
        w.Integers(values, 16, false);
    }
    w.Close();
}

unsigned IndexByte(double mired) {
    const double index = std::round((mired - 83) / 1.3);
    return index >= 1 && index <= 254 ? static_cast<unsigned>(index) : 0;
}

void WriteGainTables(Writer& w) {
    const double cameraScale[4] = {1.08, 0.95, 1.02, 1.0};
    const double factor[4] = {85.03401360544218, 85.03401360544218, 85.03401360544218, 100.0};
    const double redScale[3] = {1, 0.93, 1.05}, blueScale[3] = {1, 1.06, 0.94};
    w.Open("uint8_t kGainToIndex[4][256][6]");
    for (int table = 0; table < 4; ++table) {
        w.Text("    {\n");
        for (int row = 0; row < 256; ++row) {
            const double gain = 1 + (row + 0.5) / factor[table];
            unsigned bytes[6];
            for (int pair = 0; pair < 3; ++pair) {
                const double red = cameraScale[table] * redScale[pair];
                const double blue = cameraScale[table] * blueScale[pair];
                bytes[2 * pair] = IndexByte(100 + (2.9 * red - gain) / (0.006 * red));
                bytes[2 * pair + 1] = IndexByte(83 + (gain / blue - 1.05) / 0.0045);
            }
            w.Text("    ");
            w.Integers(bytes, 6);
        }
        w.Text("    },\n");
    }
    w.Close();
}

void WriteBrightnessLimits(Writer& w) {
    const unsigned printedLow[6] = {90, 74, 62, 52, 45, 39}, printedHigh[6] = {107, 110, 113, 117, 120, 123};
    w.Open("uint8_t kBrightnessLimits[4][2][54]");
    for (int set = 0; set < 4; ++set) {
        unsigned low[54], high[54];
        for (int k = 0; k < 54; ++k) {
            low[k] = k < 6 ? printedLow[k] : static_cast<unsigned>(std::lround(25 + 65 * std::pow(0.736, k)));
            high[k] =
                k < 6 ? printedHigh[k] : static_cast<unsigned>(std::lround(std::fmin(200, 107 + 3.2 * k)));
            low[k] += 6 * set;
            high[k] += 6 * set;
        }
        w.Text("    {\n    ");
        w.Integers(low, 54);
        w.Text("    ");
        w.Integers(high, 54);
        w.Text("    },\n");
    }
    w.Close();
}

void WriteExposureTables(Writer& w) {
    w.Open("uint16_t kExposureTable[kExposureWords]");
    const int perBrightness = 8 * 96, perSensitivity = 480 * 8;
    for (int index = 0; index < 19200; index += 16) {
        unsigned words[16];
        for (int j = 0; j < 16; ++j) {
            const int brightness = ((index + j) % perSensitivity) / perBrightness;
            words[j] = static_cast<unsigned>(std::min(brightness, 5)) << 6;
        }
        w.Integers(words, 16, false);
    }
    w.Close();
    const unsigned classStart[8] = {150, 150, 120, 120, 66, 36, 6, 0};
    w.Open("uint8_t kExposureRows[kExposureRowBytes]");
    // An index is low + 8 mid + 32 o + 192 c; its parts overlap, so each entry is set from the largest
    // term it can belong to: the temperature class and tone group of the index.
    for (int index = 0; index < 1632; index += 16) {
        unsigned rows[16];
        for (int j = 0; j < 16; ++j) {
            const int at = index + j;
            const int c = std::min(at / 192, 7), o = std::min((at % 192) / 32, 5);
            rows[j] = classStart[c] + static_cast<unsigned>(o);
        }
        w.Integers(rows, 16, false);
    }
    w.Close();
}

void WriteSettingTables(Writer& w) {
    w.Open("uint8_t kSettingTable[6][6]");
    for (const auto& row : kSettingTable)
        w.Integers(row, 6);
    w.Close();
    w.Open("uint8_t kSettingSubModes[6][6]");
    for (int row = 0; row < 6; ++row) {
        const unsigned fourth[6] = {1, 1, 1, 2, 1, 1}, other[6] = {0, 0, 0, 0, 0, 0};
        w.Integers(row == 4 ? fourth : other, 6);
    }
    w.Close();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.cpp\n", argv[0]);
        return 2;
    }
    const std::string partial = std::string(argv[1]) + ".part";
    std::FILE* out = std::fopen(partial.c_str(), "w");
    if (!out) {
        std::fprintf(stderr, "make-camera-tables: cannot write %s\n", partial.c_str());
        return 1;
    }
    Writer w(out);
    w.Text(
        "// Written by make-camera-tables; see tools/make_camera_tables.cpp for how each value is derived.\n"
        "#include \"rawlib/pipeline/CCameraProfileTables.h\"\n\nnamespace KvCameraTables {\n\n");
    WriteMatrixSets(w);
    WriteRowTables(w);
    WriteToneSets(w);
    WriteGridInput(w);
    WriteGainTables(w);
    WriteBrightnessLimits(w);
    WriteExposureTables(w);
    WriteSettingTables(w);
    w.Text("} // namespace KvCameraTables\n");
    const bool written = std::fflush(out) == 0 && !std::ferror(out);
    if (std::fclose(out) != 0 || !written || std::rename(partial.c_str(), argv[1]) != 0) {
        std::fprintf(stderr, "make-camera-tables: cannot write %s\n", argv[1]);
        std::remove(partial.c_str());
        return 1;
    }
    return 0;
}
