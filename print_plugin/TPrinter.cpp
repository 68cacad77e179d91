#include "TPrinter.h"

#include "plugin_framework/TBaseObject.h"
#include "plugin_framework/TModuleValues.h"

#include "platform/win/WinPrintDialogs.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

using graphtypes::TRect_T;
using graphtypes::TSize_T;

// The first zero-terminated text at the offset inside the block's bytes; false when it runs past them.
bool TextAt(const char* bytes, std::size_t size, WORD offset, std::string& text) {
    if (offset >= size)
        return false;
    const std::size_t length = strnlen(bytes + offset, size - offset);
    if (offset + length >= size)
        return false;
    text.assign(bytes + offset, length);
    return true;
}

// The block's device mode, locked until the owner goes.
class LockedDevMode {
public:
    explicit LockedDevMode(HGLOBAL block)
        : m_block(block),
          m_mode(GlobalSize(block) >= sizeof(DEVMODEA) ? static_cast<DEVMODEA*>(GlobalLock(block))
                                                       : nullptr) {}
    ~LockedDevMode() {
        if (m_mode)
            GlobalUnlock(m_block);
    }
    LockedDevMode(const LockedDevMode&) = delete;
    LockedDevMode& operator=(const LockedDevMode&) = delete;
    DEVMODEA* operator->() const { return m_mode; }
    DEVMODEA* Get() const { return m_mode; }
    explicit operator bool() const { return m_mode != nullptr; }

private:
    HGLOBAL m_block;
    DEVMODEA* m_mode;
};

double MillimetresToInches(double millimetres) {
    return ConvertUnits(LengthUnit::kMillimetre, LengthUnit::kInch, millimetres, nullptr);
}

} // namespace

TPrinter::~TPrinter() {
    Release();
}

void TPrinter::Release() {
    DeleteContext();
    if (m_devMode)
        GlobalFree(m_devMode);
    if (m_devNames)
        GlobalFree(m_devNames);
    m_devMode = nullptr;
    m_devNames = nullptr;
}

void TPrinter::DeleteContext() {
    if (m_dc)
        DeleteDC(m_dc); // a document still open is aborted with it
    m_dc = nullptr;
}

void TPrinter::KeepHandles(HGLOBAL devMode, HGLOBAL devNames) {
    if (m_devMode && m_devMode != devMode)
        GlobalFree(m_devMode);
    if (m_devNames && m_devNames != devNames)
        GlobalFree(m_devNames);
    m_devMode = devMode;
    m_devNames = devNames;
}

bool TPrinter::Init(const PrinterOptionRecord& record, HWND owner) {
    Release();
    m_papers.clear();
    m_options = record;
    if (!SelectPrinterByName(record) && !SelectDefaultPrinter(owner))
        return false;
    // Measuring the page with no user margins makes them the hardware margins.
    m_userMargins = graphtypes::TRect_T<double>();
    if (!BuildPaperTable() || !UpdateMetrics(nullptr)) {
        Release();
        return false;
    }
    return true;
}

