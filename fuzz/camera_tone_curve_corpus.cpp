// Writes the corpus of the camera tone-curve fuzz target: tone-curve tags holding curve groups of the
// group writer (identity, gamma, levels and points, the four-channel colour group) and one of no group.
// Run it as `camera_tone_curve_corpus <folder>`.
#include "rawlib/settings/CKvLutGroup.h"
#include "rawlib/settings/KvToneCurves.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

void Save(const std::filesystem::path& folder, const std::string& name, CKvLutGroup& group) {
    std::vector<BYTE> bytes(kCameraToneCurveSize, 0);
    if (group.WriteState(bytes.data(), static_cast<int>(bytes.size())) <= 0)
        std::fprintf(stderr, "%s: the group does not fit the tag\n", name.c_str());
    std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

CKvLutChannel& First(CKvLutGroup& group) {
    return *dynamic_cast<CKvLutChannel*>(group.GetChannelAt(0));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: camera_tone_curve_corpus <folder>\n");
        return 2;
    }
    const std::filesystem::path folder(argv[1]);
    std::filesystem::create_directories(folder);

    CKvLutGroup identity;
    Save(folder, "identity", identity);

    CKvLutGroup gamma;
    First(gamma).SetGamma(2.2);
    Save(folder, "gamma", gamma);

    CKvLutGroup levels;
    First(levels).SetBlack(0.05);
    First(levels).SetWhite(0.9);
    First(levels).SetOutputLevels(0.1, 0.95);
    levels.SetContrast(0.3);
    First(levels).InsertPoint();
    Save(folder, "levels-and-point", levels);

    CKvLutGroup colour;
    colour.AddChromaChannel(2);
    colour.AddHueChannel(3);
    colour.SetKind(CKvLutGroup::kLchKind);
    Save(folder, "colour-group", colour);

    std::ofstream(folder / "no-group", std::ios::binary | std::ios::trunc) << "not a curve group";
    return 0;
}
