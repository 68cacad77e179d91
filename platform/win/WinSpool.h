// The printer services: printers and their capabilities (winspool), information and printer device
// contexts with their documents and pages (gdi32). The printers are virtual PDF printers of the machine
// folder and the destinations of a CUPS server that answers (WinVirtualPrinters.h); a printer context draws
// through cairo into a PDF file of the spool, "<machine>/spool/<printer>/<document>.pdf", written as
// ".pdf.part" until EndDoc, which submits a CUPS destination's file to its queue instead of keeping it.
#pragma once

#include "WinGdi.h"
#include "WinGlobalMemory.h"
#include "WinKernel.h"
#include "WinModule.h"
#include "WinVirtualPrinters.h"

#include <cstdint>

// The cairo context type, as cairo itself declares it.
typedef struct _cairo cairo_t;

// ERROR_INSUFFICIENT_BUFFER comes with the module services.
constexpr DWORD ERROR_INVALID_PRINTER_NAME = 1801;

constexpr int PHYSICALWIDTH = 110;
constexpr int PHYSICALHEIGHT = 111;
constexpr int PHYSICALOFFSETX = 112;
constexpr int PHYSICALOFFSETY = 113;

constexpr DWORD DM_ORIENTATION = 0x00000001;
constexpr DWORD DM_PAPERSIZE = 0x00000002;
constexpr DWORD DM_SCALE = 0x00000010;
constexpr DWORD DM_PRINTQUALITY = 0x00000400;
constexpr DWORD DM_YRESOLUTION = 0x00002000;
constexpr SHORT DMORIENT_PORTRAIT = 1;
constexpr SHORT DMORIENT_LANDSCAPE = 2;

constexpr WORD DC_PAPERS = 2;
constexpr WORD DC_PAPERSIZE = 3;
constexpr WORD DC_PAPERNAMES = 16;
// Each paper name of DC_PAPERNAMES fills this many characters, zero-padded.
constexpr int kPaperNameLength = 64;

// The ANSI device mode: 156 bytes, then dmDriverExtra bytes of the driver (none for our printers).
struct DEVMODEA {
    char dmDeviceName[32];
    WORD dmSpecVersion;
    WORD dmDriverVersion;
    WORD dmSize;
    WORD dmDriverExtra;
    DWORD dmFields;
    SHORT dmOrientation;
    SHORT dmPaperSize;
    SHORT dmPaperLength;
    SHORT dmPaperWidth;
    SHORT dmScale;
    SHORT dmCopies;
    SHORT dmDefaultSource;
    SHORT dmPrintQuality;
    SHORT dmColor;
    SHORT dmDuplex;
    SHORT dmYResolution;
    SHORT dmTTOption;
    SHORT dmCollate;
    char dmFormName[32];
    WORD dmLogPixels;
    DWORD dmBitsPerPel;
    DWORD dmPelsWidth;
    DWORD dmPelsHeight;
    DWORD dmNup;
    DWORD dmDisplayFrequency;
    DWORD dmICMMethod;
    DWORD dmICMIntent;
    DWORD dmMediaType;
    DWORD dmDitherType;
    DWORD dmReserved1;
    DWORD dmReserved2;
    DWORD dmPanningWidth;
    DWORD dmPanningHeight;
};
static_assert(sizeof(DEVMODEA) == 156, "the ANSI device mode keeps its size");

// A DEVNAMES block: this header, then the driver, device and port names, each zero-terminated, at the
// offsets (in characters from the block's start) that it gives.
struct DEVNAMES {
    WORD wDriverOffset;
    WORD wDeviceOffset;
    WORD wOutputOffset;
    WORD wDefault;
};
static_assert(sizeof(DEVNAMES) == 8, "the names header keeps its size");
constexpr WORD DN_DEFAULTPRN = 0x0001;