bool TPrinter::SelectPrinterByName(const PrinterOptionRecord& record) {
    m_options = record;
    if (record.printerName.IsEmpty())
        return false;
    const TStringA name(static_cast<const wchar_t*>(record.printerName));
    HANDLE printer = 0;
    if (!OpenPrinterA(name, &printer, nullptr))
        return false;
    DWORD needed = 0;
    GetPrinterA(printer, 2, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed >= sizeof(PRINTER_INFO_2A) ? needed : 0, 0);
    const bool read = !buffer.empty() && GetPrinterA(printer, 2, buffer.data(), needed, &needed);
    ClosePrinter(printer);
    if (!read)
        return false;
    const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data());
    // The device mode and the names must lie inside what the printer handed over.
    const auto* modeBytes = reinterpret_cast<const BYTE*>(info->pDevMode);
    if (!modeBytes || modeBytes < buffer.data() ||
        modeBytes > buffer.data() + buffer.size() - sizeof(DEVMODEA))
        return false;
    const std::size_t modeSize = sizeof(DEVMODEA) + info->pDevMode->dmDriverExtra;
    if (static_cast<std::size_t>(modeBytes - buffer.data()) + modeSize > buffer.size() ||
        !info->pDriverName || !info->pPortName)
        return false;
    HGLOBAL devMode = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, modeSize);
    if (auto* mode = static_cast<DEVMODEA*>(GlobalLock(devMode))) {
        std::memcpy(mode, modeBytes, modeSize);
        mode->dmOrientation = record.portrait ? DMORIENT_PORTRAIT : DMORIENT_LANDSCAPE;
        GlobalUnlock(devMode);
    }
    const std::string driver = info->pDriverName, device = static_cast<const char*>(name),
                      port = info->pPortName;
    const std::size_t namesSize = sizeof(DEVNAMES) + driver.size() + device.size() + port.size() + 3;
    HGLOBAL devNames = namesSize <= 0xFFFF ? GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, namesSize) : nullptr;
    if (auto* bytes = static_cast<char*>(GlobalLock(devNames))) {
        DEVNAMES header{};
        header.wDriverOffset = sizeof(DEVNAMES);
        header.wDeviceOffset = static_cast<WORD>(header.wDriverOffset + driver.size() + 1);
        header.wOutputOffset = static_cast<WORD>(header.wDeviceOffset + device.size() + 1);
        std::memcpy(bytes, &header, sizeof(header));
        std::memcpy(bytes + header.wDriverOffset, driver.c_str(), driver.size() + 1);
        std::memcpy(bytes + header.wDeviceOffset, device.c_str(), device.size() + 1);
        std::memcpy(bytes + header.wOutputOffset, port.c_str(), port.size() + 1);
        GlobalUnlock(devNames);
    }
    if (!devMode || !devNames) {
        GlobalFree(devMode);
        GlobalFree(devNames);
        return false;
    }
    KeepHandles(devMode, devNames);
    return true;
}

bool TPrinter::SelectDefaultPrinter(HWND owner) {
    PAGESETUPDLGA setup{};
    setup.lStructSize = sizeof(setup);
    setup.hwndOwner = owner;
    setup.Flags = PSD_RETURNDEFAULT;
    setup.hInstance = GetThisModule();
    if (!PageSetupDlgA(&setup) || !setup.hDevMode || !setup.hDevNames) {
        GlobalFree(setup.hDevMode);
        GlobalFree(setup.hDevNames);
        return false;
    }
    KeepHandles(setup.hDevMode, setup.hDevNames);
    return true;
}

bool TPrinter::ReadNames(Names& names) const {
    const std::size_t size = GlobalSize(m_devNames);
    const auto* bytes = static_cast<const char*>(GlobalLock(m_devNames));
    if (!bytes)
        return false;
    bool good = size >= sizeof(DEVNAMES);
    if (good) {
        DEVNAMES header;
        std::memcpy(&header, bytes, sizeof(header));
        good = TextAt(bytes, size, header.wDriverOffset, names.driver) &&
               TextAt(bytes, size, header.wDeviceOffset, names.device) &&
               TextAt(bytes, size, header.wOutputOffset, names.port);
    }
    GlobalUnlock(m_devNames);
    return good;
}

