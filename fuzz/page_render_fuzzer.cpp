// The page renderer over hostile layouts: whatever a document's pages and items hold (sizes of zero, of
// any sign or far too large, numbers that are not numbers, boxes missing), a page renders or fails without
// a crash or undefined behaviour, and a partial render never changes a pixel outside its rectangle.
#include "platform/renderers/CPageRenderer.h"

#include "platform/zizoraz/IproHandles.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr LONG kWidth = 48, kHeight = 32;
constexpr std::uint32_t kSentinel = 0xFF123456;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "page render invariant broken: %s\n", what);
    std::abort();
}

// The layout as a document of the library, read from a file in memory.
DocHandle Open(const std::uint8_t* data, std::size_t size) {
    const int fd = memfd_create("layout", 0);
    if (fd < 0)
        return kDocNoHandle;
    DocHandle document = kDocNoHandle;
    if (write(fd, data, size) == static_cast<ssize_t>(size)) {
        const std::wstring path = L"/proc/self/fd/" + std::to_wstring(fd);
        docCreateDocumentFromLDF(path.c_str(), &document);
    }
    close(fd);
    return document;
}

IproHandle SentinelImage() {
    IproHandle image = kIproNoHandle;
    if (iproCreateImage(kWidth, kHeight, &image) != 1)
        Fail("no target image");
    std::shared_ptr<CIproImage> pixels = IproHandles::FindImage(image);
    std::lock_guard<std::mutex> guard(pixels->lock);
    pixels->pixels.argb.assign(pixels->pixels.argb.size(), kSentinel);
    return image;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool started = iproStartup() == 1 && docStartup() == 1;
    if (!started)
        Fail("the libraries did not start");
    const DocHandle document = Open(data, size);
    if (document == kDocNoHandle)
        return 0;
    CPageRenderer renderer;
    RendrSubscriptions subscriptions;
    renderer.SetDocument(document);
    LONG pages = 0;
    docGetDocNbPages(document, &pages);
    for (LONG page = 0; page < pages && page < 4; ++page) {
        const IproHandle image = SentinelImage();
        const std::wstring context =
            L"iProImg=" + std::to_wstring(image) +
            L";page_width=48.000000;page_height=32.000000;page_invalidRect_left=8;"
            L"page_invalidRect_top=4;page_invalidRect_right=30;page_invalidRect_bottom=20;";
        const LONG result = renderer.RenderPage(page, context.c_str(), subscriptions);
        if (result != 0 && result != 1)
            Fail("a result other than 0 or 1");
        std::shared_ptr<CIproImage> pixels = IproHandles::FindImage(image);
        std::lock_guard<std::mutex> guard(pixels->lock);
        for (LONG y = 0; y < kHeight; ++y) {
            for (LONG x = 0; x < kWidth; ++x) {
                const bool inside = x >= 8 && x < 30 && y >= 4 && y < 20;
                if (!inside && pixels->pixels.At(x, y) != kSentinel)
                    Fail("a pixel outside the invalid rectangle changed");
            }
        }
        iproReleaseHandle(image);
    }
    docReleaseHandle(document);
    return 0;
}
