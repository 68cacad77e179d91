// The print dialog's sheet build (geometry, parameter string, sheet transform, document filled from the
// items file) on an A4 page at 300 dpi in five columns, for 50 and 2,500 pictures; then the build for
// printing of 45 photos with the render of its page 1 through the page renderer library, each picture read
// from the scripted host by item id at its box's size. With the peers, xsltproc runs the same sheet
// stylesheet on the same page template with the same parameters (the transform step alone, as a process of
// its own), and ImageMagick's montage lays the same 45 photo files out five to a row at the same cell size
// and spacing. The table at the end gives the medians of three runs and the ratios.
#include "bench/BenchMedians.h"
#include "print_plugin/CPrintDlg.h"

#include "platform/davuzozi/davuzOzi.h"
#include "platform/host/CHostPhotos.h"
#include "platform/host/CScriptedHost.h"
#include "platform/win/WinUser.h"
#include "platform/win/utf16.h"
#include "platform/zizoraz/IproHandles.h"
#include "platform/zizoraz/zIzoRaz.h"
#include "plugin_framework/CodecTable.h"
#include "plugin_framework/ContextStrings.h"
#include "plugin_framework/TAsyncRenderer.h"
#include "plugin_framework/TBasicQWComp.h"
#include "plugin_framework/TModuleValues.h"
#include "plugin_framework/TWindow.h"
#include "plugin_framework/TiProObjects.h"
#include "testing/RunProgram.h"
#include "testing/TempFolder.h"
#include "testing/TempSystemRoot.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

const TModuleValues g_moduleValues{L"Print sheet bench", L"Print"};

namespace {

using graphtypes::TSize_T;

constexpr const char* kPrinters = R"(<printers><printer name="Bench" dpi="300" default="1">
<paper id="9" name="A4" width="2100" height="2970" left="64" top="64" right="64" bottom="64"/>
</printer></printers>)";
// The item id of the first picture; the others follow it.
constexpr KvwItemId kFirstItem = 4294967301ull;

struct Setup {
    kvtest::TempSystemRoot machine;
    kvtest::TempFolder folder;
    TConfigSettings config;
    TUserOptions options;
    TPrinter printer;
    std::unique_ptr<CPrintDlg> dialog;
    bool ready = false;

    Setup() {
        std::ofstream(machine.File("printers.xml")) << kPrinters;
        if (docStartup() != 1 || utlStartup() != 1 || iproStartup() != 1 ||
            !config.Load(TString(KV_PRINT_CONFIG_FILE)) || !printer.Init(PrinterOptionRecord(), nullptr))
            return;
        options.printAs = TUserOptions::kIndexPrint;
        options.columns = 5;
        dialog = std::make_unique<CPrintDlg>(printer, config, options);
        ready = dialog->LoadSheetResources();
    }
    ~Setup() {
        dialog.reset();
        printer.Release();
        iproShutdown();
        utlShutdown();
        docShutdown();
    }
    void Pictures(int count) {
        std::string text = "<bundle>";
        for (int k = 0; k < count; ++k)
            text += "<object><content>" + std::to_string(kFirstItem + k) +
                    "</content><caption kind='basic'>IMG_" + std::to_string(k) + ".jpg</caption></object>";
        TFilePath items;
        items.Set(Utf::Utf8ToWide(folder.Write("bndl.xml", text + "</bundle>")).c_str());
        dialog->SetItemsFile(items);
    }
};

// Made by the first case; main lets it go (and its folders with it) at the end of the run.
std::unique_ptr<Setup> g_setup;

Setup& Shared() {
    if (!g_setup)
        g_setup = std::make_unique<Setup>();
    return *g_setup;
}

void BuildSheet(benchmark::State& state, int pictures) {
    Setup& setup = Shared();
    if (!setup.ready) {
        state.SkipWithError("no printer, configuration or resources");
        return;
    }
    setup.Pictures(pictures);
    for (auto _ : state) {
        if (!setup.dialog->BuildSheet(false)) {
            state.SkipWithError("the build failed");
            return;
        }
    }
    state.counters["pages"] = setup.dialog->GetPageCount();
}

