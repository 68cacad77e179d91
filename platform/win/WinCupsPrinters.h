// The machine's CUPS destinations as printers of the printer services. They are asked of the server libcups
// names (CUPS_SERVER, the client configuration, else the local scheduler), looked up again at every call:
// each destination with the papers of its media database (sizes and hardware margins, its default media
// first) and its default resolution. A job drawn into a PDF file is submitted to its destination whole.
#pragma once

#include "WinVirtualPrinters.h"

#include <optional>
#include <string>
#include <vector>

namespace WinPrint {

struct CupsDestinations {
    std::vector<VirtualPrinter> printers; // driver "CUPS", port "CUPS:", isCups set
    std::string defaultName;              // empty when CUPS has no default destination
};

// Nothing when no CUPS server answers. A destination without a usable paper or name is left out.
std::optional<CupsDestinations> CupsPrinters();

// Submits the PDF file as one job of the printer's destination titled `title`, asking for the paper's media
// at its own size; true when the destination took the whole document. A refused or failed job is cancelled
// and the reason traced.
bool SubmitToCups(const VirtualPrinter& printer, const VirtualPaper& paper, const std::string& pdfPath,
                  const std::string& title);

// The paper id of a media size name ("iso_a4_210x297mm" is DMPAPER_A4), or 0 for a size the platform has no
// id for.
SHORT PaperIdOfMedia(const std::string& media);

} // namespace WinPrint
