#include "HandleTable.h"
#include "WinCupsPrinters.h"
#include "WinFileIO.h"
#include "WinGdiInternal.h"
#include "WinKernel.h"
#include "WinPrintInternal.h"
#include "WinSystemRoot.h"
#include "utf16.h"

#include <cairo-pdf.h>
#include <cairo.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>

namespace {

using WinPrint::VirtualPaper;
using WinPrint::VirtualPrinter;
using WinPrintTest::PrinterCall;

struct Faults {
    std::mutex lock;
    std::map<PrinterCall, int> due; // calls still to succeed before the failure
};

Faults& FaultState() {
    static Faults* faults = new Faults;
    return *faults;
}

struct OpenPrinters {
    std::mutex lock;
    HandleTable<VirtualPrinter> printers;
};

OpenPrinters& Printers() {
    static OpenPrinters* printers = new OpenPrinters;
    return *printers;
}

std::uint32_t ToId(HANDLE handle) {
    return handle;
}

void CopyName(char* target, std::size_t size, const std::string& name) {
    std::memset(target, 0, size);
    std::memcpy(target, name.data(), std::min(name.size(), size - 1));
}

std::string Part(const std::string& path) {
    return path + ".part";
}

// A file name of the text that stays inside its folder: separators and control characters become '_', and
// a name of nothing but dots (or nothing) becomes the fallback. Long names are cut at a character boundary.
std::string SafeName(const std::string& text, const char* fallback) {
    std::string name;
    for (unsigned char c : text) {
        if (name.size() >= WinPrint::kMaxNameBytes && (c & 0xC0) != 0x80)
            break;
        name.push_back(c < 0x20 || c == 0x7F || c == '/' || c == '\\' ? '_' : static_cast<char>(c));
    }
    if (name.find_first_not_of('.') == std::string::npos)
        return fallback;
    return name;
}

// A printer or information context: the printer, its page, and the document being printed.
class PrinterDC : public WinGdi::PrinterContext {
public:
    PrinterDC(VirtualPrinter printer, const VirtualPaper& paper, bool landscape, bool canPrint)
        : m_printer(std::move(printer)), m_paper(paper),
          m_metrics(WinPrint::MeasurePage(m_printer, paper, landscape)), m_canPrint(canPrint) {}
    ~PrinterDC() override {
        std::lock_guard<std::mutex> guard(m_lock);
        AbortLocked();
    }

    int DeviceCaps(int index) const override {
        switch (index) {
        case HORZRES:
            return m_metrics.horzRes;
        case VERTRES:
            return m_metrics.vertRes;
        case LOGPIXELSX:
            return m_printer.dpiX;
        case LOGPIXELSY:
            return m_printer.dpiY;
        case PHYSICALWIDTH:
            return m_metrics.physicalWidth;
        case PHYSICALHEIGHT:
            return m_metrics.physicalHeight;
        case PHYSICALOFFSETX:
            return m_metrics.offsetX;
        case PHYSICALOFFSETY:
            return m_metrics.offsetY;
        default:
            return 0;
        }
    }

    int StartDoc(const std::wstring& documentName) {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_canPrint || m_surface)
            return SP_ERROR;
        const std::string root = WinSystem::GetSystemRoot();
        if (root.empty())
            return SP_ERROR;
        const std::string folder = root + "/spool/" + SafeName(m_printer.name, "printer");
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        if (error)
            return SP_ERROR;
        m_title = Utf::WideToUtf8(documentName);
        const std::string base = folder + "/" + SafeName(m_title, "document");
        for (int number = 1; number < 10000 && m_path.empty(); ++number) {
            const std::string path =
                number == 1 ? base + ".pdf" : base + " (" + std::to_string(number) + ").pdf";
            if (std::filesystem::exists(path, error))
                continue;
            // Reserving the part file at once keeps a second job of the same name from taking it.
            const int fd = ::open(Part(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd < 0) {
                if (errno == EEXIST)
                    continue;
                return SP_ERROR;
            }
            ::close(fd);
            m_path = path;
        }
        if (m_path.empty())
            return SP_ERROR;
        m_surface = cairo_pdf_surface_create(Part(m_path).c_str(), WidthPoints(), HeightPoints());
        if (cairo_surface_status(m_surface) != CAIRO_STATUS_SUCCESS) {
            AbortLocked();
            return SP_ERROR;
        }
        return static_cast<int>(++s_jobs);
    }