constexpr int kPagePictures = 45;
constexpr LONG kPhotoWidth = 3000, kPhotoHeight = 2000;
// What the page renderer fills an image item with when it has no picture for it.
constexpr std::uint32_t kPlaceholderArgb = 0xFFD8D8D8;

class BenchModule : public TBasicQWComp {
public:
    TString GetName() override { return L"Print sheet bench module"; }
    TString GetLanguageDllName() override { return L"NoPrintBenchLang.dll"; }
};

// Counts the finished renders and keeps the last result; made on the pumping thread.
class RenderNotices : public TWindow {
public:
    RenderNotices() {
        Create(L"SheetBenchNoticeWnd", 0, TRect(0, 0, 2, 2), nullptr);
        AddMessageHandler(kRenderFinishedMessage, TMessageHandler{this, &RenderNotices::OnFinished});
        AddMessageHandler(kRenderProgressMessage, TMessageHandler{this, &RenderNotices::OnProgress});
        m_handle.Attach(this);
    }
    TAutoHandle* Target() { return &m_handle; }
    int finished = 0;
    LONG result = 0;

private:
    static LONG OnFinished(TMessageInfo* info, void* context) {
        auto* request = reinterpret_cast<TRndrData*>(info->lParam);
        auto* window = static_cast<RenderNotices*>(context);
        ++window->finished;
        window->result = request->m_result;
        request->Release();
        return 1;
    }
    static LONG OnProgress(TMessageInfo* info, void*) {
        TakeRenderProgress(info->lParam);
        return 1;
    }
    TAutoHandle m_handle;
};

// The 45 photos as files (for montage) and as the host's items (for the renderer's codec), this program
// as the host's module, and the renderer that prints page 1 into a canvas image of the page's size.
struct PhotoPage {
    CScriptedHost host;
    std::size_t module = CScriptedHost::kNoModule;
    std::vector<std::string> files;
    RenderNotices notices;
    TRefPtr<TAsyncRenderer> renderer;
    std::unique_ptr<TiProImage> page;
    TSize_T<double> pageSize;
    bool ready = false;

    explicit PhotoPage(Setup& setup) {
        module = host.Add(CHostModule::FromExports("sheet bench", &KvwInitialize, &KvwMessage,
                                                   &KvwGetInformation, &KvwClose));
        if (module == CScriptedHost::kNoModule || host.Initialize(module) != kKvwOk)
            return;
        std::printf("making %d photos of %d x %d ...\n", kPagePictures, kPhotoWidth, kPhotoHeight);
        for (int k = 0; k < kPagePictures; ++k) {
            std::vector<BYTE> jpeg = CHostPhotos::SceneJpeg(kPhotoWidth + 8 * k, kPhotoHeight);
            files.push_back(setup.folder.Write("photo" + std::to_string(k) + ".jpg",
                                               std::string(jpeg.begin(), jpeg.end())));
            host.AddItem(CHostPhotos::JpegItem(kFirstItem + k, files.back(), std::move(jpeg)));
        }
        setup.Pictures(kPagePictures);
        if (!setup.dialog->BuildSheet(false))
            return;
        pageSize = setup.dialog->GetSheet().pageSize;
        page.reset(TiProImage::Create(
            TSize_T<LONG>(static_cast<LONG>(pageSize.cx), static_cast<LONG>(pageSize.cy))));
        renderer = TRefPtr<TAsyncRenderer>::Adopt(new TAsyncRenderer);
        TFilePath folder;
        folder.Set(Utf::Utf8ToWide(KV_RENDERER_DIR).c_str());
        renderer->SetRendererFolder(folder);
        renderer->SetNotifyTarget(notices.Target());
        TString media;
        BuildCodecParameters(media, false, 4096, 0);
        ready = page && renderer->Start(nullptr) && renderer->SetMediaContext(media);
    }
    ~PhotoPage() {
        if (renderer)
            renderer->Stop();
        renderer = TRefPtr<TAsyncRenderer>();
        if (page)
            page->Release();
        page.reset();
        host.Close(module);
    }

