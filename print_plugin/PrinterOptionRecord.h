// The printer choices that the printer wrapper and the user options share: printer, paper, orientation and
// the page rectangle in inches.
#pragma once

#include "plugin_framework/GraphTypes.h"
#include "plugin_framework/TString.h"

struct PrinterOptionRecord {
    TString printerName;
    // The paper's name; the options keep it under the key "port_name".
    TString paperName;
    BYTE portrait = 1;
    // Inches: 0, 0, the physical width and height.
    graphtypes::TRect_T<double> pageRect;
};