// GetPrinterA's level 2: the strings and the device mode follow the record in the caller's buffer.
struct PRINTER_INFO_2A {
    char* pServerName;
    char* pPrinterName;
    char* pShareName;
    char* pPortName;
    char* pDriverName;
    char* pComment;
    char* pLocation;
    DEVMODEA* pDevMode;
    char* pSepFile;
    char* pPrintProcessor;
    char* pDatatype;
    char* pParameters;
    void* pSecurityDescriptor;
    DWORD Attributes;
    DWORD Priority;
    DWORD DefaultPriority;
    DWORD StartTime;
    DWORD UntilTime;
    DWORD Status;
    DWORD cJobs;
    DWORD AveragePPM;
};

struct DOCINFOW {
    int cbSize;
    const wchar_t* lpszDocName;
    const wchar_t* lpszOutput;
    const wchar_t* lpszDatatype;
    DWORD fwType;
};

// False (ERROR_INVALID_PRINTER_NAME) for a name no printer has.
BOOL OpenPrinterA(const char* printerName, HANDLE* printer, void* defaults);
// Level 2 only. With a buffer too small (or none): false, ERROR_INSUFFICIENT_BUFFER and the size needed.
BOOL GetPrinterA(HANDLE printer, DWORD level, BYTE* buffer, DWORD bufferSize, DWORD* needed);
BOOL ClosePrinter(HANDLE printer);
// DC_PAPERS (16-bit ids), DC_PAPERNAMES (kPaperNameLength characters each), DC_PAPERSIZE (POINT pairs in
// tenths of a millimetre): the number of papers, the output filled when it is given; -1 for an unknown
// printer or capability.
int DeviceCapabilitiesA(const char* device, const char* port, WORD capability, char* output,
                        const DEVMODEA* devMode);

// Contexts of the named printer with the paper and orientation of the device mode (its own when none is
// given); GetDeviceCaps answers them in whole pixels at the printer's resolution (see WinVirtualPrinters.h).
// An information context cannot print.
HDC CreateICA(const char* driver, const char* device, const char* port, const DEVMODEA* devMode);
HDC CreateDCA(const char* driver, const char* device, const char* port, const DEVMODEA* devMode);
// Ends (aborting a document still open) and releases a printer or information context.
BOOL DeleteDC(HDC dc);

// The job id (above 0) of a new PDF file in the printer's spool folder, named after the document (a name
// that would leave the folder is made safe; a name taken gets " (2)", " (3)" ...); SP_ERROR on failure.
constexpr int SP_ERROR = -1;
int StartDocW(HDC dc, const DOCINFOW* info);
// A new page; above 0 on success.
int StartPage(HDC dc);
int EndPage(HDC dc);
// The file renamed to its final name, or submitted to a CUPS destination and removed; above 0 on success, 0
// also when the destination refused the job or failed to take it.
int EndDoc(HDC dc);
// The file deleted; above 0 on success.
int AbortDoc(HDC dc);

namespace WinPrint {
// The cairo context of the page being printed, between StartPage and EndPage: user space in device pixels,
// its origin at the printable area's top-left corner (PHYSICALOFFSETX, PHYSICALOFFSETY). Null otherwise.
// It stays the context's: callers neither destroy it nor keep it beyond EndPage.
cairo_t* CairoOfDC(HDC dc);
} // namespace WinPrint

namespace WinPrintTest {
// Every call that can be made to fail.
enum class PrinterCall {
    kOpenPrinter,
    kGetPrinter,
    kDeviceCapabilities,
    kCreateIC,
    kCreateDC,
    kStartDoc,
    kStartPage,
    kEndPage,
    kEndDoc,
    kAbortDoc,
    kPageSetupDialog,
    kPrintDialog,
};
// The call fails once, after `after` more calls of it have succeeded.
void FailCall(PrinterCall call, int after = 0);
// Forgets injected failures and scripted dialog answers.
void Reset();
} // namespace WinPrintTest
