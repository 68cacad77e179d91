// What the printer services and the print dialogs share inside this library: injected failures and the
// device-mode and names blocks of a printer.
#pragma once

#include "WinSpool.h"

namespace WinPrint {

// True when an injected failure of the call is due now (it is then used up).
bool ShouldFail(WinPrintTest::PrinterCall call);
// The printer's own device mode: portrait, its first paper, scale 100, one copy, its resolution.
void InitDevMode(const VirtualPrinter& printer, DEVMODEA& devMode);
// New movable blocks (null when out of memory): the printer's device mode, and its names (driver, device,
// port) behind a DEVNAMES header.
HGLOBAL MakeDevMode(const VirtualPrinter& printer);
HGLOBAL MakeDevNames(const VirtualPrinter& printer, bool isDefault);
// Forgets the dialogs' scripted answers and recorded calls.
void ResetDialogs();

} // namespace WinPrint
