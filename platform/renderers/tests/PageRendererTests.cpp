// RGBRenderer through its entry points, as a caller that loaded it would drive it: pages drawn into
// canvas images, files and printed pages, checked against a full render of the same page, bad input, the
// cancel event, notices, and calls from two threads at once.
#include "platform/renderers/RendererApi.h"

#include "platform/win/WinModule.h"
#include "platform/win/WinSpool.h"
#include "platform/win/utf16.h"
#include "platform/zizoraz/IproHandles.h"
#include "testing/Deadline.h"
#include "testing/PdfPages.h"
#include "testing/TempFolder.h"
#include "testing/TempSystemRoot.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const kLayout = "<ldf version='1'>"
                            "<page id='1' cx='200' cy='100'>"
                            "<item id='1' kind='image'><bounding-box x='20' y='10' cx='60' cy='40'/></item>"
                            "<item id='2' kind='text'><bounding-box x='100' y='20' cx='80' cy='50'/></item>"
                            "</page>"
                            "<page id='2' cx='0' cy='100'/>"
                            "</ldf>";

constexpr DWORD kRed = 0xFF0000FF; // packed: red in the lowest byte

// The entry points of the library, found by name.
struct Renderer {
    HMODULE module = nullptr;
    RendrStartupProc startup = nullptr;
    RendrShutdownProc shutdown = nullptr;
    RendrCreateRendererProc create = nullptr;
    RendrSetDocumentProc setDocument = nullptr;
    RendrRenderPageProc renderPage = nullptr;
    RendrSetMediaContextProc setMediaContext = nullptr;
    RendrReleaseHandleProc release = nullptr;
    SubscrSubscribeProc subscribe = nullptr;
    SubscrUnsubscribeAllProc unsubscribeAll = nullptr;

    template <class F>
    void Find(const char* name, F& out) {
        out = reinterpret_cast<F>(GetProcAddress(module, name));
        ASSERT_NE(out, nullptr) << name;
    }
};

// Stands for a synchronisation object of the framework: the handle after the table of virtual functions.
struct CancelObject {
    const void* table = nullptr;
    HANDLE handle = 0;
};

class PageRenderer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(iproStartup(), 1);
        ASSERT_EQ(docStartup(), 1);
        const std::string path = std::string(KV_RENDERER_DIR) + "/RGBRenderer.dll";
        lib.module = LoadLibraryExW(Utf::Utf8ToWide(path).c_str(), 0, LOAD_LIBRARY_KEEP_MAPPED);
        ASSERT_NE(lib.module, nullptr);
        lib.Find("rendrStartup", lib.startup);
        lib.Find("rendrShutdown", lib.shutdown);
        lib.Find("rendrCreateRenderer", lib.create);
        lib.Find("rendrSetDocument", lib.setDocument);
        lib.Find("rendrRenderPage", lib.renderPage);
        lib.Find("rendrSetMediaContext", lib.setMediaContext);
        lib.Find("rendrReleaseHandle", lib.release);
        lib.Find("subscrSubscribe", lib.subscribe);
        lib.Find("subscrUnsubscribeAll", lib.unsubscribeAll);
        ASSERT_EQ(lib.startup(), 1);
        ASSERT_EQ(lib.create(&renderer), 1);
        const std::string layout = folder.Write("layout.ldf", kLayout);
        ASSERT_EQ(docCreateDocumentFromLDF(Utf::Utf8ToWide(layout).c_str(), &document), 1);
        ASSERT_EQ(lib.setDocument(renderer, document, L""), 1);
        cancel.handle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    void TearDown() override {
        CloseHandle(cancel.handle);
        for (IproHandle image : images)
            iproReleaseHandle(image);
        docReleaseHandle(document);
        lib.release(renderer);
        lib.shutdown();
        FreeLibrary(lib.module);
        docShutdown();
        iproShutdown();
    }

    IproHandle Image(LONG width, LONG height, DWORD colour) {
        IproHandle image = kIproNoHandle, canvas = kIproNoHandle;
        EXPECT_EQ(iproCreateImage(width, height, &image), 1);
        EXPECT_EQ(iproCreateCanvasFromImage(image, &canvas), 1);
        iproFillRectangle(canvas, 0, 0, static_cast<float>(width), static_cast<float>(height), colour,
                          IPRO_FILL_COPY);
        iproReleaseHandle(canvas);
        images.push_back(image);
        return image;
    }
    static IproPixels Pixels(IproHandle image) {
        std::shared_ptr<CIproImage> found = IproHandles::FindImage(image);
        std::lock_guard<std::mutex> guard(found->lock);
        return found->pixels;
    }
    std::wstring CancelPair() const {
        return L"cancel_event=" + std::to_wstring(reinterpret_cast<std::uintptr_t>(&cancel));
    }
    LONG Render(LONG page, const std::wstring& context) {
        return lib.renderPage(renderer, page, context.c_str());
    }

    kvtest::TempFolder folder;
    Renderer lib;
    RendrHandle renderer = kRendrNoHandle;
    DocHandle document = kDocNoHandle;
    CancelObject cancel;
    std::vector<IproHandle> images;
};

