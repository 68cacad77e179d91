// develop: a program of someone else's that links the installed raw library and develops a raw file through
// its exported filter-chain object, with the settings stored in the file, into an 8-bit PNG.
//
//   develop RAWFILE OUTPUT.png
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/IPravonFilterChain.h"
#include "platform/quasel/IPravonLoad.h"
#include "rawlib/pipeline/IKvnFilterChain.h"

#include <png.h>

#include <cstdio>
#include <vector>

namespace {

// The chain's output samples are 16-bit and display-encoded: their high byte is the 8-bit value.
constexpr int kHighByteShift = 8;
constexpr int kChannels = 3;

bool WritePng(const char* path, LONG width, LONG height, const std::vector<WORD>& rgb16) {
    std::vector<png_byte> rgb8(rgb16.size());
    for (std::size_t i = 0; i < rgb16.size(); ++i)
        rgb8[i] = static_cast<png_byte>(rgb16[i] >> kHighByteShift);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    return png_image_write_to_file(&image, path, 0, rgb8.data(), 0, nullptr) != 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s RAWFILE OUTPUT.png\n", argv[0]);
        return 2;
    }
    CPravonMemoryManager manager;
    IPravonImage* image = nullptr;
    IPravonTagControl* tags = nullptr;
    IKvnFilterChain* object = nullptr;
    IPravonFilterChain* chain = nullptr;
    LONG width = 0, height = 0;
    std::vector<WORD> rgb16;
    IPravonError* e = IPravonLoad::LoadFile(&manager, PravonFile{argv[1]}, &image, &tags);
    if (!e)
        e = IKvnFilterChain::CreateObject(&object);
    if (!e)
        e = object->Initialize(&manager, image, tags);
    if (!e)
        e = object->GetFilterChain(&chain);
    if (!e)
        e = chain->GetOutput()->GetSize(&width, &height);
    if (!e) {
        rgb16.resize(static_cast<std::size_t>(width) * height * kChannels);
        e = chain->GetOutput()->GetData(PravonRect{0, 0, width, height}, rgb16.data(),
                                        static_cast<std::size_t>(width) * kChannels * sizeof(WORD));
    }
    if (object)
        object->Destroy();
    if (tags)
        tags->Release();
    if (image)
        image->Release();
    if (e) {
        std::fprintf(stderr, "develop: %s\n", e->Describe().c_str());
        e->Release();
        return 1;
    }
    if (!WritePng(argv[2], width, height, rgb16)) {
        std::fprintf(stderr, "develop: cannot write %s\n", argv[2]);
        return 1;
    }
    std::printf("develop: %dx%d written to %s\n", width, height, argv[2]);
    return 0;
}
