// Writes the corpus of the settings-record fuzz target: valid records of each kind, current and older
// versions, each file prefixed with its kind byte. Run it as `settings_records_corpus <folder>`.
#include "FuzzPluginTable.h"
#include "SettingsRecordKinds.h"

#include "rawlib/filters/CPluginWin.h"
#include "rawlib/settings/CKvBrightness.h"
#include "rawlib/settings/CKvChromaBooster.h"
#include "rawlib/settings/CKvDustRemoval.h"
#include "rawlib/settings/CKvExposureAdjustment.h"
#include "rawlib/settings/CKvFilterPluginList.h"
#include "rawlib/settings/CKvFisheye.h"
#include "rawlib/settings/CKvFnRedEye.h"
#include "rawlib/settings/CKvLEGeneral.h"
#include "rawlib/settings/CKvLutGroup.h"
#include "rawlib/settings/CKvNoiseReduction.h"
#include "rawlib/settings/CKvRevelation.h"
#include "rawlib/settings/CKvSizeRes.h"
#include "rawlib/settings/CKvUSMList.h"
#include "rawlib/settings/CKvVignette.h"
#include "rawlib/settings/CKvWBAdjustment.h"
#include "rawlib/settings/KvRecordCursor.h"
#include "rawlib/settings/KvStateIds.h"

#include <cmath>
#include <cstring>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::filesystem::path g_folder;
bool g_failed = false;

std::vector<BYTE> Record(IKvState& state) {
    std::vector<BYTE> bytes(static_cast<std::size_t>(state.GetStateSize()));
    state.WriteState(bytes.data(), static_cast<int>(bytes.size()));
    return bytes;
}

// The layouts of these records only ever grew at the end, so an older version is the current record cut
// to that version's size with its version and length set to match.
std::vector<BYTE> AsVersion(std::vector<BYTE> bytes, WORD version, std::size_t size) {
    bytes.resize(size);
    KvPutValue(bytes.data() + 16, version, 2);
    KvPutValue(bytes.data() + 18, size - 18, 4);
    return bytes;
}

void Save(SettingsRecordKind kind, const std::string& name, const std::vector<BYTE>& record) {
    std::vector<char> bytes{static_cast<char>(kind)};
    bytes.insert(bytes.end(), record.begin(), record.end());
    std::ofstream out(g_folder / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", (g_folder / name).c_str());
        g_failed = true;
    }
}

// A record without its length field, as versions before the length field was added wrote it.
std::vector<BYTE> WithoutLength(std::vector<BYTE> bytes, WORD version) {
    bytes.erase(bytes.begin() + 18, bytes.begin() + 22);
    KvPutValue(bytes.data() + 16, version, 2);
    return bytes;
}

// A size record as the fuzz target takes it: image width and height and the reader's orientation first.
void SaveSizeRes(const std::string& name, WORD width, WORD height, BYTE orientation,
                 const std::vector<BYTE>& record) {
    std::vector<BYTE> bytes(5);
    KvPutValue(bytes.data(), width, 2);
    KvPutValue(bytes.data() + 2, height, 2);
    bytes[4] = orientation;
    bytes.insert(bytes.end(), record.begin(), record.end());
    Save(SettingsRecordKind::kSizeRes, name, bytes);
}

std::vector<BYTE> HeuristicRecord(const CKvSizeRes& s) {
    std::vector<BYTE> bytes(CHeuristic::kRecordSize);
    int size = CHeuristic::kRecordSize;
    const_cast<CHeuristic&>(s.GetHeuristic()).WriteState(bytes.data(), size);
    return bytes;
}

// A size record of an older version around a heuristic record: the type, the heuristic and, from
// version 2, the orientation.
std::vector<BYTE> OldSizeRecord(const CKvSizeRes& s, WORD version) {
    std::vector<BYTE> bytes(KvStateIds::kSizeRes.stored.begin(), KvStateIds::kSizeRes.stored.end());
    auto put = [&](std::uint64_t value, int width) {
        for (int i = 0; i < width; ++i)
            bytes.push_back(static_cast<BYTE>(value >> (8 * i)));
    };
    put(version, 2);
    if (version >= 3)
        put(0, 4);
    const std::vector<BYTE> heuristic =
        version >= 3 ? HeuristicRecord(s) : WithoutLength(HeuristicRecord(s), 1);
    put(s.GetHeuristicType(), 4);
    put(heuristic.size(), 4);
    bytes.insert(bytes.end(), heuristic.begin(), heuristic.end());
    if (version >= 2) {
        put(s.IsMirrored() ? 1 : 0, 1);
        put(static_cast<DWORD>(s.GetAngle()), 4);
    }
    if (version >= 3)
        KvPutValue(bytes.data() + 18, bytes.size() - 18, 4);
    return bytes;
}

