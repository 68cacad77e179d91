// Writes the corpora of the dust fuzz targets with the engine's own writers: dust references and dust maps
// (fuzz/corpus/dust_reference, dust_map) and tuning vectors and tag sets (dust_tuning). Run it as
// `dust_corpus <corpus folder>`.
#include "DustTagSet.h"

#include "rawlib/filters/dust/CDustImageEncoder.h"
#include "rawlib/filters/dust/KvDustMapFormat.h"
#include "rawlib/filters/dust/KvDustReferenceFormat.h"
#include "rawlib/filters/dust/KvDustTuning.h"

#include "platform/pravon/CPravonMemoryManager.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

std::filesystem::path g_folder;
bool g_failed = false;

void Check(IPravonError* error, const char* what) {
    if (!error)
        return;
    std::fprintf(stderr, "%s: %s", what, error->Describe().c_str());
    error->Release();
    g_failed = true;
}

void Save(const char* target, const std::string& name, const Bytes& bytes) {
    const std::filesystem::path folder = g_folder / target;
    std::filesystem::create_directories(folder);
    std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", (folder / name).c_str());
        g_failed = true;
    }
}

// The compressed stream of an 8-bit image whose samples come from `sample(x, y)`.
CDustBlockList Stream(LONG width, LONG height, const std::function<BYTE(LONG, LONG)>& sample) {
    CPravonMemoryManager manager(64);
    IPravonImage* raw = nullptr;
    Check(manager.CreateImage(1, &raw), "image");
    PravonImagePtr image(raw);
    Check(image->SetColorSpace(PravonColorSpace::kGrey8), "colour space");
    Check(image->SetSize(width, height), "size");
    Bytes rows(static_cast<std::size_t>(width) * height);
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x)
            rows[static_cast<std::size_t>(y) * width + x] = sample(x, y);
    IPravonTileGrid* grid = nullptr;
    Check(image->MapRect(CPravonRect(0, 0, width, height), &grid), "grid");
    for (LONG r = 0; r < grid->GetRowCount(); ++r) {
        for (LONG c = 0; c < grid->GetColumnCount(); ++c) {
            void* data = nullptr;
            PravonRect tile;
            LONG rowBytes = 0;
            Check(image->LockTile(grid, c, r, &data, &tile, nullptr, &rowBytes), "lock");
            for (LONG y = tile.top; y < tile.bottom; ++y)
                std::memcpy(static_cast<BYTE*>(data) + static_cast<std::size_t>(y - tile.top) * rowBytes,
                            rows.data() + static_cast<std::size_t>(y) * width + tile.left,
                            static_cast<std::size_t>(tile.right - tile.left));
            Check(image->UnlockTile(grid, c, r), "unlock");
        }
    }
    grid->Release();
    CDustBlockList blocks;
    Check(CDustImageEncoder::Encode(image.get(), &blocks), "compress");
    return blocks;
}

BYTE Speckled(LONG x, LONG y) {
    const LONG dx = x - 60;
    const LONG dy = y - 40;
    return dx * dx + dy * dy < 36 ? 60 : static_cast<BYTE>(200 + (x * 7 + y * 3) % 9);
}

void WriteReferences() {
    struct Reference {
        const char* name;
        ULONG camera;
        ULONG width;
        ULONG height;
        ULONG shootingWord; // image lens in the low byte, aperture code in the next (see the target)
        ULONG lens;
        ULONG aperture;
    };
    const Reference references[] = {
        {"same-lens-copy", 257, 100, 100, 50 | 72 << 8, 50, 72},
        {"lens-change-wider-aperture", 257, 120, 100, 35 | 48 << 8, 50, 72},
        {"wider-aperture-blur", 259, 100, 110, 50 | 60 << 8, 50, 96},
        {"lens-change-only", 1026, 104, 100, 14 | 96 << 8, 255, 72},
        {"abort-midway", 260, 100, 100, 23 | 48 << 8 | 5 << 16, 50, 72},
        {"no-dust-after-blur", 1025, 100, 100, 50 | 24 << 8, 50, 200},
    };
    for (const Reference& r : references) {
        DustReferenceHeader header;
        header.cameraType = r.camera;
        header.width = r.width;
        header.height = r.height;
        header.shootingWord = r.shootingWord;
        header.lensCode = r.lens;
        header.apertureCode = r.aperture;
        const auto sample = std::string(r.name) == "no-dust-after-blur"
                                ? std::function<BYTE(LONG, LONG)>([](LONG, LONG) { return BYTE{210}; })
                                : std::function<BYTE(LONG, LONG)>(Speckled);
        Bytes blob;
        Check(KvDust::WriteReference(
                  header, Stream(static_cast<LONG>(r.width), static_cast<LONG>(r.height), sample), &blob),
              r.name);
        Save("dust_reference", r.name, blob);
    }
}

std::vector<WORD> StepTable(ULONG entries) {
    std::vector<WORD> table(entries);
    for (ULONG i = 0; i < entries; ++i)
        table[i] = static_cast<WORD>((i / 256) * 257);
    return table;
}