bool TPrinter::BuildPaperTable() {
    m_papers.clear();
    Names names;
    if (!ReadNames(names))
        return false;
    const char* device = names.device.c_str();
    const char* port = names.port.c_str();
    const int count = DeviceCapabilitiesA(device, port, DC_PAPERS, nullptr, nullptr);
    if (count < 0)
        return false;
    const std::size_t papers = static_cast<std::size_t>(count);
    std::vector<WORD> ids(papers);
    std::vector<char> paperNames(papers * kPaperNameLength);
    std::vector<POINT> sizes(papers);
    if (DeviceCapabilitiesA(device, port, DC_PAPERS, reinterpret_cast<char*>(ids.data()), nullptr) != count ||
        DeviceCapabilitiesA(device, port, DC_PAPERNAMES, paperNames.data(), nullptr) != count ||
        DeviceCapabilitiesA(device, port, DC_PAPERSIZE, reinterpret_cast<char*>(sizes.data()), nullptr) !=
            count)
        return false;
    LockedDevMode mode(m_devMode);
    for (std::size_t i = 0; i < papers; ++i) {
        const char* text = paperNames.data() + i * kPaperNameLength;
        PaperRecord paper;
        paper.id = ids[i];
        paper.name = TString(std::string(text, strnlen(text, kPaperNameLength)).c_str());
        paper.size =
            TSize_T<double>(MillimetresToInches(sizes[i].x / 10.0), MillimetresToInches(sizes[i].y / 10.0));
        if (mode && paper.name == m_options.paperName)
            mode->dmPaperSize = static_cast<SHORT>(paper.id);
        m_papers.emplace(std::wstring(static_cast<const wchar_t*>(paper.name)), paper);
    }
    return true;
}

bool TPrinter::UpdateMetrics(bool* changed) {
    bool differs = false;
    Names names;
    if (!ReadNames(names))
        return false;
    DEVMODEA mode{};
    {
        LockedDevMode locked(m_devMode);
        if (!locked)
            return false;
        mode = *locked.Get();
    }
    const BYTE portrait = mode.dmOrientation == DMORIENT_PORTRAIT ? 1 : 0;
    differs |= portrait != m_options.portrait;
    m_options.portrait = portrait;
    const TString device(names.device.c_str());
    if (device != m_options.printerName) {
        m_options.printerName = device;
        if (!BuildPaperTable())
            return false;
    }
    for (const auto& [name, paper] : m_papers) {
        if (paper.id == static_cast<WORD>(mode.dmPaperSize))
            m_options.paperName = paper.name;
    }

    HDC ic = CreateICA(names.driver.c_str(), names.device.c_str(), names.port.c_str(), &mode);
    if (!ic)
        return false;
    const TSize_T<LONG> resolution(GetDeviceCaps(ic, LOGPIXELSX), GetDeviceCaps(ic, LOGPIXELSY));
    const double scale = mode.dmScale == 0 ? 1.0 : mode.dmScale / 100.0;
    const double width = GetDeviceCaps(ic, PHYSICALWIDTH) * scale;
    const double height = GetDeviceCaps(ic, PHYSICALHEIGHT) * scale;
    const double offsetX = GetDeviceCaps(ic, PHYSICALOFFSETX) * scale;
    const double offsetY = GetDeviceCaps(ic, PHYSICALOFFSETY) * scale;
    const double horzRes = GetDeviceCaps(ic, HORZRES) * scale;
    const double vertRes = GetDeviceCaps(ic, VERTRES) * scale;
    DeleteDC(ic);
    // A printer that reports no resolution cannot be measured in inches.
    if (resolution.cx <= 0 || resolution.cy <= 0)
        return false;
    differs |= resolution != m_resolution;
    m_resolution = resolution;

    const double dx = resolution.cx, dy = resolution.cy;
    m_options.pageRect = TRect_T<double>(0, 0, width / dx, height / dy);
    const TRect_T<double> minMargins(offsetX / dx, offsetY / dy, (width - offsetX - horzRes) / dx,
                                     (height - offsetY - vertRes) / dy);
    differs |= minMargins != m_minMargins;
    m_minMargins = minMargins;
    if (m_userMargins.IsNull())
        m_userMargins = m_minMargins;

    TRect_T<double> printable(m_userMargins.left, m_userMargins.top,
                              m_options.pageRect.right - m_userMargins.right,
                              m_options.pageRect.bottom - m_userMargins.bottom);
    if (scale != 1.0) {
        const double w = printable.Width(), h = printable.Height();
        printable.left += (w - w * scale) / 2;
        printable.top += (h - h * scale) / 2;
        printable.right = printable.left + w * scale;
        printable.bottom = printable.top + h * scale;
    }
    differs |= printable != m_printable;
    m_printable = printable;
    if (changed)
        *changed = differs;
    return true;
}