    // Page 1 of the dialog's print document into the canvas image; true when it rendered.
    bool RenderPage1(TdocDocument* document) {
        TString context;
        BuildDocContext(pageSize, TString(), context);
        if (!renderer->SetDocument(document, context))
            return false;
        renderer->SetReady();
        auto* request = new TRndrData;
        request->m_pageNumber = 1;
        BuildPageContext(page->GetHandle(), request->m_context, &pageSize);
        const int before = notices.finished;
        const bool queued = renderer->QueueRequest(request);
        request->Release();
        return queued && WinUserTest::PumpUntil([&] { return notices.finished > before; }, 600000) &&
               notices.result == 1;
    }
    // The share of the page's pixels that are image placeholders: pictures the host did not deliver.
    double PlaceholderShare() const {
        std::shared_ptr<CIproImage> image = IproHandles::FindImage(page->GetHandle());
        if (!image)
            return 1;
        std::lock_guard<std::mutex> guard(image->lock);
        std::size_t placeholders = 0;
        for (std::uint32_t pixel : image->pixels.argb)
            placeholders += pixel == kPlaceholderArgb ? 1 : 0;
        return image->pixels.argb.empty() ? 1 : static_cast<double>(placeholders) / image->pixels.argb.size();
    }
};

// Made by the first case that needs it; main lets it go before the libraries shut down.
std::unique_ptr<PhotoPage> g_page;

PhotoPage& SharedPage() {
    if (!g_page)
        g_page = std::make_unique<PhotoPage>(Shared());
    return *g_page;
}

void BuildAndRenderPage1(benchmark::State& state) {
    Setup& setup = Shared();
    if (!setup.ready || !SharedPage().ready) {
        state.SkipWithError("no sheet, host or renderer");
        return;
    }
    PhotoPage& photos = SharedPage();
    setup.Pictures(kPagePictures);
    for (auto _ : state) {
        if (!setup.dialog->BuildSheet(false) || !photos.RenderPage1(setup.dialog->GetPrintDocument())) {
            state.SkipWithError("the build or the render failed");
            return;
        }
    }
    // A page of placeholders would time the frames alone.
    const double share = photos.PlaceholderShare();
    if (share > 0.01)
        state.SkipWithError("the pictures were not drawn");
    state.counters["placeholder share"] = share;
}

#ifdef KV_MONTAGE
// montage's arguments for the same photos in the same cells: five to a row, each fitted into the item
// size with half the spacing around it, the JPEG decoder told the size it may stop at, nothing written.
std::vector<std::string> MontageArguments(const SheetLayout& sheet, const std::vector<std::string>& files) {
    const std::string cell = std::to_string(static_cast<LONG>(sheet.itemSize.cx)) + "x" +
                             std::to_string(static_cast<LONG>(sheet.itemSize.cy));
    std::vector<std::string> arguments = {KV_MONTAGE, "-define", "jpeg:size=" + cell};
    arguments.insert(arguments.end(), files.begin(), files.end());
    const std::string border = "+" + std::to_string(std::lround(sheet.spacing.cx / 2)) + "+" +
                               std::to_string(std::lround(sheet.spacing.cy / 2));
    for (const std::string& option :
         {std::string("-tile"), std::string("5x"), std::string("-geometry"), cell + border,
          std::string("-background"), std::string("white"), std::string("null:")})
        arguments.push_back(option);
    return arguments;
}

void MontagePage1(benchmark::State& state) {
    Setup& setup = Shared();
    if (!setup.ready || !SharedPage().ready) {
        state.SkipWithError("no photos to compare with");
        return;
    }
    const std::vector<std::string> arguments = MontageArguments(setup.dialog->GetSheet(), SharedPage().files);
    for (auto _ : state) {
        if (kvtest::RunProgram(arguments) != 0) {
            state.SkipWithError("montage failed");
            return;
        }
    }
}
#endif