void SaveDetailRecords() {
    CKvNoiseReduction noise;
    Save(SettingsRecordKind::kNoiseReduction, "noise-default", Record(noise));
    noise.SetLevel(7);
    noise.SetFlag(1);
    noise.SetExtraValue(-2);
    Save(SettingsRecordKind::kNoiseReduction, "noise-set", Record(noise));
    Save(SettingsRecordKind::kNoiseReduction, "noise-v2", AsVersion(Record(noise), 2, 27));
    std::vector<BYTE> noiseV1 = AsVersion(Record(noise), 1, 25);
    KvPutValue(noiseV1.data() + 22, 2, 2);
    noiseV1[24] = 1;
    Save(SettingsRecordKind::kNoiseReduction, "noise-v1", noiseV1);

    CKvUSM usm;
    Save(SettingsRecordKind::kUSM, "usm-default", Record(usm));
    usm.SetChannelSelection(3);
    usm.SetSpareValue(7);
    usm.SetRadiusCode(10);
    usm.SetAmountCode(40);
    usm.SetThresholdCode(2);
    Save(SettingsRecordKind::kUSM, "usm-set", Record(usm));

    CKvUSMList list;
    Save(SettingsRecordKind::kUSMList, "usmlist-default", Record(list));
    list.Append(usm);
    usm.SetChannelSelection(6);
    list.Append(usm);
    usm.SetRadiusCode(3);
    list.Append(usm);
    Save(SettingsRecordKind::kUSMList, "usmlist-three", Record(list));
    Save(SettingsRecordKind::kUSMList, "usmlist-v1", WithoutLength(Record(list), 1));

    CKvVignette vignette;
    Save(SettingsRecordKind::kVignette, "vignette-default", Record(vignette));
    vignette.SetAmount(-25);
    Save(SettingsRecordKind::kVignette, "vignette-set", Record(vignette));
    Save(SettingsRecordKind::kVignette, "vignette-v0", AsVersion(Record(vignette), 0, 22));

    CKvFisheye fisheye;
    Save(SettingsRecordKind::kFisheye, "fisheye-default", Record(fisheye));
    fisheye.SetEnabled(true);
    fisheye.SetMode(9);
    Save(SettingsRecordKind::kFisheye, "fisheye-set", Record(fisheye));

    CKvRevelation revelation;
    Save(SettingsRecordKind::kRevelation, "revelation-default", Record(revelation));
    revelation.SetFirstAmount(10);
    revelation.SetSecondAmount(-20);
    revelation.SetThirdValue(30);
    Save(SettingsRecordKind::kRevelation, "revelation-set", Record(revelation));
}

CKvRegionBuffer RegionBytes(DWORD size, BYTE first) {
    CKvRegionBuffer region;
    region.Allocate(size);
    for (DWORD i = 0; i < size; ++i) {
        const BYTE b = static_cast<BYTE>(first + i);
        region.Write(&b, 1);
    }
    return region;
}

void SaveRedEyeRecords() {
    CKvFnRedEye redEye;
    Save(SettingsRecordKind::kFnRedEye, "redeye-default", Record(redEye));
    redEye.SetMode(CKvFnRedEye::kModeManual);
    redEye.SetKeepAutomatic(1);
    redEye.GetAutomaticRegions().push_back(RegionBytes(32, 1));
    redEye.GetAutomaticRegions().push_back(RegionBytes(32, 0x40));
    redEye.GetManualRegions().push_back(RegionBytes(32, 0x80));
    const std::vector<BYTE> regions = Record(redEye);
    Save(SettingsRecordKind::kFnRedEye, "redeye-regions", regions);
    Save(SettingsRecordKind::kFnRedEye, "redeye-cut-in-a-region",
         std::vector<BYTE>(regions.begin(), regions.begin() + 50));
    Save(SettingsRecordKind::kFnRedEye, "redeye-v0", AsVersion(regions, 0, 22));
}

void SaveDustRecords() {
    CKvDustRemoval dust;
    Save(SettingsRecordKind::kDustRemoval, "dust-default", Record(dust));
    const BYTE reference[] = {'D', 's', 't', 'R', 1, 0, 0, 0, 28, 0, 0, 0};
    dust.SetReferenceSize(sizeof reference);
    std::memcpy(dust.GetReference(), reference, sizeof reference);
    dust.SetStamp({2026, 12, 9, 13, 5, 0});
    dust.SetFirstExtra(1);
    const std::vector<BYTE> held = Record(dust);
    Save(SettingsRecordKind::kDustRemoval, "dust-reference", held);
    Save(SettingsRecordKind::kDustRemoval, "dust-cut-in-the-reference",
         std::vector<BYTE>(held.begin(), held.begin() + 30));
}