void WriteMaps() {
    struct Map {
        const char* name;
        ULONG entries;
        bool correction;
        bool second;
        ULONG orientation;
    };
    const Map maps[] = {
        {"eight-bit-no-second-map", KvDust::kToneEntries8, true, false, 0},
        {"eight-bit-with-second-map", KvDust::kToneEntries8, true, true, 0},
        {"sixteen-bit-flipped-90", KvDust::kToneEntries16, true, true, 181},
        {"no-dust", KvDust::kToneEntries8, false, false, KvDust::OrientationWord(false, 270)},
    };
    for (const Map& m : maps) {
        DustMapHeader header;
        header.width = 48;
        header.height = 40;
        header.orientation = m.orientation;
        header.toneEntries = m.entries;
        Bytes tone;
        Check(KvDust::CompressToneTable(StepTable(m.entries), &tone), m.name);
        CDustBlockList correction;
        CDustBlockList second;
        if (m.correction)
            correction = Stream(
                48, 40, [](LONG x, LONG y) { return static_cast<BYTE>(x > 20 && x < 26 ? 64 : 128 + y); });
        if (m.second)
            second = Stream(48, 40, [](LONG x, LONG) { return static_cast<BYTE>(x < 8 ? 255 : 0); });
        Bytes blob(KvDust::kMapHeaderBytes + tone.size() + correction.GetLength() + second.GetLength());
        Check(KvDust::WriteMap(header, tone, correction, second, blob.size(), blob.data()), m.name);
        Save("dust_map", m.name, blob);
    }
}

Bytes Real(double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    Bytes out;
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<BYTE>(bits >> (8 * i)));
    return out;
}

Bytes Word(ULONG value) {
    return {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)};
}

void WriteTunings() {
    // Tag sets as a camera writes them, each saved both as tags and as the vector the builder makes of them.
    struct TagSet {
        const char* name;
        WORD model;
        double fNumber;
        const char* lensVersion;
        bool everything;
    };
    const TagSet sets[] = {
        {"type-257-f8", 257, 8.0, "0100", false},
        {"type-259-f3.5-all-tags", 259, 3.5, "0101", true},
        {"type-1026-f5.6-all-tags", 1026, 5.6, "0100", true},
    };
    for (const TagSet& set : sets) {
        Bytes input{static_cast<BYTE>(dustfuzz::DustTuningMode::kBuildFromTags), BYTE(set.model),
                    BYTE(set.model >> 8)};
        Bytes lens(31, 0);
        std::memcpy(lens.data(), set.lensVersion, 4);
        lens[std::strcmp(set.lensVersion, "0101") == 0 ? 4 : 13] = 35;
        dustfuzz::AppendTag(input, 0, Word(1));
        dustfuzz::AppendTag(input, 1, Real(set.fNumber));
        dustfuzz::AppendTag(input, 2, lens);
        if (set.everything) {
            dustfuzz::AppendTag(input, 3, {0, 0, 0x90, 0x01});
            Bytes info = Real(2.25);
            const Bytes blue = Real(1.5);
            info.insert(info.end(), blue.begin(), blue.end());
            dustfuzz::AppendTag(input, 4, info);
            dustfuzz::AppendTag(input, 5, {0, 2, 0, 2, 0, 1, 1, 2});
            dustfuzz::AppendTag(input, 6, Word(2));
            dustfuzz::AppendTag(input, 7, Word(4));
            Bytes settings(304, 0);
            settings[4] = 5;
            dustfuzz::AppendTag(input, 8, settings);
            dustfuzz::AppendTag(input, 9, Word(3));
        }
        Save("dust_tuning", std::string("tags-") + set.name, input);

        PravonTagControlPtr owned(new CPravonTagControl());
        dustfuzz::ReadTagSet(input.data() + 1, input.size() - 1,
                             static_cast<CPravonTagControl*>(owned.get()));
        Bytes vector;
        Check(KvDust::BuildTuning(owned.get(), &vector), set.name);
        vector.insert(vector.begin(), static_cast<BYTE>(dustfuzz::DustTuningMode::kReadVector));
        Save("dust_tuning", std::string("vector-") + set.name, vector);
        if (!set.everything)
            continue;
        // Older versions of the same vector: the fields they lack left out, the version word set to match.
        const auto older = [&](ULONG version, std::vector<int> dropped) {
            Bytes words(vector.begin() + 1, vector.end());
            Bytes out{static_cast<BYTE>(dustfuzz::DustTuningMode::kReadVector)};
            for (int w = 0; w < static_cast<int>(KvDust::kTuningWords); ++w) {
                if (std::find(dropped.begin(), dropped.end(), w) != dropped.end())
                    continue;
                const Bytes word =
                    w == 1 ? Word(version) : Bytes(words.begin() + 4 * w, words.begin() + 4 * w + 4);
                out.insert(out.end(), word.begin(), word.end());
            }
            Save("dust_tuning", std::string("vector-v") + std::to_string(version) + "-" + set.name, out);
        };
        older(1, {3, 4, 5, 6, 7, 14});
        older(2, {4, 5, 6, 7, 14});
        older(3, {4, 5, 6, 7});
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s corpus-folder\n", argv[0]);
        return 2;
    }
    g_folder = argv[1];
    WriteReferences();
    WriteMaps();
    WriteTunings();
    return g_failed ? 1 : 0;
}
