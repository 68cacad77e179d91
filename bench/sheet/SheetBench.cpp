// The print dialog's sheet build (geometry, parameter string, sheet transform, document filled from the
// items file) on an A4 page at 300 dpi in five columns, for 50 and 2,500 pictures; with the peer, xsltproc
// runs the same sheet stylesheet on the same page template with the same parameters (the transform step
// alone, as a process of its own). The table at the end gives the medians of three runs and the ratio.
#include "bench/BenchMedians.h"
#include "print_plugin/CPrintDlg.h"

#include "platform/davuzozi/davuzOzi.h"
#include "platform/win/utf16.h"
#include "plugin_framework/TModuleValues.h"
#include "testing/RunProgram.h"
#include "testing/TempFolder.h"
#include "testing/TempSystemRoot.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

const TModuleValues g_moduleValues{L"Print sheet bench", L"Print"};

namespace {

constexpr const char* kPrinters = R"(<printers><printer name="Bench" dpi="300" default="1">
<paper id="9" name="A4" width="2100" height="2970" left="64" top="64" right="64" bottom="64"/>
</printer></printers>)";

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
        if (docStartup() != 1 || utlStartup() != 1 || !config.Load(TString(KV_PRINT_CONFIG_FILE)) ||
            !printer.Init(PrinterOptionRecord(), nullptr))
            return;
        options.printAs = TUserOptions::kIndexPrint;
        options.columns = 5;
        dialog = std::make_unique<CPrintDlg>(printer, config, options);
        ready = dialog->LoadSheetResources();
    }
    void Pictures(int count) {
        std::string text = "<bundle>";
        for (int k = 0; k < count; ++k)
            text += "<object><content>" + std::to_string(4294967301ull + k) +
                    "</content><caption kind='basic'>IMG_" + std::to_string(k) + ".jpg</caption></object>";
        TFilePath items;
        items.Set(Utf::Utf8ToWide(folder.Write("bndl.xml", text + "</bundle>")).c_str());
        dialog->SetItemsFile(items);
    }
};

Setup& Shared() {
    static Setup* setup = new Setup;
    return *setup;
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
    for (int pictures : {50, 2500})
        kvbench::MedianOfThree(benchmark::RegisterBenchmark(
            ("BuildSheet/" + std::to_string(pictures)).c_str(), BuildSheet, pictures));
#ifdef KV_XSLTPROC
    kvbench::MedianOfThree(benchmark::RegisterBenchmark("XsltprocSheet", XsltprocSheet));
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
    benchmark::Shutdown();
    return 0;
}