    int StartPage() {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_surface || m_page)
            return 0;
        cairo_pdf_surface_set_size(m_surface, WidthPoints(), HeightPoints());
        m_page = cairo_create(m_surface);
        if (cairo_status(m_page) != CAIRO_STATUS_SUCCESS) {
            cairo_destroy(m_page);
            m_page = nullptr;
            return 0;
        }
        cairo_scale(m_page, 72.0 / m_printer.dpiX, 72.0 / m_printer.dpiY);
        cairo_translate(m_page, m_metrics.offsetX, m_metrics.offsetY);
        return 1;
    }

    int EndPage() {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_page)
            return 0;
        cairo_show_page(m_page);
        const bool good = cairo_status(m_page) == CAIRO_STATUS_SUCCESS;
        cairo_destroy(m_page);
        m_page = nullptr;
        if (!good)
            return 0;
        return 1;
    }

    int EndDoc() {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_surface || m_page)
            return 0;
        cairo_surface_finish(m_surface);
        const bool good = cairo_surface_status(m_surface) == CAIRO_STATUS_SUCCESS;
        cairo_surface_destroy(m_surface);
        m_surface = nullptr;
        const std::string part = Part(m_path);
        // A CUPS destination's document goes to its queue and leaves nothing in the spool; link() never
        // replaces a file that another job finished under the name meanwhile.
        const bool placed =
            good && (m_printer.isCups ? WinPrint::SubmitToCups(m_printer, m_paper, part, m_title)
                                      : ::link(part.c_str(), m_path.c_str()) == 0);
        ::unlink(part.c_str());
        m_path.clear();
        return placed ? 1 : 0;
    }

    int AbortDoc() {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_surface)
            return 0;
        AbortLocked();
        return 1;
    }

    cairo_t* Page() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_page;
    }

private:
    double WidthPoints() const { return m_metrics.physicalWidth * 72.0 / m_printer.dpiX; }
    double HeightPoints() const { return m_metrics.physicalHeight * 72.0 / m_printer.dpiY; }

    void AbortLocked() {
        if (m_page) {
            cairo_destroy(m_page);
            m_page = nullptr;
        }
        if (m_surface) {
            cairo_surface_finish(m_surface);
            cairo_surface_destroy(m_surface);
            m_surface = nullptr;
        }
        if (!m_path.empty())
            ::unlink(Part(m_path).c_str());
        m_path.clear();
    }

    static inline std::atomic<int> s_jobs{0};

    const VirtualPrinter m_printer;
    const VirtualPaper m_paper;
    const WinPrint::PageMetrics m_metrics;
    const bool m_canPrint;
    std::mutex m_lock;
    cairo_surface_t* m_surface = nullptr;
    cairo_t* m_page = nullptr;
    std::string m_path;
    std::string m_title;
};

std::shared_ptr<PrinterDC> JobOf(HDC dc) {
    return std::dynamic_pointer_cast<PrinterDC>(WinGdi::PrinterOfDC(dc));
}

HDC CreatePrinterContext(const char* device, const DEVMODEA* devMode, bool canPrint) {
    std::optional<VirtualPrinter> printer = WinPrint::FindPrinter(device);
    if (!printer)
        return nullptr;
    DEVMODEA own{};
    WinPrint::InitDevMode(*printer, own);
    const DEVMODEA& mode = devMode ? *devMode : own;
    const VirtualPaper* paper = WinPrint::FindPaper(*printer, mode.dmPaperSize);
    if (!paper)
        return nullptr;
    const VirtualPaper chosen = *paper;
    return WinGdi::CreatePrinterDC(std::make_shared<PrinterDC>(
        std::move(*printer), chosen, mode.dmOrientation == DMORIENT_LANDSCAPE, canPrint));
}

} // namespace

bool WinPrint::ShouldFail(PrinterCall call) {
    std::lock_guard<std::mutex> guard(FaultState().lock);
    auto it = FaultState().due.find(call);
    if (it == FaultState().due.end())
        return false;
    if (it->second > 0) {
        --it->second;
        return false;
    }
    FaultState().due.erase(it);
    return true;
}

