// Writes the corpus of the settings-record fuzz target: valid records of each kind, current and older
// versions, each file prefixed with its kind byte. Run it as `settings_records_corpus <folder>`.
#include "SettingsRecordKinds.h"

#include "rawlib/settings/CKvBrightness.h"
#include "rawlib/settings/CKvChromaBooster.h"
#include "rawlib/settings/CKvExposureAdjustment.h"
#include "rawlib/settings/CKvLEGeneral.h"
#include "rawlib/settings/CKvWBAdjustment.h"
#include "rawlib/settings/KvRecordCursor.h"

#include <cstdio>
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
    return g_failed ? 1 : 0;
}
