// Writes the corpus of the settings-record fuzz target: valid records of each kind, current and older
// versions, each file prefixed with its kind byte. Run it as `settings_records_corpus <folder>`.
#include "SettingsRecordKinds.h"

#include "rawlib/settings/CKvBrightness.h"
#include "rawlib/settings/CKvChromaBooster.h"
#include "rawlib/settings/CKvExposureAdjustment.h"
#include "rawlib/settings/CKvLEGeneral.h"
#include "rawlib/settings/CKvLutGroup.h"
#include "rawlib/settings/CKvWBAdjustment.h"
#include "rawlib/settings/KvRecordCursor.h"

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
    return g_failed ? 1 : 0;
}