graphtypes::TRect_T<double> TPrinter::GetPaperRect(LONG unit) const {
    return ConvertRect(LengthUnit::kInch, unit, m_options.pageRect, &m_resolution);
}

graphtypes::TRect_T<double> TPrinter::GetMinMarginRect(LONG unit) const {
    return ConvertRect(LengthUnit::kInch, unit, m_minMargins, &m_resolution);
}

graphtypes::TRect_T<double> TPrinter::GetPrintableRect(LONG unit, bool pageCoordinates) const {
    TRect_T<double> rect = ConvertRect(LengthUnit::kInch, unit, m_printable, &m_resolution);
    if (!pageCoordinates) {
        const TRect_T<double> margins = GetMinMarginRect(unit);
        rect.left -= margins.left;
        rect.right -= margins.left;
        rect.top -= margins.top;
        rect.bottom -= margins.top;
    }
    return rect;
}

bool TPrinter::PageSetupDialog(HWND owner, PageSetupCompletion completion, void* context) {
    if (!IsValid() || !completion)
        return false;
    PAGESETUPDLGA setup{};
    setup.lStructSize = sizeof(setup);
    setup.hwndOwner = owner;
    setup.hDevMode = m_devMode;
    setup.hDevNames = m_devNames;
    setup.Flags = PSD_MINMARGINS | PSD_MARGINS | PSD_INTHOUSANDTHSOFINCHES;
    auto thousandths = [](double inches) { return static_cast<LONG>(std::trunc(inches * 1000)); };
    setup.rtMinMargin = RECT{thousandths(m_minMargins.left), thousandths(m_minMargins.top),
                             thousandths(m_minMargins.right), thousandths(m_minMargins.bottom)};
    setup.rtMargin = RECT{thousandths(std::max(m_minMargins.left, m_userMargins.left)),
                          thousandths(std::max(m_minMargins.top, m_userMargins.top)),
                          thousandths(std::max(m_minMargins.right, m_userMargins.right)),
                          thousandths(std::max(m_minMargins.bottom, m_userMargins.bottom))};
    const BOOL result = PageSetupDlgA(&setup);
    bool accepted = false, changed = false;
    if (result != 0) {
        if (setup.hDevMode != m_devMode && setup.hDevNames != m_devNames)
            KeepHandles(setup.hDevMode, setup.hDevNames);
        const bool metric = setup.Flags & PSD_INHUNDREDTHSOFMILLIMETERS;
        auto inches = [metric](LONG value) {
            return metric ? MillimetresToInches(value / 100.0) : value / 1000.0;
        };
        m_userMargins = TRect_T<double>(inches(setup.rtMargin.left), inches(setup.rtMargin.top),
                                        inches(setup.rtMargin.right), inches(setup.rtMargin.bottom));
        accepted = result == 1;
        if (accepted && !UpdateMetrics(&changed))
            changed = false;
    }
    completion(accepted, changed, context);
    return true;
}

