// develop RAWFILE OUT.ppm: develops a raw file (the raw sample or a camera raw file) with the settings
// stored in it, through the raw library's exported filter-chain object, into a 16-bit PPM.
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/IPravonFilterChain.h"
#include "platform/quasel/IPravonLoad.h"
#include "rawlib/pipeline/IKvnFilterChain.h"

#include <cstdio>
#include <vector>

constexpr std::size_t kChannels = 3; // red, green, blue

// Each call answers null, or an error chain for the caller to Describe() and Release().
IPravonError* Develop(const char* path, LONG* width, LONG* height, std::vector<WORD>* rgb) {
    CPravonMemoryManager manager;
    IPravonImage* image = nullptr;
    IPravonTagControl* tags = nullptr;
    IKvnFilterChain* object = nullptr;
    IPravonFilterChain* chain = nullptr;
    IPravonError* e = IPravonLoad::LoadFile(&manager, PravonFile{path}, &image, &tags);
    if (!e)
        e = IKvnFilterChain::CreateObject(&object);
    if (!e)
        e = object->Initialize(&manager, image, tags);
    if (!e)
        e = object->GetFilterChain(&chain);
    if (!e)
        e = chain->GetOutput()->GetSize(width, height);
    if (!e) {
        rgb->resize(std::size_t(*width) * *height * kChannels); // 16-bit display-encoded samples
        e = chain->GetOutput()->GetData(PravonRect{0, 0, *width, *height}, rgb->data(),
                                        *width * kChannels * sizeof(WORD));
    }
    if (object)
        object->Destroy();
    if (tags)
        tags->Release();
    if (image)
        image->Release();
    return e;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: develop RAWFILE OUT.ppm\n");
        return 2;
    }
    LONG width = 0, height = 0;
    std::vector<WORD> rgb;
    if (IPravonError* e = Develop(argv[1], &width, &height, &rgb)) {
        std::fprintf(stderr, "develop: %s\n", e->Describe().c_str());
        e->Release();
        return 1;
    }
    std::FILE* ppm = std::fopen(argv[2], "wb");
    if (!ppm) {
        std::perror(argv[2]);
        return 1;
    }
    // A PPM of 16-bit samples stores each one big-endian.
    std::fprintf(ppm, "P6\n%d %d\n65535\n", width, height);
    for (WORD sample : rgb) {
        std::fputc(sample >> 8, ppm);
        std::fputc(sample & 0xff, ppm);
    }
    if (std::fclose(ppm) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    std::printf("develop: %dx%d written to %s\n", width, height, argv[2]);
    return 0;
}
