// The camera input-profile generator: builds in memory the ICC input profile of one raw image's camera,
// colour mode, tone mode, white balance and exposure, from a base profile of the profile folder and the
// constant per-camera tables. Created for one profile: Initialize, Name / ProfileSize, Build, Serialize.
#pragma once

#include "platform/win/wintypes.h"

#include <cstddef>
#include <string>
#include <vector>

// The generator's parameter record, filled by the caller from the camera-settings state or the camera's
// tags and copied whole into the generator.
struct CameraProfileParams {
    BYTE marker = 1;
    LONG camera = 0;    // 0 other models, 1 MA, 2 MAX, 3 MAH, 4 MD, 5 MBH, 6 MC
    LONG colorMode = 0; // 0 to 6
    BYTE colorModeFromState = 0;
    LONG whiteBalanceKind = 0; // 0 none, 1 to 3 from the tags, 4 state preset, 5 state temperature
    LONG toneMode = 0;         // 0 to 6, or 16 with the custom curve
    LONG toneSource = 0;       // 0 tag, 1 state, 2 the camera record's tone byte
    LONG curveInputBits = 0;
    LONG curveOutputBits = 0;
    const WORD* customCurve = nullptr; // 65536 entries, tone mode 16 only
    LONG tableIndex = 0;
    BYTE whiteBalanceFlag = 0;
    double redGain = 1.0;
    double blueGain = 1.0;
    DWORD colorTemperature = 0; // kelvin
    DWORD whiteBalanceTagValue = 0;
    LONG fineTune = 0;
    LONG subMode = 0;         // 0 to 3
    BYTE recordBytes[4] = {}; // the camera record's bytes 12, 11, 10 and 9, in this order
    double brightnessValue = 0;
    LONG recordByte = 0;
    WORD sensitivity = 200;
    LONG rawWhiteBalance[2] = {}; // a first word of 8: the second is a colour temperature
};

// Error kinds of the base-profile load; the others are PravonKind's (out of memory, bad argument).
namespace CameraProfileError {
constexpr LONG kNoFolder = 1100;
constexpr LONG kCannotOpen = 1101;
constexpr LONG kShortRead = 1103;
constexpr LONG kNoLength = 1105;
constexpr LONG kCannotSeek = 1106;
} // namespace CameraProfileError

class CCameraProfileGen {
public:
    static constexpr DWORD kFixedProfileSize = 221848;
    static constexpr DWORD kTailSize = 221528;  // the base profile's bytes from its white point on
    static constexpr DWORD kGridOffset = 24628; // of the grid inside the A2B0 tag
    static constexpr int kGridPoints = 32 * 32 * 32;
    static constexpr WORD kNoRow = 0xFFFF;
    static constexpr std::size_t kPathLimit = 260; // characters of a profile path, its NUL included
    static constexpr const char* kBaseProfileName = "KVDBase_KRX.icm";
    static constexpr const char* kFixedProfileName = "KVMA_KRX.icm";

    CCameraProfileGen() = default;
    ~CCameraProfileGen() { Release(); }
    CCameraProfileGen(const CCameraProfileGen&) = delete;
    CCameraProfileGen& operator=(const CCameraProfileGen&) = delete;

    // Clears the generator, copies and validates the record and selects its table row; an invalid record
    // is not reported here but leaves the generator not validated.
    void Initialize(const CameraProfileParams& params);
    // The profile's file name into `buffer` (at most `capacity` bytes with its NUL); prefix "Kvp_" when
    // none is given. 1014 for no buffer, a short one or a generator that is not validated.
    LONG Name(char* buffer, std::size_t capacity, const char* prefix) const;
    // Bytes of the serialised profile; 0 when not validated.
    DWORD ProfileSize() const { return m_profileSize; }
    // Loads the base profile and, unless in fixed-profile mode, computes the tone table and the grid.
    LONG Build();
    // Writes the profile; 1014 for no buffer, a short one or a generator not built.
    LONG Serialize(BYTE* buffer, DWORD size) const;
    void Release();

    bool IsValidated() const { return m_validated; }
    bool IsFixedProfile() const { return m_fixedProfile; }
    bool UsesSecondSet() const { return m_secondSet; }
    WORD SelectedRow() const { return m_selectedRow; }
    DWORD SelectionCase() const { return m_selectionCase; }
    const double* M1() const { return m_m1; }
    const double* M2() const { return m_m2; }
    const double* HueRow() const { return m_hueRow; }
    const std::string& Description() const { return m_description; }
    const std::string& Notice() const { return m_notice; }
    const std::vector<WORD>& ToneTable() const { return m_tone; }
    // The grid's L, a and b of entry 1024 i + 32 j + k.
    const std::vector<WORD>& GridL() const { return m_L; }
    const std::vector<WORD>& GridA() const { return m_a; }
    const std::vector<WORD>& GridB() const { return m_b; }
    // Whether bytes hold the layout a non-fixed base profile must have; false with the reason.
    static bool CheckBaseLayout(const std::vector<BYTE>& bytes, std::string* problem);
    // The curve p of a tone-parameter row at x.
    static double ToneCurve(const double* p, double x);

    // Writes a profile of the generator's layout: the header (its size patched, its ID cleared), the tag
    // count and table, the description and notice records, then `tail` (wtpt, A2B0 and B2A0 data whose
    // entry sizes are given). The base-profile tool authors its files with it as well.
    static std::vector<BYTE> Assemble(const BYTE* header, DWORD tagCount, const std::string& description,
                                      const std::string& notice, const BYTE* tail, const DWORD tailSizes[3]);

private:
    enum class Set { A, B, C };
    struct Selection {
        Set set = Set::A;
        LONG row = kNoRow;
    };
    struct White {
        DWORD temperature;
        LONG subMode;
    };
    struct Estimate {
        LONG index;
        LONG subMode;
    };

    bool Validate();
    DWORD SelectCase() const;
    bool SelectRow();
    bool LoadMatrices(Selection selection);
    void FormTexts();
    LONG LoadBase();
    void BuildToneTable();
    void BuildDirect();
    void BuildGrid();
    void StoreLab(int entry, double r, double g, double b, bool adobe);

    bool Plain() const;
    int RuleTone(bool setA) const;
    LONG RowFromTable(Set set, int r, bool setA) const;
    Selection RuleA(DWORD temperature, LONG subMode);
    Selection RuleBC(Set set, DWORD temperature, LONG subMode) const;
    Selection RuleS(Set set);
    Selection RuleFA();
    bool RuleI(White* white) const;
    Estimate RuleE() const;
    LONG RuleG(LONG subMode) const;
    LONG RuleL(LONG value) const;
    LONG RuleX(LONG value) const;
    int GainTable() const;

    CameraProfileParams m_params;
    bool m_validated = false;
    bool m_fixedProfile = false;
    bool m_secondSet = false;
    bool m_alternateIndex = false;
    BYTE m_namingStyle = 0;
    DWORD m_selectionCase = 0;
    WORD m_selectedRow = kNoRow;
    double m_m1[9] = {};
    double m_m2[9] = {};
    const double* m_hueRow = nullptr;
    std::string m_description;
    std::string m_notice;
    std::vector<BYTE> m_base;
    DWORD m_profileSize = 0;
    bool m_built = false;
    std::vector<WORD> m_tone, m_L, m_a, m_b;
};
