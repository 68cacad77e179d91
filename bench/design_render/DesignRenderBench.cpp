// An A4 page (595 x 842 points) with three 1600 x 1200 photos, asked of the design module as a full image
// at 300 dpi (2480 x 3508) by the scripted host and timed from the request to the image answer (the render
// on the module's worker, the page's PNG file written and read back into the host's image); then the same
// work with the peers: the same photos scaled into the same boxes of a cairo image surface, the page
// written with libpng as the same kind of file (8-bit RGB, sRGB, the compression the module's renderer
// writes its pages with) and read back with libpng. Prints the medians of five runs of each, wall and
// process CPU time, and the ratio peer / module (above 1: the module is faster).
#include "design_module/TDesignRenderer.h"
#include "design_module/TKvwDesignModule.h"

#include "plugin_framework/TModuleValues.h"

#include "platform/host/CScriptedHost.h"
#include "platform/win/WinSeams.h"
#include "platform/win/WinUser.h"
#include "platform/win/utf16.h"
#include "testing/TempFolder.h"

#include <cairo.h>
#include <png.h>
#include <zlib.h>

#include <ctime>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

const TModuleValues g_moduleValues{L"Design bench", L"Design module bench"};

namespace {

using Clock = std::chrono::steady_clock;
using namespace KvwDesign;

constexpr LONG kPhotoWidth = 1600;
constexpr LONG kPhotoHeight = 1200;
constexpr LONG kPageWidth = 2480;
constexpr LONG kPageHeight = 3508;
constexpr int kRuns = 5;
constexpr KvwItemId kPage = 9001;
// The renderer writes a page it renders into a file, to be read back at once, at zlib's fastest level
// over runs of equal bytes after the Up filter, in data chunks of this size; the peer writes the same.
constexpr int kPageLevel = Z_BEST_SPEED;
constexpr int kPageStrategy = Z_RLE;
constexpr int kPageFilters = PNG_FILTER_UP;
constexpr std::size_t kPageChunkBytes = std::size_t{1} << 20;

struct Box {
    KvwItemId photo;
    double x, y, cx, cy; // points
};
const Box kBoxes[] = {{501, 40, 60, 240, 180}, {502, 315, 60, 240, 180}, {503, 97, 400, 400, 300}};

std::string Layout() {
    std::string text = "<ldf version='1'><page id='1' cx='595' cy='842'>";
    int n = 1;
    for (const Box& box : kBoxes)
        text += "<item id='" + std::to_string(n++) + "' kind='image'><bounding-box x='" +
                std::to_string(box.x) + "' y='" + std::to_string(box.y) + "' cx='" + std::to_string(box.cx) +
                "' cy='" + std::to_string(box.cy) + "'/><content><image refType='NUID'>" +
                std::to_string(box.photo) + "</image></content></item>";
    return text + "</page></ldf>";
}

class Source : public IDesignRenderSource {
public:
    explicit Source(std::wstring path) : m_path(std::move(path)) {}
    std::unique_ptr<TdocDocument> CopyDocument() override {
        return std::unique_ptr<TdocDocument>(TdocDocument::CreateFromLDF(m_path.c_str()));
    }
    bool IsDocumentChanged() const override { return false; }

private:
    std::wstring m_path;
};

std::wstring g_layout;

// The open design: one page, whose page item is the one asked for (the module draws only its own pages).
class Layouts : public IDesignLayouts {
public:
    KvwResult Open() override { return kKvwOk; }
    void Close() override {}
    bool WriteBack() override { return true; }
    void AnnouncePages() override {}
    LONG GetPageCount() const override { return 1; }
    void ForgetLayoutFile() override {}
    std::map<LONG, KvwItemId> GetPageItems() const override { return {{1, kPage}}; }
};

class Parts : public IDesignParts {
public:
    std::unique_ptr<IDesignPane> MakeSinglePagePane(TKvwDesignModule&) override { return nullptr; }
    std::unique_ptr<IDesignPane> MakeContactSheetPane(TKvwDesignModule&) override { return nullptr; }
    std::unique_ptr<IDesignPropertiesPanel> MakePropertiesPanel(TKvwDesignModule&) override {
        return nullptr;
    }
    bool HasPanes() const override { return false; }
    std::unique_ptr<IDesignLayouts> MakeLayouts(TKvwDesignModule&) override {
        return std::make_unique<Layouts>();
    }
    std::unique_ptr<IDesignRenderSource> MakeRenderSource(TKvwDesignModule&) override {
        return std::make_unique<Source>(g_layout);
    }
    std::unique_ptr<IDesignRenderer> MakeRenderer() override {
        TFilePath folder;
        folder.Set(TString(KV_RENDERER_DIR "/"));
        return std::make_unique<TDesignRenderer>(TRefPtr<TAsyncRenderer>(), folder);
    }
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool WritePng(cairo_surface_t* surface, const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool written = false;
    if (info && !setjmp(png_jmpbuf(png))) {
        png_init_io(png, file);
        const int width = cairo_image_surface_get_width(surface);
        const int height = cairo_image_surface_get_height(surface);
        png_set_compression_level(png, kPageLevel);
        png_set_compression_strategy(png, kPageStrategy);
        png_set_filter(png, PNG_FILTER_TYPE_BASE, kPageFilters);
        png_set_compression_buffer_size(png, kPageChunkBytes);
        png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
        png_write_info(png, info);
        // Cairo keeps premultiplied native-endian ARGB; the page is opaque, so only the order changes and
        // the alpha byte is left out, as the module's file leaves it out.
        png_set_bgr(png);
        png_set_filler(png, 0, PNG_FILLER_AFTER);
        const unsigned char* data = cairo_image_surface_get_data(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        for (int y = 0; y < height; ++y)
            png_write_row(png, const_cast<png_bytep>(data + static_cast<std::ptrdiff_t>(y) * stride));
        png_write_end(png, info);
        written = true;
    }
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return written;
}

// The page's file read back whole as RGB samples, as the host's image answer needs it.
bool ReadPng(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return false;
    const png_uint_32 stored = image.format;
    image.format = PNG_FORMAT_RGB;
    std::vector<png_byte> samples(PNG_IMAGE_SIZE(image));
    const bool read = png_image_finish_read(&image, nullptr, samples.data(), 0, nullptr) != 0;
    png_image_free(&image);
    return read && image.width == kPageWidth && image.height == kPageHeight &&
           (stored & PNG_FORMAT_FLAG_ALPHA) == 0;
}

double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The photos' pixels as the host serves them, drawn with cairo into the boxes at the page's scale.
double PeerRun(const std::vector<std::shared_ptr<const CHostPicture>>& photos, const std::string& path) {
    const auto start = Clock::now();
    cairo_surface_t* page = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kPageWidth, kPageHeight);
    cairo_t* cr = cairo_create(page);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    const double sx = kPageWidth / 595.0, sy = kPageHeight / 842.0;
    for (std::size_t i = 0; i < photos.size(); ++i) {
        const CHostPicture& picture = *photos[i];
        cairo_surface_t* photo =
            cairo_image_surface_create(CAIRO_FORMAT_RGB24, picture.width, picture.height);
        cairo_surface_flush(photo);
        unsigned char* data = cairo_image_surface_get_data(photo);
        const int stride = cairo_image_surface_get_stride(photo);
        for (LONG y = 0; y < picture.height; ++y) {
            auto* row = reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
            for (LONG x = 0; x < picture.width; ++x)
                row[x] = 0xFF000000u | picture.Sample(x, y, 0) << 16 | picture.Sample(x, y, 1) << 8 |
                         picture.Sample(x, y, 2);
        }
        cairo_surface_mark_dirty(photo);
        const Box& box = kBoxes[i];
        cairo_save(cr);
        cairo_translate(cr, box.x * sx, box.y * sy);
        cairo_scale(cr, box.cx * sx / picture.width, box.cy * sy / picture.height);
        cairo_set_source_surface(cr, photo, 0, 0);
        cairo_paint(cr);
        cairo_restore(cr);
        cairo_surface_destroy(photo);
    }
    cairo_destroy(cr);
    const bool written = WritePng(page, path);
    cairo_surface_destroy(page);
    if (!written || !ReadPng(path))
        return -1;
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return seconds;
}

} // namespace

int main() {
    kvtest::TempFolder temp;
    WinSeams::SetTempBase(temp.Path());
    utlStartup();
    g_layout = Utf::Utf8ToWide(temp.Write("page.ldf", Layout()));
    CScriptedHost host;
    std::vector<std::shared_ptr<const CHostPicture>> photos;
    for (const Box& box : kBoxes) {
        CHostItemRecord item;
        item.id = box.photo;
        item.source.width = kPhotoWidth;
        item.source.height = kPhotoHeight;
        item.fullPicture =
            std::make_shared<const CHostPicture>(CHostPicture::Pattern(kPhotoWidth, kPhotoHeight, 3));
        item.fullHeld = true;
        item.previewPicture = item.fullPicture;
        item.previewHeld = true;
        photos.push_back(item.fullPicture);
        host.AddItem(item);
    }
    CHostItemRecord page;
    page.id = kPage;
    page.source.type = 0x1400;
    page.source.value = 1;
    host.AddItem(page);
    int answers = 0;
    LONG answeredWidth = 0, answeredHeight = 0;
    host.SetScript(kFullImage, [&](const CHostRequest& request) {
        const auto* record = reinterpret_cast<const CKvwProfileImage*>(request.words[2]);
        if (record->image)
            record->image->GetSize(&answeredWidth, &answeredHeight);
        ++answers;
        return CHostReply{};
    });
    KvwSetModuleFactory([]() -> TBasicQWComp* { return new TKvwDesignModule(std::make_unique<Parts>()); });
    const std::size_t module = host.Add(
        CHostModule::FromExports("KvwDesign.md7", KvwInitialize, KvwMessage, KvwGetInformation, KvwClose));
    if (module == CScriptedHost::kNoModule || host.Initialize(module) != kKvwOk) {
        std::fprintf(stderr, "design_render_bench: the module did not start\n");
        return 1;
    }
    host.Send(module, kStartup);
    if (host.Send(module, kOpenDesign) != kKvwOk) {
        std::fprintf(stderr, "design_render_bench: the design did not open\n");
        return 1;
    }

    std::vector<double> ours, peer, oursCpu, peerCpu;
    LONG size[2] = {kPageWidth, kPageHeight};
    for (int run = 0; run < kRuns; ++run) {
        const int before = answers;
        const auto start = Clock::now();
        const double cpuStart = CpuSeconds();
        const KvwResult queued =
            host.Send(module, kPageFull, KvwItemIdLow(kPage), KvwItemIdHigh(kPage),
                      reinterpret_cast<KvwWord>(size), 1, kKvwRecordSize, kWantsCompletion, 0, 0x42);
        if (queued != kKvwQueued || !WinUserTest::PumpUntil([&] { return answers > before; }, 600000)) {
            std::fprintf(stderr, "design_render_bench: the page was not answered (%u)\n",
                         static_cast<unsigned>(queued));
            return 1;
        }
        ours.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        const double cpuMiddle = CpuSeconds();
        oursCpu.push_back(cpuMiddle - cpuStart);
        peer.push_back(PeerRun(photos, temp.File("peer" + std::to_string(run) + ".png")));
        peerCpu.push_back(CpuSeconds() - cpuMiddle);
    }
    host.Close(module);
    utlShutdown();
    if (answeredWidth != kPageWidth || answeredHeight != kPageHeight ||
        *std::min_element(peer.begin(), peer.end()) < 0) {
        std::fprintf(stderr, "design_render_bench: wrong answer size %d x %d or a failed peer run\n",
                     static_cast<int>(answeredWidth), static_cast<int>(answeredHeight));
        return 1;
    }
    const double a = Median(ours), b = Median(peer), ca = Median(oursCpu), cb = Median(peerCpu);
    std::printf("A4 page, three photos, %d x %d, median of %d runs (wall, process CPU)\n",
                static_cast<int>(kPageWidth), static_cast<int>(kPageHeight), kRuns);
    std::printf("design module, request to image answer:   %8.1f ms %8.1f ms\n", a * 1000, ca * 1000);
    std::printf("cairo + libpng write and read back:       %8.1f ms %8.1f ms\n", b * 1000, cb * 1000);
    std::printf("ratio (peer / module):                    %8.2f %8.2f\n", b / a, cb / ca);
    return 0;
}