TEST_F(PageRenderer, OnlyTheInvalidRectangleOfTheImageChanges) {
    const IproHandle whole = Image(400, 200, kRed);
    const IproHandle part = Image(400, 200, kRed);
    const std::wstring size = L"page_width=400.000000;page_height=200.000000;";
    ASSERT_EQ(Render(0, L"iProImg=" + std::to_wstring(whole) + L";" + size), 1);
    ASSERT_EQ(Render(0, L"iProImg=" + std::to_wstring(part) + L";" + size +
                            L"page_invalidRect_left=50;page_invalidRect_top=30;page_invalidRect_right=250;"
                            L"page_invalidRect_bottom=150;" +
                            CancelPair()),
              1);
    const IproPixels reference = Pixels(whole), drawn = Pixels(part);
    EXPECT_EQ(reference.At(5, 5), 0xFFFFFFFFu) << "the full render covers the page";
    int wrong = 0;
    for (LONG y = 0; y < 200; ++y) {
        for (LONG x = 0; x < 400; ++x) {
            const bool inside = x >= 50 && x < 250 && y >= 30 && y < 150;
            const std::uint32_t expected = inside ? reference.At(x, y) : 0xFFFF0000u;
            wrong += drawn.At(x, y) != expected ? 1 : 0;
        }
    }
    EXPECT_EQ(wrong, 0) << "pixels that differ from the full render inside, or from red outside";

    // An invalid rectangle beyond the image is cut to it; one outside it draws nothing, and succeeds.
    const IproHandle beyond = Image(400, 200, kRed);
    EXPECT_EQ(Render(0, L"iProImg=" + std::to_wstring(beyond) + L";" + size +
                            L"page_invalidRect_left=500;page_invalidRect_top=0;page_invalidRect_right=900;"
                            L"page_invalidRect_bottom=50;"),
              1);
    EXPECT_EQ(Pixels(beyond).argb, std::vector<std::uint32_t>(400 * 200, 0xFFFF0000u));
}

