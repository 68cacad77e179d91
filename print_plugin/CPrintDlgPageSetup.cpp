// The printer's page setup that the host runs on its own, outside the print dialog.
#include "CPrintDlg.h"

#include "plugin_framework/HostLink.h"
#include "plugin_framework/TModuleValues.h"

namespace {

void ShowError(UINT textId, HWND owner) {
    TString text;
    TResource::Instance()->LoadString(textId, text);
    TDialog::ShowMessageBox(text, TDialog::kErrorMessage, owner);
}

} // namespace

bool CPrintDlg::RunPageSetup() {
    HWND parent = HostLink::Instance()->GetMainWindowHandle();
    m_standAlone = true;
    TFilePath ownFolder;
    if (!GetModuleFolder(ownFolder, GetThisModule())) {
        ShowError(kModuleNotFoundText, parent);
        return true;
    }
    m_options.SetDefaults();
    m_options.SetPrinterSettings(&m_printer.GetOptionRecord());
    m_options.Load();
    const PrinterOptionRecord record = m_printer.GetOptionRecord();
    if (!m_printer.Init(record, parent)) {
        ShowError(kNoPrinterText, parent);
        return true;
    }
    m_printer.PageSetupDialog(parent, &CPrintDlg::OnPageSetupDone, this);
    return true;
}