void WinPrint::InitDevMode(const VirtualPrinter& printer, DEVMODEA& devMode) {
    devMode = DEVMODEA{};
    CopyName(devMode.dmDeviceName, sizeof(devMode.dmDeviceName), printer.name);
    devMode.dmSpecVersion = 0x0401;
    devMode.dmSize = sizeof(DEVMODEA);
    devMode.dmFields = DM_ORIENTATION | DM_PAPERSIZE | DM_SCALE | DM_PRINTQUALITY | DM_YRESOLUTION;
    devMode.dmOrientation = DMORIENT_PORTRAIT;
    devMode.dmPaperSize = printer.papers.empty() ? 0 : static_cast<SHORT>(printer.papers.front().id);
    devMode.dmScale = 100;
    devMode.dmCopies = 1;
    devMode.dmPrintQuality = static_cast<SHORT>(printer.dpiX);
    devMode.dmYResolution = static_cast<SHORT>(printer.dpiY);
}

HGLOBAL WinPrint::MakeDevMode(const VirtualPrinter& printer) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DEVMODEA));
    if (auto* mode = static_cast<DEVMODEA*>(GlobalLock(block))) {
        InitDevMode(printer, *mode);
        GlobalUnlock(block);
    }
    return block;
}

HGLOBAL WinPrint::MakeDevNames(const VirtualPrinter& printer, bool isDefault) {
    const std::size_t size =
        sizeof(DEVNAMES) + printer.driver.size() + printer.name.size() + printer.port.size() + 3;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    auto* bytes = static_cast<char*>(GlobalLock(block));
    if (!bytes)
        return block;
    DEVNAMES names{};
    names.wDriverOffset = sizeof(DEVNAMES);
    names.wDeviceOffset = static_cast<WORD>(names.wDriverOffset + printer.driver.size() + 1);
    names.wOutputOffset = static_cast<WORD>(names.wDeviceOffset + printer.name.size() + 1);
    names.wDefault = isDefault ? DN_DEFAULTPRN : 0;
    std::memcpy(bytes, &names, sizeof(names));
    std::memcpy(bytes + names.wDriverOffset, printer.driver.c_str(), printer.driver.size() + 1);
    std::memcpy(bytes + names.wDeviceOffset, printer.name.c_str(), printer.name.size() + 1);
    std::memcpy(bytes + names.wOutputOffset, printer.port.c_str(), printer.port.size() + 1);
    GlobalUnlock(block);
    return block;
}

void WinPrintTest::FailCall(PrinterCall call, int after) {
    std::lock_guard<std::mutex> guard(FaultState().lock);
    FaultState().due[call] = after < 0 ? 0 : after;
}

void WinPrintTest::Reset() {
    {
        std::lock_guard<std::mutex> guard(FaultState().lock);
        FaultState().due.clear();
    }
    WinPrint::ResetDialogs();
}

BOOL OpenPrinterA(const char* printerName, HANDLE* printer, void*) {
    if (!printer)
        return FALSE;
    *printer = 0;
    std::optional<VirtualPrinter> found = WinPrint::FindPrinter(printerName);
    if (!found || WinPrint::ShouldFail(PrinterCall::kOpenPrinter)) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(Printers().lock);
    *printer = Printers().printers.Insert(std::make_shared<VirtualPrinter>(std::move(*found)));
    return *printer ? TRUE : FALSE;
}

