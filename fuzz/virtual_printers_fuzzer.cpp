// The machine's printers file over hostile bytes. Beyond "no crash, no undefined behaviour": an accepted
// file names each printer once, gives each at least one paper within the limits, and every page keeps a
// printable pixel in either orientation.
#include "platform/win/WinVirtualPrinters.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "printers file invariant broken: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::optional<std::vector<WinPrint::VirtualPrinter>> printers =
        WinPrint::ParseVirtualPrinters(data, size);
    if (!printers)
        return 0;
    if (printers->size() > WinPrint::kMaxPrinters)
        Fail("too many printers");
    std::set<std::string> names;
    for (const WinPrint::VirtualPrinter& printer : *printers) {
        if (printer.name.empty() || !names.insert(printer.name).second)
            Fail("a printer without a name of its own");
        if (printer.papers.empty() || printer.papers.size() > WinPrint::kMaxPapers)
            Fail("a printer without papers, or with too many");
        if (printer.dpiX < 1 || printer.dpiY < 1 || printer.dpiX > WinPrint::kMaxDpi ||
            printer.dpiY > WinPrint::kMaxDpi)
            Fail("a resolution out of range");
        for (const WinPrint::VirtualPaper& paper : printer.papers) {
            for (bool landscape : {false, true}) {
                const WinPrint::PageMetrics page = WinPrint::MeasurePage(printer, paper, landscape);
                if (page.physicalWidth <= 0 || page.physicalHeight <= 0 || page.offsetX < 0 ||
                    page.offsetY < 0 || page.horzRes < 1 || page.vertRes < 1)
                    Fail("a page without a printable pixel");
            }
        }
    }
    return 0;
}