TEST_F(PageRenderer, BadInputRendersNothingAndWritesNothing) {
    const IproHandle image = Image(40, 20, kRed);
    const std::wstring target = L"iProImg=" + std::to_wstring(image) + L";";
    const std::string png = folder.File("page.png");
    const std::wstring file = L"file_name=" + Utf::Utf8ToWide(png) + L";";
    RendrHandle empty = kRendrNoHandle;
    ASSERT_EQ(lib.create(&empty), 1);
    const struct {
        const char* what;
        RendrHandle renderer;
        LONG page;
        std::wstring context;
    } cases[] = {
        {"neither an image nor a file", renderer, 0, L"page_width=40.000000;page_height=20.000000;"},
        {"a page before the first", renderer, -1, target},
        {"a page after the last", renderer, 2, target},
        {"a page without a size", renderer, 1, target},
        {"a renderer without a document", empty, 0, target},
        {"a renderer that was never made", 12345, 0, target},
        {"an image that is not there", renderer, 0, L"iProImg=77;"},
        {"a size that is not a number", renderer, 0, target + L"page_width=wide;page_height=20;"},
        {"a size of zero", renderer, 0, file + L"page_width=0;page_height=20;"},
        {"a size beyond the canvas library's", renderer, 0, file + L"page_width=40000;page_height=20;"},
        {"a page after the last, into a file", renderer, 5, file},
        {"a file of another type", renderer, 0,
         L"file_name=" + Utf::Utf8ToWide(folder.File("page.bmp")) + L";"},
        {"a file without an extension", renderer, 0,
         L"file_name=" + Utf::Utf8ToWide(folder.File("page")) + L";"},
        {"an empty file name", renderer, 0, L"file_name=;"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(lib.renderPage(c.renderer, c.page, c.context.c_str()), 0) << c.what;
    EXPECT_EQ(Pixels(image).argb, std::vector<std::uint32_t>(40 * 20, 0xFFFF0000u))
        << "the image is untouched";
    EXPECT_FALSE(std::filesystem::exists(png)) << "no file was written";
    EXPECT_FALSE(std::filesystem::exists(folder.File("page.bmp")));
    EXPECT_FALSE(std::filesystem::exists(folder.File("page")));
    lib.release(empty);
}

TEST_F(PageRenderer, ASignalledCancelEventStopsTheRenderBeforeAnythingChanges) {
    SetEvent(cancel.handle);
    const IproHandle image = Image(40, 20, kRed);
    const std::string png = folder.File("cancelled.png");
    EXPECT_EQ(Render(0, L"iProImg=" + std::to_wstring(image) + L";" + CancelPair()), 0);
    EXPECT_EQ(Render(0, L"file_name=" + Utf::Utf8ToWide(png) + L";" + CancelPair()), 0);
    EXPECT_EQ(Pixels(image).argb, std::vector<std::uint32_t>(40 * 20, 0xFFFF0000u));
    EXPECT_FALSE(std::filesystem::exists(png));
    ResetEvent(cancel.handle);
    EXPECT_EQ(Render(0, L"file_name=" + Utf::Utf8ToWide(png) + L";" + CancelPair()), 1);
    EXPECT_TRUE(std::filesystem::exists(png));
}

struct Heard {
    std::vector<DWORD> kinds;
    std::vector<BYTE> progress;
};

void Listen(void* user, const RendrNotice* notice) {
    auto* heard = static_cast<Heard*>(user);
    heard->kinds.push_back(notice->kind);
    heard->progress.push_back(notice->progress);
}

TEST_F(PageRenderer, ProgressNoticesGoToTheRenderingThreadsSubscribersOncePerItem) {
    Heard here, otherKind, elsewhere;
    LONG mine = 0, other = 0, theirs = 0;
    ASSERT_EQ(lib.subscribe(&Listen, &here, kRendrNoticeProgress, &mine), 1);
    ASSERT_EQ(lib.subscribe(&Listen, &otherKind, 3, &other), 1);
    std::thread([&] { lib.subscribe(&Listen, &elsewhere, kRendrNoticeProgress, &theirs); }).join();
    const IproHandle image = Image(40, 20, kRed);
    ASSERT_EQ(Render(0, L"iProImg=" + std::to_wstring(image) + L";"), 1);
    EXPECT_EQ(here.kinds, (std::vector<DWORD>{kRendrNoticeProgress, kRendrNoticeProgress}));
    EXPECT_EQ(here.progress, (std::vector<BYTE>{50, 100}));
    EXPECT_TRUE(otherKind.kinds.empty());
    EXPECT_TRUE(elsewhere.kinds.empty()) << "a subscription of another thread";
    for (LONG id : {mine, other, theirs})
        EXPECT_EQ(lib.unsubscribeAll(id), 1);
    EXPECT_EQ(lib.unsubscribeAll(mine), 0);
    ASSERT_EQ(Render(0, L"iProImg=" + std::to_wstring(image) + L";"), 1);
    EXPECT_EQ(here.kinds.size(), 2u);
}

TEST_F(PageRenderer, APngPageFileHoldsExactlyTheFullRendersPixels) {
    const IproHandle whole = Image(400, 200, kRed);
    const std::wstring size = L"page_width=400.000000;page_height=200.000000;";
    ASSERT_EQ(Render(0, L"iProImg=" + std::to_wstring(whole) + L";" + size), 1);
    const std::string png = folder.File("page.png");
    ASSERT_EQ(Render(0, L"file_name=" + Utf::Utf8ToWide(png) + L";" + size), 1);
    // Read by libpng, not by the canvas library that wrote it: an opaque page is stored as RGB.
    png_image read{};
    read.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&read, png.c_str()));
    EXPECT_EQ(read.format, static_cast<png_uint_32>(PNG_FORMAT_RGB));
    ASSERT_EQ(read.width, 400u);
    ASSERT_EQ(read.height, 200u);
    std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(read));
    ASSERT_TRUE(png_image_finish_read(&read, nullptr, rgb.data(), 0, nullptr));
    const IproPixels reference = Pixels(whole);
    int wrong = 0;
    for (std::size_t i = 0; i < reference.argb.size(); ++i)
        for (int channel = 0; channel < 3; ++channel)
            wrong += rgb[i * 3 + channel] != (reference.argb[i] >> (16 - 8 * channel) & 0xFF) ? 1 : 0;
    EXPECT_EQ(wrong, 0) << "samples of the file that differ from the full render";
    EXPECT_NE(std::count(reference.argb.begin(), reference.argb.end(), 0xFFFFFFFFu),
              static_cast<std::ptrdiff_t>(reference.argb.size()))
        << "the page holds more than its white";
}