BOOL GetPrinterA(HANDLE printer, DWORD level, BYTE* buffer, DWORD bufferSize, DWORD* needed) {
    std::shared_ptr<VirtualPrinter> found;
    {
        std::lock_guard<std::mutex> guard(Printers().lock);
        found = Printers().printers.Find(ToId(printer));
    }
    if (!found || level != 2 || WinPrint::ShouldFail(PrinterCall::kGetPrinter)) {
        SetLastError(found ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const std::array<const std::string*, 3> texts = {&found->name, &found->port, &found->driver};
    std::size_t size = sizeof(PRINTER_INFO_2A) + sizeof(DEVMODEA);
    for (const std::string* text : texts)
        size += text->size() + 1;
    if (needed)
        *needed = static_cast<DWORD>(size);
    if (!buffer || bufferSize < size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memset(buffer, 0, size);
    auto* info = reinterpret_cast<PRINTER_INFO_2A*>(buffer);
    auto* mode = reinterpret_cast<DEVMODEA*>(buffer + sizeof(PRINTER_INFO_2A));
    WinPrint::InitDevMode(*found, *mode);
    info->pDevMode = mode;
    char* next = reinterpret_cast<char*>(buffer + sizeof(PRINTER_INFO_2A) + sizeof(DEVMODEA));
    char** fields[3] = {&info->pPrinterName, &info->pPortName, &info->pDriverName};
    for (std::size_t i = 0; i < texts.size(); ++i) {
        std::memcpy(next, texts[i]->c_str(), texts[i]->size() + 1);
        *fields[i] = next;
        next += texts[i]->size() + 1;
    }
    return TRUE;
}

BOOL ClosePrinter(HANDLE printer) {
    std::lock_guard<std::mutex> guard(Printers().lock);
    return Printers().printers.Erase(ToId(printer)) ? TRUE : FALSE;
}

int DeviceCapabilitiesA(const char* device, const char*, WORD capability, char* output, const DEVMODEA*) {
    std::optional<VirtualPrinter> printer = WinPrint::FindPrinter(device);
    if (!printer || WinPrint::ShouldFail(PrinterCall::kDeviceCapabilities))
        return -1;
    const int count = static_cast<int>(printer->papers.size());
    if (capability != DC_PAPERS && capability != DC_PAPERNAMES && capability != DC_PAPERSIZE)
        return -1;
    if (!output)
        return count;
    for (int i = 0; i < count; ++i) {
        const VirtualPaper& paper = printer->papers[static_cast<std::size_t>(i)];
        if (capability == DC_PAPERS) {
            std::memcpy(output + i * sizeof(WORD), &paper.id, sizeof(WORD));
        } else if (capability == DC_PAPERNAMES) {
            CopyName(output + i * kPaperNameLength, kPaperNameLength, paper.name);
        } else {
            const POINT size{paper.width, paper.height};
            std::memcpy(output + i * sizeof(POINT), &size, sizeof(POINT));
        }
    }
    return count;
}

HDC CreateICA(const char*, const char* device, const char*, const DEVMODEA* devMode) {
    if (WinPrint::ShouldFail(PrinterCall::kCreateIC))
        return nullptr;
    return CreatePrinterContext(device, devMode, false);
}

HDC CreateDCA(const char*, const char* device, const char*, const DEVMODEA* devMode) {
    if (WinPrint::ShouldFail(PrinterCall::kCreateDC))
        return nullptr;
    return CreatePrinterContext(device, devMode, true);
}

BOOL DeleteDC(HDC dc) {
    return WinGdi::TakePrinterDC(dc) ? TRUE : FALSE;
}

int StartDocW(HDC dc, const DOCINFOW* info) {
    std::shared_ptr<PrinterDC> job = JobOf(dc);
    if (!job || !info || WinPrint::ShouldFail(PrinterCall::kStartDoc))
        return SP_ERROR;
    return job->StartDoc(info->lpszDocName ? info->lpszDocName : L"");
}

int StartPage(HDC dc) {
    std::shared_ptr<PrinterDC> job = JobOf(dc);
    return job && !WinPrint::ShouldFail(PrinterCall::kStartPage) ? job->StartPage() : 0;
}

int EndPage(HDC dc) {
    std::shared_ptr<PrinterDC> job = JobOf(dc);
    return job && !WinPrint::ShouldFail(PrinterCall::kEndPage) ? job->EndPage() : 0;
}

int EndDoc(HDC dc) {
    std::shared_ptr<PrinterDC> job = JobOf(dc);
    return job && !WinPrint::ShouldFail(PrinterCall::kEndDoc) ? job->EndDoc() : 0;
}

int AbortDoc(HDC dc) {
    std::shared_ptr<PrinterDC> job = JobOf(dc);
    return job && !WinPrint::ShouldFail(PrinterCall::kAbortDoc) ? job->AbortDoc() : 0;
}

cairo_t* WinPrint::CairoOfDC(HDC dc) {
    std::shared_ptr<PrinterDC> job = JobOf(dc);
    return job ? job->Page() : nullptr;
}
