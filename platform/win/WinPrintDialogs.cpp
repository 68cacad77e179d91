#include "WinPrintDialogs.h"

#include "WinPrintInternal.h"

#include <cstring>
#include <deque>
#include <mutex>

namespace {

using WinPrint::VirtualPrinter;
using WinPrintTest::PrinterCall;

struct Script {
    std::mutex lock;
    std::deque<WinPrintTest::PageSetupAnswer> pageSetup;
    std::deque<WinPrintTest::PrintAnswer> print;
    std::vector<PAGESETUPDLGA> pageSetupCalls;
    std::vector<PRINTDLGA> printCalls;
    std::vector<PRINTDLGEXA> printExCalls;
};

Script& Dialogs() {
    static Script* script = new Script;
    return *script;
}

template <class Answer>
std::optional<Answer> NextAnswer(std::deque<Answer>& queue) {
    if (queue.empty())
        return std::nullopt;
    Answer answer = std::move(queue.front());
    queue.pop_front();
    return answer;
}

// Puts the printer's names and device mode into the handles, making those that are missing. The handles
// given stay the caller's: they are filled in place.
bool ChoosePrinter(const VirtualPrinter& printer, HGLOBAL& devMode, HGLOBAL& devNames) {
    HGLOBAL mode = WinPrint::MakeDevMode(printer);
    HGLOBAL names = WinPrint::MakeDevNames(printer, printer.isDefault);
    bool good = mode && names;
    for (auto [target, made] : {std::pair{&devMode, mode}, std::pair{&devNames, names}}) {
        if (!good || !*target) {
            if (good)
                *target = std::exchange(made, nullptr);
        } else {
            const std::size_t size = GlobalSize(made);
            void* from = GlobalLock(made);
            if (GlobalReAlloc(*target, size, GMEM_MOVEABLE) && from) {
                void* to = GlobalLock(*target);
                std::memcpy(to, from, size);
                GlobalUnlock(*target);
            } else {
                good = false;
            }
            GlobalUnlock(made);
        }
        GlobalFree(made);
    }
    return good;
}

bool ApplyPrinter(const std::string& name, HGLOBAL& devMode, HGLOBAL& devNames) {
    if (name.empty() && devMode && devNames)
        return true;
    std::optional<VirtualPrinter> printer =
        name.empty() ? WinPrint::DefaultPrinter() : WinPrint::FindPrinter(name.c_str());
    return printer && ChoosePrinter(*printer, devMode, devNames);
}

bool PagesWithin(const WinPrintTest::PrintAnswer& answer, DWORD low, DWORD high) {
    for (auto [from, to] : answer.ranges) {
        if (from < low || to > high || from > to)
            return false;
    }
    return true;
}

} // namespace

void WinPrint::ResetDialogs() {
    std::lock_guard<std::mutex> guard(Dialogs().lock);
    Dialogs().pageSetup.clear();
    Dialogs().print.clear();
    Dialogs().pageSetupCalls.clear();
    Dialogs().printCalls.clear();
    Dialogs().printExCalls.clear();
}

BOOL PageSetupDlgA(PAGESETUPDLGA* setup) {
    if (!setup || setup->lStructSize != sizeof(PAGESETUPDLGA) ||
        WinPrint::ShouldFail(PrinterCall::kPageSetupDialog))
        return FALSE;
    if (setup->Flags & PSD_RETURNDEFAULT) {
        if (setup->hDevMode || setup->hDevNames)
            return FALSE;
        return ApplyPrinter("", setup->hDevMode, setup->hDevNames) ? TRUE : FALSE;
    }
    std::optional<WinPrintTest::PageSetupAnswer> answer;
    {
        std::lock_guard<std::mutex> guard(Dialogs().lock);
        Dialogs().pageSetupCalls.push_back(*setup);
        answer = NextAnswer(Dialogs().pageSetup);
    }
    if (!answer || !answer->accept || !ApplyPrinter("", setup->hDevMode, setup->hDevNames))
        return FALSE;
    if (auto* mode = static_cast<DEVMODEA*>(GlobalLock(setup->hDevMode))) {
        if (answer->paper)
            mode->dmPaperSize = *answer->paper;
        if (answer->orientation)
            mode->dmOrientation = *answer->orientation;
        GlobalUnlock(setup->hDevMode);
    }
    if (answer->margins)
        setup->rtMargin = *answer->margins;
    if (answer->inHundredthsOfMillimetres)
        setup->Flags = (setup->Flags & ~PSD_INTHOUSANDTHSOFINCHES) | PSD_INHUNDREDTHSOFMILLIMETERS;
    return TRUE;
}

