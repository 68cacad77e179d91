// Writes the corpus of the aggregate settings fuzz target: blobs of the aggregate writer (every record, a
// new set, selections) and version-1 blobs laid out field by field. Run it as
// `image_proc_set_corpus <folder>`.
#include "rawlib/settings/KvRecordCursor.h"
#include "rawlib/settings/KvStateIds.h"
#include "rawlib/settings/tests/AllSettings.h"

#include <bit>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::filesystem::path g_folder;

void Save(const std::string& name, const std::vector<BYTE>& bytes) {
    std::ofstream out(g_folder / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<BYTE> Write(IKvState& state) {
    std::vector<BYTE> bytes(static_cast<std::size_t>(state.GetStateSize()));
    state.WriteState(bytes.data(), static_cast<int>(bytes.size()));
    return bytes;
}

void Fill(kvtest::AllSettings& s, CKvImageProcSet& set) {
    CKvUSM usm;
    usm.SetAmountCode(80);
    s.usmList.Append(usm);
    s.lutGroup1.SetContrast(0.25);
    s.lutGroup3.AddChromaChannel(2);
    s.lutGroup3.AddHueChannel(3);
    s.exposure.SetCompensation(0.5);
    s.whiteBalance.SetMode(CKvWBAdjustment::kModeTemperature);
    s.whiteBalance.SetTemperature(6500);
    s.noiseReduction.SetLevel(2);
    s.vignette.SetAmount(20);
    s.redEye.SetMode(CKvFnRedEye::kModeManual);
    if (s.dustRemoval.SetReferenceSize(40))
        for (DWORD i = 0; i < 40; ++i)
            s.dustRemoval.GetReference()[i] = static_cast<BYTE>(i);
    s.fisheye.SetMode(4);
    s.chromaBooster.SetAmount(15);
    s.brightness.SetValue(-0.25);
    s.Attach(set);
    set.exposureEnabled = set.vignetteEnabled = set.dustEnabled = 1;
    set.orientation = 1;
    set.rotation = 90;
    const BYTE opaque[] = {1, 2, 3, 4};
    set.opaqueBlock.Set(opaque, sizeof opaque);
}

// A version-1 body: each part's enabled byte, its size and its record, the size record, the orientation,
// the rotation and the two gains.
std::vector<BYTE> Version1(kvtest::AllSettings& s) {
    std::vector<BYTE> bytes(18);
    KvPutBytes(bytes.data(), KvStateIds::kImageProcSet.Data(), 16);
    KvPutValue(bytes.data() + 16, 1, 2);
    const auto put = [&](std::uint64_t value, int width) {
        bytes.resize(bytes.size() + static_cast<std::size_t>(width));
        KvPutValue(bytes.data() + bytes.size() - width, value, width);
    };
    const auto part = [&](BYTE enabled, IKvState* record, bool withEnabled) {
        if (withEnabled)
            put(enabled, 1);
        const std::vector<BYTE> r = record ? Write(*record) : std::vector<BYTE>();
        put(r.size(), 4);
        bytes.insert(bytes.end(), r.begin(), r.end());
    };
    part(1, &s.usmList, true);
    part(1, &s.lutGroup1, true);
    part(0, &s.lutGroup2, true);
    part(0, &s.sizeRes, false);
    put(0, 1);
    put(static_cast<WORD>(SHORT{270}), 2);
    double red = 1.5, blue = 0.75;
    put(std::bit_cast<std::uint64_t>(red), 8);
    put(std::bit_cast<std::uint64_t>(blue), 8);
    return bytes;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: image_proc_set_corpus <folder>\n");
        return 2;
    }
    g_folder = argv[1];
    std::filesystem::create_directories(g_folder);
    {
        CKvImageProcSet set;
        Save("new-set.bin", Write(set));
    }
    {
        kvtest::AllSettings s;
        CKvImageProcSet set;
        Fill(s, set);
        Save("every-record.bin", Write(set));
        set.recordMask =
            CKvImageProcSet::kExposure | CKvImageProcSet::kWhiteBalance | CKvImageProcSet::kSizeRes;
        set.markerMask = CKvImageProcSet::kExposure;
        Save("selection.bin", Write(set));
    }
    {
        kvtest::AllSettings s;
        Save("version-1.bin", Version1(s));
    }
    return 0;
}