void SaveSizeRecords() {
    CKvSizeRes plain;
    SaveSizeRes("sizeres-default", 0, 0, 0, Record(plain));
    SaveSizeRes("sizeres-default-for-image", 3000, 2000, 0, Record(plain));

    CKvSizeRes whole(3000, 2000, nullptr, UnitValue::PerInch(300));
    SaveSizeRes("sizeres-whole", 3000, 2000, 0, Record(whole));
    SaveSizeRes("sizeres-whole-smaller-image", 1500, 1000, 0x0B, Record(whole));

    const CKvRect crop(200, 100, 1700, 2100);
    CKvSizeRes locked(3000, 2000, &crop, UnitValue::PerInch(300));
    locked.SetHeuristicType(CHeuristic::kTypeLockSize);
    locked.SetPrintWidth(UnitValue::Inches(4));
    locked.SetOrientation(1, 270, 1);
    locked.SetFlagByte(1);
    SaveSizeRes("sizeres-size-mirrored-270", 2000, 3000, 0x07, Record(locked));
    SaveSizeRes("sizeres-size-upright-reader", 3000, 2000, 0x30, Record(locked));
    SaveSizeRes("sizeres-v1", 3000, 2000, 0x02, OldSizeRecord(locked, 1));
    SaveSizeRes("sizeres-v2", 3000, 2000, 0x07, OldSizeRecord(locked, 2));
    SaveSizeRes("sizeres-v3", 2000, 3000, 0x07, OldSizeRecord(locked, 3));

    std::vector<BYTE> broken = Record(locked);
    const double nan = std::nan("");
    std::uint64_t bits;
    std::memcpy(&bits, &nan, sizeof bits);
    KvPutValue(broken.data() + 30 + 22 + 8 * 16, bits, 8);
    SaveSizeRes("sizeres-not-a-number", 2000, 3000, 0x07, broken);
}

CKvFilterPlugins PluginStep(const char* library, BYTE flag, const std::vector<BYTE>& parameters) {
    CKvFilterPlugins step;
    CPluginWin* plugin = CPluginWin::Create();
    if (!step.Attach(FuzzTestPlugin(library).c_str(), plugin)) {
        delete plugin;
        std::fprintf(stderr, "cannot attach %s\n", library);
        g_failed = true;
        return step;
    }
    step.SetFlag(flag);
    step.GetPlugin()->SetParameters(parameters.data(), static_cast<LONG>(parameters.size()));
    return step;
}

// A step's record by hand, for plug-ins the writer cannot hold: not installed, or gone.
std::vector<BYTE> StepRecord(DWORD scriptingId, BYTE flag, const std::vector<BYTE>& parameters,
                             const std::string& name) {
    std::vector<BYTE> bytes(KvStateIds::kFilterPlugins.stored.begin(),
                            KvStateIds::kFilterPlugins.stored.end());
    const auto put = [&](std::uint64_t value, int width) {
        for (int i = 0; i < width; ++i)
            bytes.push_back(static_cast<BYTE>(value >> (8 * i)));
    };
    put(1, 2);
    put(0, 4);
    put(scriptingId, 4);
    put(flag, 1);
    put(parameters.size(), 4);
    bytes.insert(bytes.end(), parameters.begin(), parameters.end());
    bytes.insert(bytes.end(), name.begin(), name.end());
    put(0, 1);
    KvPutValue(bytes.data() + 18, bytes.size() - 18, 4);
    return bytes;
}

