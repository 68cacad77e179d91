// The red-eye library's reader of saved regions over hostile bytes. Beyond "no crash, no undefined
// behaviour": a refused region hands nothing back, an accepted one corrects an image whatever its box
// and saves back to the very bytes it was read from.
#include "platform/redeye/RedEye.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "red-eye region invariant broken: %s\n", what);
    std::abort();
}

struct Bytes {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
};

int Give(void* context, void* destination, DWORD length) {
    auto* bytes = static_cast<Bytes*>(context);
    if (bytes->size - bytes->at < length)
        return 0;
    std::memcpy(destination, bytes->data + bytes->at, length);
    bytes->at += length;
    return 1;
}

int Collect(void* context, const void* bytes, DWORD length) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(context);
    out->insert(out->end(), static_cast<const std::uint8_t*>(bytes),
                static_cast<const std::uint8_t*>(bytes) + length);
    return 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The bytes lie in a block of their own size, so a read past their end is caught.
    const std::vector<std::uint8_t> input(data, data + size);
    Bytes bytes{input.data(), input.size()};
    ReRegion* region = nullptr;
    const DWORD loaded = ReLoadRegion(Give, &bytes, static_cast<DWORD>(size), &region);
    if (loaded != RE_OK) {
        if (region)
            Fail("a refused region was handed back");
        return 0;
    }
    if (!region || region->left > region->right || region->top > region->bottom)
        Fail("an accepted region has no box");
    ReList list;
    ReListInit(&list);
    if (ReListInsert(&list, region) != RE_OK)
        Fail("an accepted region cannot be listed");

    // A small red image: the correction stays inside it wherever the box lies.
    std::vector<std::uint8_t> pixels(7 * 5 * 3);
    for (std::size_t i = 0; i < pixels.size(); i += 3)
        pixels[i] = 200;
    ReImage image{sizeof(ReImage), 7, 5, 21, RE_FORMAT_RGB8, pixels.data(), nullptr, {0, 0}};
    if (ReCorrectRegions(&image, &list, nullptr, nullptr, 30) != RE_OK)
        Fail("an accepted region cannot be corrected");

    std::vector<std::uint8_t> saved;
    DWORD savedSize = 0;
    if (ReSaveRegion(ReListNext(&list, nullptr), Collect, &saved, &savedSize) != RE_OK ||
        saved.size() != savedSize || saved != input)
        Fail("an accepted region does not save back to its bytes");
    ReListEmpty(&list);
    return 0;
}
