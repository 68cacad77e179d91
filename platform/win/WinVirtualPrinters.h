// The machine's virtual PDF printers, read from "<machine>/printers.xml" at every use:
//
//   <printers>
//     <printer name="Office PDF" driver="KvPdf" port="PDF:" dpi="300" dpi_y="600" default="1">
//       <paper id="9" name="A4" width="2100" height="2970" left="50" top="50" right="50" bottom="80"/>
//     </printer>
//   </printers>
//
// Sizes and hardware margins in tenths of a millimetre; dpi_y defaults to dpi, driver to "KvPdf", port to
// "PDF:". Without the file there is one 300 dpi printer with A4 and Letter; a file that does not parse, or
// holds anything out of range (a paper without a printable pixel either way up included), gives no printers
// at all.
//
// When a CUPS server answers (WinCupsPrinters.h), its destinations are the machine's printers too, after the
// virtual ones and under their own names (one named like a virtual printer is left out), and CUPS's default
// destination is the default printer.
//
// A printer's pages in whole pixels, as its contexts answer GetDeviceCaps: each length is rounded at the
// resolution of its axis. In landscape the paper turns a quarter to the left: width and height swap, and
// the margins move round (left <- top, top <- right, right <- bottom, bottom <- left).
#pragma once

#include "wintypes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

constexpr SHORT DMPAPER_LETTER = 1;
constexpr SHORT DMPAPER_A4 = 9;

namespace WinPrint {

struct VirtualPaper {
    WORD id = 0;
    std::string name;
    LONG width = 0; // tenths of a millimetre
    LONG height = 0;
    LONG left = 0; // hardware margins, tenths of a millimetre
    LONG top = 0;
    LONG right = 0;
    LONG bottom = 0;
    std::string media; // a CUPS destination's media name, which its jobs ask for; empty for virtual papers
};

struct VirtualPrinter {
    std::string name;
    std::string driver = "KvPdf";
    std::string port = "PDF:";
    LONG dpiX = 300;
    LONG dpiY = 300;
    bool isDefault = false;
    bool isCups = false; // a CUPS destination of that name, to which its jobs are submitted
    std::vector<VirtualPaper> papers;
};

// What GetDeviceCaps answers for a page.
struct PageMetrics {
    LONG physicalWidth = 0;
    LONG physicalHeight = 0;
    LONG offsetX = 0;
    LONG offsetY = 0;
    LONG horzRes = 0;
    LONG vertRes = 0;
};

// Limits of the file: larger numbers make it malformed.
constexpr LONG kMaxDpi = 4800;
constexpr LONG kMaxPaperSide = 20000; // two metres
constexpr std::size_t kMaxPrinters = 64;
constexpr std::size_t kMaxPapers = 128;
constexpr std::size_t kMaxNameBytes = 200;

// The printers of a file's bytes; nothing for bytes that are not such a file.
std::optional<std::vector<VirtualPrinter>> ParseVirtualPrinters(const std::uint8_t* data, std::size_t size);
// The printers of the machine folder's file (or the built-in one) alone.
std::vector<VirtualPrinter> FilePrinters();
// The machine's printers as described above: the file's, then CUPS's.
std::vector<VirtualPrinter> MachinePrinters();
// The printer named (exactly) or, for a null or empty name, none.
std::optional<VirtualPrinter> FindPrinter(const char* name);
// The default printer: the first marked default, else the first; none without printers.
std::optional<VirtualPrinter> DefaultPrinter();
// The paper of the id, else the printer's first; null for a printer without papers.
const VirtualPaper* FindPaper(const VirtualPrinter& printer, SHORT id);
PageMetrics MeasurePage(const VirtualPrinter& printer, const VirtualPaper& paper, bool landscape);

} // namespace WinPrint