bool TPrinter::PrintDialog(HWND owner, LONG pageCount, PrintCompletion completion, void* context) {
    if (!IsValid() || !completion || pageCount < 1)
        return false;
    bool accepted = false;
    std::vector<LONG> pages;
    auto addRange = [&](DWORD from, DWORD to) {
        // Pages outside the document are never listed, whatever the dialog answered.
        const LONG first = std::max<LONG>(1, static_cast<LONG>(std::min<DWORD>(from, 0x7FFFFFFF)));
        const LONG last = std::min<LONG>(pageCount, static_cast<LONG>(std::min<DWORD>(to, 0x7FFFFFFF)));
        for (LONG page = first; page <= last; ++page)
            pages.push_back(page);
    };
    HGLOBAL devMode = m_devMode, devNames = m_devNames;
    if (GetOSVersion() >= 9) {
        std::vector<PRINTPAGERANGE> ranges(static_cast<std::size_t>(pageCount));
        PRINTDLGEXA print{};
        print.lStructSize = sizeof(print);
        print.hwndOwner = owner;
        print.hDevMode = m_devMode;
        print.hDevNames = m_devNames;
        print.Flags = PD_NOSELECTION | PD_USEDEVMODECOPIESANDCOLLATE | PD_NOCURRENTPAGE;
        print.nMinPage = 1;
        print.nMaxPage = static_cast<DWORD>(pageCount);
        print.nMaxPageRanges = static_cast<DWORD>(pageCount);
        print.lpPageRanges = ranges.data();
        print.nStartPage = START_PAGE_GENERAL;
        accepted = PrintDlgExA(&print) == S_OK && print.dwResultAction == PD_RESULT_PRINT;
        if (accepted && (print.Flags & PD_PAGENUMS)) {
            for (DWORD i = 0; i < std::min(print.nPageRanges, print.nMaxPageRanges); ++i)
                addRange(ranges[i].nFromPage, ranges[i].nToPage);
        } else if (accepted) {
            addRange(1, static_cast<DWORD>(pageCount));
        }
        devMode = print.hDevMode;
        devNames = print.hDevNames;
    } else {
        PRINTDLGA print{};
        print.lStructSize = sizeof(print);
        print.hwndOwner = owner;
        print.hDevMode = m_devMode;
        print.hDevNames = m_devNames;
        print.Flags = PD_NOSELECTION | PD_USEDEVMODECOPIESANDCOLLATE;
        print.nMinPage = 1;
        print.nMaxPage = static_cast<WORD>(std::min<LONG>(pageCount, 0xFFFF));
        accepted = PrintDlgA(&print) == 1;
        if (accepted)
            addRange(print.Flags & PD_PAGENUMS ? print.nFromPage : 1,
                     print.Flags & PD_PAGENUMS ? print.nToPage : static_cast<DWORD>(pageCount));
        devMode = print.hDevMode;
        devNames = print.hDevNames;
    }
    if (devMode && devNames)
        KeepHandles(devMode, devNames);
    if (accepted)
        UpdateMetrics(nullptr);
    completion(accepted, pages, context);
    return true;
}

bool TPrinter::StartDocument(const TString& documentName) {
    DeleteContext();
    Names names;
    if (!IsValid() || !ReadNames(names))
        return false;
    const TStringA device(static_cast<const wchar_t*>(m_options.printerName));
    {
        LockedDevMode mode(m_devMode);
        m_dc = CreateDCA(names.driver.c_str(), device, names.port.c_str(), mode.Get());
    }
    if (!m_dc)
        return false;
    DOCINFOW info{};
    info.cbSize = sizeof(info);
    info.lpszDocName = documentName;
    if (StartDocW(m_dc, &info) > 0)
        return true;
    DeleteContext();
    return false;
}

bool TPrinter::StartPage(HDC* dc) {
    if (!m_dc || ::StartPage(m_dc) <= 0)
        return false;
    if (dc)
        *dc = m_dc;
    return true;
}

bool TPrinter::EndPage() {
    return m_dc && ::EndPage(m_dc) > 0;
}

bool TPrinter::EndDocument() {
    const bool ended = m_dc && EndDoc(m_dc) > 0;
    DeleteContext();
    return ended;
}

bool TPrinter::AbortDocument() {
    const bool aborted = m_dc && AbortDoc(m_dc) > 0;
    DeleteContext();
    return aborted;
}
