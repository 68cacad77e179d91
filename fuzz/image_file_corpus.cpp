// Writes the corpus of the image-file fuzz target with the canvas library's own writers: PNG files with
// and without alpha, JPEG files of several qualities and sizes, and cut-short copies of them. Usage:
// image_file_corpus <folder>.
#include "platform/zizoraz/zIzoRaz.h"

#include "platform/win/utf16.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// A small picture drawn through the library: a backdrop, a translucent disc and a frame.
IproHandle Picture(LONG width, LONG height, bool translucent) {
    IproHandle image = kIproNoHandle, canvas = kIproNoHandle;
    iproCreateImage(width, height, &image);
    iproCreateCanvasFromImage(image, &canvas);
    if (!translucent)
        iproFillRectangle(canvas, 0, 0, static_cast<float>(width), static_cast<float>(height), 0xFF336699, 2);
    iproFillEllipse(canvas, 1, 1, width - 2.0f, height - 2.0f, 0x80FFCC00, 0);
    const IproPointF frame[] = {{0.5f, 0.5f}, {width - 0.5f, 0.5f}, {width - 0.5f, height - 0.5f}};
    iproDrawPolygon(canvas, frame, 3, 0xFF0000FF, 1);
    iproReleaseHandle(canvas);
    return image;
}

bool Save(IproHandle image, const std::filesystem::path& path, LONG quality) {
    IproCodecParam entry{IPRO_PARAM_QUALITY, reinterpret_cast<std::uintptr_t>(&quality)};
    IproCodecParam* entries[] = {&entry};
    IproCodecParamList list{sizeof(IproCodecParamList), 1, entries};
    return iproSaveImage(image, Utf::Utf8ToWide(path.string()).c_str(), IPRO_SAVE_REPLACE, &list) == 1;
}

void WriteCut(const std::filesystem::path& from, const std::filesystem::path& to, std::size_t keep) {
    std::ifstream in(from, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bytes.resize(std::min(bytes.size(), keep));
    std::ofstream(to, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s folder\n", argv[0]);
        return 2;
    }
    const std::filesystem::path out = argv[1];
    std::filesystem::create_directories(out);
    iproStartup();
    const struct {
        const char* name;
        LONG width, height;
        bool translucent;
        LONG quality;
    } files[] = {
        {"opaque.png", 16, 12, false, 0}, {"translucent.png", 12, 16, true, 0}, {"dot.png", 1, 1, false, 0},
        {"photo.jpg", 24, 17, false, 90}, {"coarse.jpg", 33, 9, false, 5},      {"dot.jpg", 1, 1, false, 75},
    };
    bool ok = true;
    for (const auto& f : files) {
        IproHandle image = Picture(f.width, f.height, f.translucent);
        ok = Save(image, out / f.name, f.quality) && ok;
        iproReleaseHandle(image);
    }
    WriteCut(out / "opaque.png", out / "opaque-cut.png", 60);
    WriteCut(out / "photo.jpg", out / "photo-cut.jpg", 400);
    iproShutdown();
    if (!ok) {
        std::fprintf(stderr, "a corpus file could not be written\n");
        return 1;
    }
    std::printf("wrote the image-file corpus to %s\n", out.c_str());
    return 0;
}
