// The I/O library's loader factory and PNG loader over hostile bytes. Beyond "no crash, no undefined
// behaviour": a refused file leaves the tag control empty; an accepted one gives an image of the size it
// announced, whose load either ends or fails a step, and never steps past its rows.
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/quasel/CPravonPngLoad.h"
#include "platform/quasel/CPravonTagControl.h"

#include "testing/MemoryFileStream.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "PNG load invariant broken: %s\n", what);
    std::abort();
}

struct TagsReleaser {
    void operator()(CPravonTagControl* tags) const { tags->Release(); }
};

// Larger images are opened (their sizes checked) but not loaded, to keep each input quick.
constexpr ULONGLONG kMaxLoadedPixels = ULONGLONG{1} << 22;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    MemoryFileStream stream(std::vector<BYTE>(data, data + size));
    IPravonLoad* rawLoad = nullptr;
    if (PravonErrorPtr(IPravonLoad::CreateLoad(&stream, &rawLoad)))
        return 0;
    PravonLoadPtr load(rawLoad);
    std::unique_ptr<CPravonTagControl, TagsReleaser> tags(new CPravonTagControl());
    if (PravonErrorPtr(load->Open(&stream, tags.get()))) {
        if (tags->GetTagCount() != 0)
            Fail("a refused file changed the tag control");
        return 0;
    }
    auto* png = dynamic_cast<CPravonPngLoad*>(load.get());
    if (!png)
        return 0;
    if (png->GetWidth() <= 0 || png->GetHeight() <= 0 ||
        static_cast<ULONG>(png->GetWidth()) > CPravonPngLoad::kMaxSide ||
        static_cast<ULONG>(png->GetHeight()) > CPravonPngLoad::kMaxSide)
        Fail("an accepted file has a size beyond the limits");
    if (static_cast<ULONGLONG>(png->GetWidth()) * static_cast<ULONGLONG>(png->GetHeight()) > kMaxLoadedPixels)
        return 0;
    CPravonMemoryManager manager(64);
    IPravonImage* rawImage = nullptr;
    if (PravonErrorPtr(manager.CreateImage(1, &rawImage)))
        return 0;
    PravonImagePtr image(rawImage);
    if (PravonErrorPtr(load->Begin(image.get())))
        Fail("an accepted file cannot begin its load");
    LONG width = 0, height = 0;
    if (PravonErrorPtr(image->GetSize(&width, &height)) || width != png->GetWidth() ||
        height != png->GetHeight())
        Fail("the image does not have the announced size");
    LONG steps = 0;
    while (!load->IsComplete()) {
        if (PravonErrorPtr(load->Step()))
            return 0;
        if (++steps > height)
            Fail("the load steps past its rows");
    }
    PravonPixel pixel;
    if (PravonErrorPtr(image->GetPixel(width - 1, height - 1, &pixel)))
        Fail("a loaded image has no last pixel");
    return 0;
}