TEST_F(PageRenderer, JpegFilesTakeTheMediaContextsQuality) {
    std::vector<std::uintmax_t> sizes;
    for (const wchar_t* quality : {L"out_compress_quality=20", L"out_compress_quality=95"}) {
        ASSERT_EQ(lib.setMediaContext(renderer, (std::wstring(L"preview=0;profile=8192;") + quality).c_str()),
                  1);
        const std::string jpeg = folder.File("page-" + std::to_string(sizes.size()) + ".jpg");
        ASSERT_EQ(Render(0, L"file_name=" + Utf::Utf8ToWide(jpeg) + L";page_width=400;page_height=200;"), 1);
        sizes.push_back(std::filesystem::file_size(jpeg));
    }
    EXPECT_LT(sizes[0], sizes[1]) << "a lower quality makes a smaller file";
}

TEST_F(PageRenderer, StartsAndShutdownsAreCountedAndTheLastReleasesEveryRenderer) {
    ASSERT_EQ(lib.startup(), 1);
    RendrHandle second = kRendrNoHandle;
    ASSERT_EQ(lib.create(&second), 1);
    EXPECT_NE(second, renderer);
    EXPECT_EQ(lib.create(nullptr), 0);
    EXPECT_EQ(lib.shutdown(), 1);
    EXPECT_EQ(lib.setDocument(second, document, L""), 1) << "one start is left";
    EXPECT_EQ(lib.shutdown(), 1);
    EXPECT_EQ(lib.setDocument(second, document, L""), 0) << "the last shutdown let go of every renderer";
    EXPECT_EQ(lib.setDocument(renderer, document, L""), 0);
    EXPECT_EQ(lib.create(&second), 0) << "not started";
    EXPECT_EQ(lib.shutdown(), 0);
    ASSERT_EQ(lib.startup(), 1);
    ASSERT_EQ(lib.create(&renderer), 1);
}

// The user-interface thread sets documents and media contexts while the worker renders.
TEST_F(PageRenderer, CallsFromTwoThreadsAtOnce) {
    kvtest::Watchdog watchdog("renderer calls from two threads");
    const IproHandle image = Image(100, 50, kRed);
    const std::wstring context = L"iProImg=" + std::to_wstring(image) + L";";
    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    std::thread worker([&] {
        for (int i = 0; i < 40; ++i)
            failures += Render(0, context) == 1 ? 0 : 1;
        done = true;
    });
    while (!done) {
        lib.setDocument(renderer, document, L"");
        lib.setMediaContext(renderer, L"out_compress_quality=50");
    }
    worker.join();
    EXPECT_EQ(failures, 0);
}

} // namespace

