// Writes the corpus of the red-eye region fuzz target: the saved regions of the pupils the library finds
// in a painted picture, one file each. Run it as `redeye_region_corpus <folder>`.
#include "platform/redeye/RedEye.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

int Collect(void* context, const void* bytes, DWORD length) {
    auto* out = static_cast<std::vector<char>*>(context);
    out->insert(out->end(), static_cast<const char*>(bytes), static_cast<const char*>(bytes) + length);
    return 1;
}

// Skin with red disks of the given centres and radii, the last one cut by the picture's right edge.
std::vector<std::uint8_t> Picture(LONG width, LONG height) {
    struct Disk {
        LONG x, y, radius;
    };
    const Disk disks[] = {{20, 20, 3}, {60, 24, 4}, {width - 1, 50, 4}};
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 3);
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x) {
            std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 3];
            p[0] = 200, p[1] = 150, p[2] = 120;
            for (const Disk& d : disks)
                if ((x - d.x) * (x - d.x) + (y - d.y) * (y - d.y) <= d.radius * d.radius)
                    p[0] = 220, p[1] = 30, p[2] = 40;
        }
    return pixels;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s folder\n", argv[0]);
        return 2;
    }
    const LONG width = 96, height = 80;
    std::vector<std::uint8_t> pixels = Picture(width, height);
    ReImage image{sizeof(ReImage), width, height, width * 3, RE_FORMAT_RGB8, pixels.data(), nullptr, {0, 0}};
    ReList found;
    ReListInit(&found);
    if (ReDetectAuto(&image, 0, nullptr, nullptr, 0, &found) != RE_OK) {
        std::fprintf(stderr, "detection failed\n");
        return 1;
    }
    int written = 0;
    for (const ReRegion* r = ReListNext(&found, nullptr); r; r = ReListNext(&found, r)) {
        std::vector<char> bytes;
        DWORD size = 0;
        if (ReSaveRegion(r, Collect, &bytes, &size) != RE_OK)
            return 1;
        std::ofstream out(std::filesystem::path(argv[1]) / ("region-" + std::to_string(written++)),
                          std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out)
            return 1;
    }
    ReListEmpty(&found);
    return written == 3 ? 0 : 1;
}