BOOL PrintDlgA(PRINTDLGA* print) {
    if (!print || print->lStructSize != sizeof(PRINTDLGA) || WinPrint::ShouldFail(PrinterCall::kPrintDialog))
        return FALSE;
    std::optional<WinPrintTest::PrintAnswer> answer;
    {
        std::lock_guard<std::mutex> guard(Dialogs().lock);
        Dialogs().printCalls.push_back(*print);
        answer = NextAnswer(Dialogs().print);
    }
    // The classic dialog offers one range only.
    if (!answer || !answer->accept || answer->ranges.size() > 1 ||
        !PagesWithin(*answer, print->nMinPage, print->nMaxPage) ||
        !ApplyPrinter(answer->printer, print->hDevMode, print->hDevNames))
        return FALSE;
    print->Flags &= ~PD_PAGENUMS;
    if (!answer->ranges.empty()) {
        print->Flags |= PD_PAGENUMS;
        print->nFromPage = static_cast<WORD>(answer->ranges.front().first);
        print->nToPage = static_cast<WORD>(answer->ranges.front().second);
    }
    return TRUE;
}

HRESULT PrintDlgExA(PRINTDLGEXA* print) {
    if (!print || print->lStructSize != sizeof(PRINTDLGEXA))
        return E_INVALIDARG;
    if (WinPrint::ShouldFail(PrinterCall::kPrintDialog))
        return E_FAIL;
    std::optional<WinPrintTest::PrintAnswer> answer;
    {
        std::lock_guard<std::mutex> guard(Dialogs().lock);
        Dialogs().printExCalls.push_back(*print);
        answer = NextAnswer(Dialogs().print);
    }
    print->dwResultAction = PD_RESULT_CANCEL;
    if (!answer || !answer->accept)
        return S_OK;
    if (answer->ranges.size() > print->nMaxPageRanges || (!answer->ranges.empty() && !print->lpPageRanges) ||
        !PagesWithin(*answer, print->nMinPage, print->nMaxPage))
        return E_INVALIDARG;
    if (!ApplyPrinter(answer->printer, print->hDevMode, print->hDevNames))
        return E_FAIL;
    print->Flags &= ~PD_PAGENUMS;
    print->nPageRanges = static_cast<DWORD>(answer->ranges.size());
    for (std::size_t i = 0; i < answer->ranges.size(); ++i)
        print->lpPageRanges[i] = PRINTPAGERANGE{answer->ranges[i].first, answer->ranges[i].second};
    if (!answer->ranges.empty())
        print->Flags |= PD_PAGENUMS;
    print->dwResultAction = PD_RESULT_PRINT;
    return S_OK;
}

void WinPrintTest::QueuePageSetupAnswer(const PageSetupAnswer& answer) {
    std::lock_guard<std::mutex> guard(Dialogs().lock);
    Dialogs().pageSetup.push_back(answer);
}

void WinPrintTest::QueuePrintAnswer(const PrintAnswer& answer) {
    std::lock_guard<std::mutex> guard(Dialogs().lock);
    Dialogs().print.push_back(answer);
}

std::vector<PAGESETUPDLGA> WinPrintTest::PageSetupCalls() {
    std::lock_guard<std::mutex> guard(Dialogs().lock);
    return Dialogs().pageSetupCalls;
}

std::vector<PRINTDLGA> WinPrintTest::PrintCalls() {
    std::lock_guard<std::mutex> guard(Dialogs().lock);
    return Dialogs().printCalls;
}

std::vector<PRINTDLGEXA> WinPrintTest::PrintExCalls() {
    std::lock_guard<std::mutex> guard(Dialogs().lock);
    return Dialogs().printExCalls;
}