namespace {

TEST_F(PageRenderer, AFileNameIsReadUpToItsSemicolonOnly) {
    // Commas and equals signs belong to the name; only the pair's ';' ends it.
    std::filesystem::create_directories(folder.File("a,b=c"));
    const std::string png = folder.File("a,b=c/page,1.png");
    const std::wstring context =
        L"file_name=" + Utf::Utf8ToWide(png) + L";page_width=40.000000;page_height=20.000000;" + CancelPair();
    ASSERT_EQ(Render(0, context), 1);
    EXPECT_TRUE(std::filesystem::exists(png));
    EXPECT_FALSE(std::filesystem::exists(folder.File("a"))) << "no file of a cut name";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.File("a,b=c")),
                            std::filesystem::directory_iterator()),
              1);
}

} // namespace

namespace {

// A printer of 100 dpi with one square paper of 10 inches (1000 pixels) and no hardware margins.
constexpr const char* kSquarePrinter = R"(<printers><printer name="Square" dpi="100" default="1">
<paper id="9" name="Square" width="2540" height="2540" left="0" top="0" right="0" bottom="0"/>
</printer></printers>)";

// The bounding box of what is not white (no channel above 200 off it) in a part of a printed page.
struct Box {
    int left = 0, top = 0, right = 0, bottom = 0;
};
Box ContentBox(const kvtest::PageRaster& raster, int x0, int x1) {
    Box box{x1, raster.height, x0 - 1, -1};
    for (int y = 0; y < raster.height; ++y)
        for (int x = x0; x < x1; ++x) {
            const std::array<int, 3> p = raster.At(x, y);
            if (255 - std::min({p[0], p[1], p[2]}) > 60) {
                box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x + 1),
                       std::max(box.bottom, y + 1)};
            }
        }
    return box;
}

TEST_F(PageRenderer, APrintedPageKeepsItsProportionsInADestinationOfOthers) {
    kvtest::TempSystemRoot machine;
    std::ofstream(machine.File("printers.xml")) << kSquarePrinter;
    HDC dc = CreateDCA("KvPdf", "Square", "PDF:", nullptr);
    ASSERT_NE(dc, nullptr);
    DOCINFOW info{};
    info.cbSize = sizeof(info);
    info.lpszDocName = L"proportions";
    ASSERT_GT(StartDocW(dc, &info), 0);
    ASSERT_GT(StartPage(dc), 0);
    // The 200 x 100 page into a square of 800 pixels: four printer pixels to a page unit on both axes, the
    // page 800 x 400 from the square's corner.
    const std::wstring context = L"hdc=" + std::to_wstring(reinterpret_cast<std::uintptr_t>(dc)) +
                                 L";dst_left=0;dst_top=0;dst_width=800;dst_height=800;scaleX=1;scaleY=1;";
    EXPECT_EQ(Render(0, context), 1);
    ASSERT_GT(EndPage(dc), 0);
    ASSERT_GT(EndDoc(dc), 0);
    DeleteDC(dc);
    const kvtest::PageRaster raster =
        kvtest::DrawPdfPage(machine.File("spool/Square/proportions.pdf"), 1, 100, folder.Path());
    ASSERT_EQ(raster.width, 1000);
    // The image item (20, 10, 60 x 40) shows its placeholder, the text item (100, 20, 80 x 50) its frame.
    const struct {
        const char* what;
        int x0, x1;
        Box expected;
    } items[] = {{"the image item", 0, 360, {80, 40, 320, 200}},
                 {"the text item", 360, 1000, {400, 80, 720, 280}}};
    for (const auto& item : items) {
        const Box box = ContentBox(raster, item.x0, item.x1);
        EXPECT_NEAR(box.left, item.expected.left, 1) << item.what;
        EXPECT_NEAR(box.top, item.expected.top, 1) << item.what;
        EXPECT_NEAR(box.right, item.expected.right, 1) << item.what;
        EXPECT_NEAR(box.bottom, item.expected.bottom, 1) << item.what;
    }
}

} // namespace