void SavePluginRecords() {
    InstallFuzzPlugins();
    CKvFilterPlugins invert = PluginStep("KvInvert", 0, {7, 0, 9});
    CKvFilterPlugins blur = PluginStep("KvBlur", 1, {2, 0, 0, 0});
    CKvFilterPlugins none;
    Save(SettingsRecordKind::kFilterPlugins, "plugin-step-invert", Record(invert));
    Save(SettingsRecordKind::kFilterPlugins, "plugin-step-blur", Record(blur));
    Save(SettingsRecordKind::kFilterPlugins, "plugin-step-none", Record(none));
    Save(SettingsRecordKind::kFilterPlugins, "plugin-step-v0", AsVersion(Record(none), 0, 22));
    const std::vector<BYTE> missing =
        StepRecord(static_cast<DWORD>(FourCC("Nevr")), 1, {1, 2, 3}, "Never Installed");
    const std::vector<BYTE> gone = StepRecord(static_cast<DWORD>(FourCC("Gone")), 1, {}, "Gone");
    Save(SettingsRecordKind::kFilterPlugins, "plugin-step-missing", missing);
    Save(SettingsRecordKind::kFilterPlugins, "plugin-step-gone", gone);

    CKvFilterPluginList list;
    Save(SettingsRecordKind::kFilterPluginList, "plugin-list-default", Record(list));
    list.Append(invert);
    list.Append(none);
    list.Append(blur);
    std::vector<BYTE> withMissing = Record(list);
    Save(SettingsRecordKind::kFilterPluginList, "plugin-list-three", withMissing);
    withMissing.insert(withMissing.begin() + 24 + static_cast<std::ptrdiff_t>(Record(invert).size()),
                       missing.begin(), missing.end());
    withMissing.insert(withMissing.end(), gone.begin(), gone.end());
    KvPutValue(withMissing.data() + 18, withMissing.size() - 18, 4);
    KvPutValue(withMissing.data() + 22, 5, 2);
    Save(SettingsRecordKind::kFilterPluginList, "plugin-list-with-missing", withMissing);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s folder\n", argv[0]);
        return 2;
    }
    g_folder = argv[1];

    CKvBrightness brightness;
    Save(SettingsRecordKind::kBrightness, "brightness-default", Record(brightness));
    brightness.SetValue(1.25);
    brightness.SetAutoMode(true);
    brightness.SetLevels(1200, 60000);
    Save(SettingsRecordKind::kBrightness, "brightness-set", Record(brightness));
    Save(SettingsRecordKind::kBrightness, "brightness-v0", AsVersion(Record(brightness), 0, 22));

    CKvExposureAdjustment exposure;
    Save(SettingsRecordKind::kExposureAdjustment, "exposure-default", Record(exposure));
    exposure.SetCompensation(-1.234);
    exposure.SetMode(4);
    exposure.SetSecondValue(-7);
    exposure.SetFirstFlag(1);
    exposure.SetFourthValue(9);
    exposure.SetThirdValue(300);
    exposure.SetSecondFlag(1);
    exposure.SetFifthValue(-100000);
    exposure.SetSixthValue(12);
    Save(SettingsRecordKind::kExposureAdjustment, "exposure-set", Record(exposure));
    const std::size_t exposureSizes[] = {22, 26, 33, 35, 40, 48};
    for (WORD version = 1; version <= 5; ++version)
        Save(SettingsRecordKind::kExposureAdjustment, "exposure-v" + std::to_string(version),
             AsVersion(Record(exposure), version, exposureSizes[version]));

    CKvChromaBooster chroma;
    Save(SettingsRecordKind::kChromaBooster, "chroma-default", Record(chroma));
    chroma.SetAmount(42);
    chroma.SetEnabled(false);
    Save(SettingsRecordKind::kChromaBooster, "chroma-set", Record(chroma));

    CKvLEGeneral general;
    Save(SettingsRecordKind::kLEGeneral, "general-default", Record(general));
    for (int i = 0; i < 4; ++i)
        general.SetValue(i, (i + 1) * 1000);
    Save(SettingsRecordKind::kLEGeneral, "general-set", Record(general));
    Save(SettingsRecordKind::kLEGeneral, "general-v1", AsVersion(Record(general), 1, 26));

    CKvWBAdjustment wb;
    Save(SettingsRecordKind::kWBAdjustment, "wb-default", Record(wb));
    wb.SetGains(1.5, 2.25);
    wb.SetMode(3);
    wb.SetPreset(4098);
    wb.SetTemperature(4200);
    wb.SetSecondValue(7);
    wb.SetFlag(1);
    Save(SettingsRecordKind::kWBAdjustment, "wb-set", Record(wb));
    Save(SettingsRecordKind::kWBAdjustment, "wb-v1", AsVersion(Record(wb), 1, 38));
    Save(SettingsRecordKind::kWBAdjustment, "wb-v2", AsVersion(Record(wb), 2, 48));

    CKvLutChannel tone(nullptr, 1, {1, 2, 3, 4, 5, 6, 7, 8, 9});
    Save(SettingsRecordKind::kToneChannel, "tone-default", Record(tone));
    tone.SetBlack(0.1);
    tone.SetWhite(0.9);
    tone.SetGamma(1.5);
    tone.SetOutputLevels(0.05, 0.95);
    tone.SetPoints({{0, 0.05}, {0.3, 0.2}, {0.32, 0.8}, {1, 0.98}});
    tone.SetBrightness(0.5);
    const std::vector<BYTE> toneRecord = Record(tone);
    Save(SettingsRecordKind::kToneChannel, "tone-set", toneRecord);
    // Version 2 is version 3 without the output levels; the first layout also lacks marker and version.
    std::vector<BYTE> toneV2 = toneRecord;
    toneV2.erase(toneV2.begin() + 83, toneV2.begin() + 99);
    toneV2[21] = 2;
    Save(SettingsRecordKind::kToneChannel, "tone-v2", toneV2);
    std::vector<BYTE> toneFirst = toneV2;
    toneFirst.erase(toneFirst.begin() + 20, toneFirst.begin() + 23);
    Save(SettingsRecordKind::kToneChannel, "tone-first-layout", toneFirst);

    CKvHueChannel hue(nullptr, 3);
    Save(SettingsRecordKind::kHueChannel, "hue-default", Record(hue));
    hue.SetPoints({{0.1, 0.5, 0.3}, {0.2, -0.5, 0.3}, {0.9, 0.25, 0.2}});
    hue.SetLevel(0.1);
    hue.SetMode(2);
    const std::vector<BYTE> hueRecord = Record(hue);
    Save(SettingsRecordKind::kHueChannel, "hue-set", hueRecord);
    std::vector<BYTE> hueFirst = hueRecord;
    hueFirst.erase(hueFirst.begin() + 20, hueFirst.begin() + 23);
    Save(SettingsRecordKind::kHueChannel, "hue-first-layout", hueFirst);

    CKvChromaChannel chromaChannel(nullptr, 2);
    Save(SettingsRecordKind::kChromaChannel, "chroma-channel-default", Record(chromaChannel));
    chromaChannel.SetEditedPoints({{0.4, 0.5, 0.25}, {0.5, -0.5, 0.25}});
    chromaChannel.SetLevelA(-0.25);
    Save(SettingsRecordKind::kChromaChannel, "chroma-channel-set", Record(chromaChannel));

    CKvLutGroup group;
    Save(SettingsRecordKind::kLutGroup, "group-default", Record(group));
    group.AddLutChannel(1)->SetGamma(2);
    group.AddChromaChannel(2)->SetEditedPoints({{0.5, 0.5, 0.5}});
    group.AddHueChannel(3)->SetPoints({{0.25, 0.25, 0.25}});
    group.SetContrast(0.5);
    group.SetKind(CKvLutGroup::kLchKind);
    const std::vector<BYTE> lch = Record(group);
    Save(SettingsRecordKind::kLutGroup, "group-lch", lch);
    // The same channels stored hue before chroma, and as version 3, whose third channel is replaced.
    CKvLutGroup swapped;
    swapped.SetKind(CKvLutGroup::kLchKind);
    swapped.AddLutChannel(1);
    swapped.AddHueChannel(2)->SetPoints({{0.25, 0.25, 0.25}});
    swapped.AddChromaChannel(3)->SetEditedPoints({{0.5, 0.5, 0.5}});
    std::vector<BYTE> swappedRecord = Record(swapped);
    Save(SettingsRecordKind::kLutGroup, "group-lch-hue-first", swappedRecord);
    swappedRecord[17] = 3;
    Save(SettingsRecordKind::kLutGroup, "group-lch-v3", swappedRecord);
    // Version 2: marker, version, kind, then count, current index and contrast; the first layout starts
    // with the count.
    std::vector<BYTE> v2 = lch;
    v2.erase(v2.begin() + 18, v2.begin() + 22);
    v2[17] = 2;
    Save(SettingsRecordKind::kLutGroup, "group-v2", v2);
    std::vector<BYTE> first = v2;
    first.erase(first.begin() + 16, first.begin() + 19);
    Save(SettingsRecordKind::kLutGroup, "group-first-layout", first);

    // Calibration files: one whole, one without its last byte.
    std::vector<BYTE> calibration{1, 0, 2, 0};
    for (double v : {0.25, 0.5, 0.125, 0.75, -0.25, 0.0625, 0.1}) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        for (int i = 0; i < 8; ++i)
            calibration.push_back(static_cast<BYTE>(bits >> (8 * i)));
    }
    calibration.push_back(0);
    Save(SettingsRecordKind::kLchCalibration, "calibration-whole", calibration);
    calibration.pop_back();
    Save(SettingsRecordKind::kLchCalibration, "calibration-short", calibration);
    SaveDetailRecords();
    SaveSizeRecords();
    SavePluginRecords();
    SaveRedEyeRecords();
    SaveDustRecords();
    return g_failed ? 1 : 0;
}
