// The common print dialogs (comdlg32): page setup and print, in the classic and the extended form,
// answered from a script of the tests instead of a user. Without a scripted answer a dialog is cancelled.
#pragma once

#include "WinSpool.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

// The result codes WinUxTheme.h has too: whichever header comes first defines them (the same values).
#ifndef KV_WIN_SHARED_RESULT_CODES
#define KV_WIN_SHARED_RESULT_CODES
using HRESULT = LONG;
constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
#endif
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);

constexpr DWORD PSD_MINMARGINS = 0x00000001;
constexpr DWORD PSD_MARGINS = 0x00000002;
constexpr DWORD PSD_INTHOUSANDTHSOFINCHES = 0x00000004;
constexpr DWORD PSD_INHUNDREDTHSOFMILLIMETERS = 0x00000008;
constexpr DWORD PSD_RETURNDEFAULT = 0x00000400;

constexpr DWORD PD_PAGENUMS = 0x00000002;
constexpr DWORD PD_NOSELECTION = 0x00000004;
constexpr DWORD PD_USEDEVMODECOPIESANDCOLLATE = 0x00040000;
constexpr DWORD PD_NOCURRENTPAGE = 0x00800000;
constexpr DWORD START_PAGE_GENERAL = 0xFFFFFFFF;
constexpr DWORD PD_RESULT_CANCEL = 0;
constexpr DWORD PD_RESULT_PRINT = 1;

struct PAGESETUPDLGA {
    DWORD lStructSize;
    HWND hwndOwner;
    HGLOBAL hDevMode;
    HGLOBAL hDevNames;
    DWORD Flags;
    POINT ptPaperSize;
    RECT rtMinMargin;
    RECT rtMargin;
    HINSTANCE hInstance;
    LPARAM lCustData;
};

struct PRINTDLGA {
    DWORD lStructSize;
    HWND hwndOwner;
    HGLOBAL hDevMode;
    HGLOBAL hDevNames;
    HDC hDC;
    DWORD Flags;
    WORD nFromPage;
    WORD nToPage;
    WORD nMinPage;
    WORD nMaxPage;
    WORD nCopies;
    HINSTANCE hInstance;
    LPARAM lCustData;
};

struct PRINTPAGERANGE {
    DWORD nFromPage;
    DWORD nToPage;
};

struct PRINTDLGEXA {
    DWORD lStructSize;
    HWND hwndOwner;
    HGLOBAL hDevMode;
    HGLOBAL hDevNames;
    HDC hDC;
    DWORD Flags;
    DWORD Flags2;
    DWORD ExclusionFlags;
    DWORD nPageRanges;
    DWORD nMaxPageRanges;
    PRINTPAGERANGE* lpPageRanges;
    DWORD nMinPage;
    DWORD nMaxPage;
    DWORD nCopies;
    HINSTANCE hInstance;
    DWORD nStartPage;
    DWORD dwResultAction;
};

// With PSD_RETURNDEFAULT (and no handles given): new handles of the default printer, no dialog shown.
// Otherwise the next scripted answer: 0 when cancelled; when accepted, 1 with the device mode changed in
// place and the margins answered.
BOOL PageSetupDlgA(PAGESETUPDLGA* setup);
// The next scripted answer: 0 when cancelled or its pages lie outside nMinPage..nMaxPage; 1 when accepted,
// with the page range and a chosen printer's handles (made when none were given).
BOOL PrintDlgA(PRINTDLGA* print);
// The same, answering S_OK with dwResultAction PD_RESULT_PRINT or PD_RESULT_CANCEL; E_INVALIDARG for more
// ranges than nMaxPageRanges, pages outside the limits or a missing range array.
HRESULT PrintDlgExA(PRINTDLGEXA* print);

namespace WinPrintTest {

struct PageSetupAnswer {
    bool accept = true;
    // In the unit the answer reports: thousandths of an inch, or hundredths of a millimetre when set.
    std::optional<RECT> margins;
    bool inHundredthsOfMillimetres = false;
    std::optional<SHORT> paper;
    std::optional<SHORT> orientation;
};

struct PrintAnswer {
    bool accept = true;
    // Pages from-to, inclusive; none for "all pages".
    std::vector<std::pair<DWORD, DWORD>> ranges;
    // Another printer chosen in the dialog; empty keeps the one given.
    std::string printer;
};

void QueuePageSetupAnswer(const PageSetupAnswer& answer);
// Serves PrintDlgA and PrintDlgExA alike.
void QueuePrintAnswer(const PrintAnswer& answer);
// The records as each dialog was called (before any answer changed them).
std::vector<PAGESETUPDLGA> PageSetupCalls();
std::vector<PRINTDLGA> PrintCalls();
std::vector<PRINTDLGEXA> PrintExCalls();

} // namespace WinPrintTest