#ifdef KV_XSLTPROC
// xsltproc's arguments for the dialog's parameter string: quoted values as strings, the rest as XPath.
std::vector<std::string> XsltprocArguments(const std::wstring& parameters, const std::string& out) {
    std::vector<std::string> arguments = {KV_XSLTPROC, "-o", out};
    std::size_t start = 0;
    while (start <= parameters.size()) {
        std::size_t end = parameters.find(L"<;/>", start);
        if (end == std::wstring::npos)
            end = parameters.size();
        const std::string pair = Utf::WideToUtf8(parameters.substr(start, end - start));
        const std::size_t equals = pair.find('=');
        if (equals != std::string::npos) {
            std::string value = pair.substr(equals + 1);
            const bool quoted = value.size() >= 2 && value.front() == '\'' && value.back() == '\'';
            arguments.push_back(quoted ? "--stringparam" : "--param");
            arguments.push_back(pair.substr(0, equals));
            arguments.push_back(quoted ? value.substr(1, value.size() - 2) : value);
        }
        start = end + 4;
    }
    arguments.push_back(std::string(KV_PRINT_RESOURCE_DIR) + "/Sheet.xslt");
    arguments.push_back(std::string(KV_PRINT_RESOURCE_DIR) + "/SheetTemplate.xml");
    return arguments;
}

void XsltprocSheet(benchmark::State& state) {
    Setup& setup = Shared();
    if (!setup.ready || !setup.dialog->BuildSheet(false)) {
        state.SkipWithError("no sheet to compare with");
        return;
    }
    const std::vector<std::string> arguments =
        XsltprocArguments(std::wstring(setup.dialog->FormatSheetParameters()), setup.folder.File("peer.xml"));
    for (auto _ : state) {
        if (kvtest::RunProgram(arguments) != 0) {
            state.SkipWithError("xsltproc failed");
            return;
        }
    }
}
#endif

} // namespace

int main(int argc, char** argv) {
    KvwSetModuleFactory([]() -> TBasicQWComp* { return new BenchModule; });
    for (int pictures : {50, 2500})
        kvbench::MedianOfThree(benchmark::RegisterBenchmark(
            ("BuildSheet/" + std::to_string(pictures)).c_str(), BuildSheet, pictures));
#ifdef KV_XSLTPROC
    kvbench::MedianOfThree(benchmark::RegisterBenchmark("XsltprocSheet", XsltprocSheet));
#endif
    kvbench::MedianOfThree(benchmark::RegisterBenchmark("BuildAndRenderPage1/45", BuildAndRenderPage1));
#ifdef KV_MONTAGE
    kvbench::MedianOfThree(benchmark::RegisterBenchmark("MontagePage1/45", MontagePage1));
#endif
    benchmark::Initialize(&argc, argv);
    kvbench::CMedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-28s %12s\n", "case", "median ms");
    for (const auto& [name, seconds] : reporter.seconds)
        std::printf("%-28s %12.3f\n", name.c_str(), seconds * 1e3);
#ifdef KV_XSLTPROC
    const auto ours = reporter.seconds.find("BuildSheet/50"), peer = reporter.seconds.find("XsltprocSheet");
    if (ours != reporter.seconds.end() && peer != reporter.seconds.end() && ours->second > 0)
        std::printf("xsltproc transform / our whole build of 50: %.2f\n", peer->second / ours->second);
#endif
#ifdef KV_MONTAGE
    const auto page = reporter.seconds.find("BuildAndRenderPage1/45"),
               montage = reporter.seconds.find("MontagePage1/45");
    if (page != reporter.seconds.end() && montage != reporter.seconds.end() && page->second > 0)
        std::printf("montage / our build and page-1 render of 45: %.2f\n", montage->second / page->second);
#endif
    g_page.reset();
    g_setup.reset();
    benchmark::Shutdown();
    return 0;
}
