// The print plug-in: the host's print and page-setup commands. It names itself and its language library,
// hands the host its button bitmaps, makes the print dialog when the host initialises it and takes its
// selection limit from "PrintPluginCfg.xml" beside its own file.
#pragma once

#include "CPrintDlg.h"

#include "plugin_framework/TGenericPlugin.h"

class TPrintPlugin : public TGenericPlugin {
public:
    static constexpr DWORD kPrintCommand = 0x2001;
    static constexpr DWORD kPageSetupCommand = 0x2015;
    static constexpr UINT kNameText = 1083;
    static constexpr WORD kDialogTemplate = 1004;
    // The button's bitmaps (resources of the plug-in's own file) in the host button states.
    static constexpr UINT kBitmapState1 = 1019;
    static constexpr UINT kBitmapState3 = 1021;
    static constexpr UINT kBitmapState2 = 1020;
    static constexpr UINT kBitmapState100 = 1018;

    TPrintPlugin() = default;
    // Shuts the document library down.
    ~TPrintPlugin() override;

    // The document library, the base initialisation (a refusal is answered at once), the print dialog,
    // the configuration file's selection limit and the dialog's resource module; 0.
    KvwResult Initialize(KvwHostCallback callback, IKvwHost* host) override;
    // The page-setup command (second word 0) runs the dialog's page setup on its own and answers 1; any
    // other command is the generic plug-in's.
    KvwResult OnCommand(DWORD command, DWORD second) override;

    UINT GetButtonBitmapState1() override { return kBitmapState1; }
    UINT GetButtonBitmapState3() override { return kBitmapState3; }
    UINT GetButtonBitmapState2() override { return kBitmapState2; }
    UINT GetButtonBitmapState100() override { return kBitmapState100; }
    // String 1083 of the language library; empty when it has none.
    TString GetName() override;
    TString GetLanguageDllName() override { return TString(L"KvtPrintLang.dll"); }
    WORD GetDialogTemplateId() override { return kDialogTemplate; }
    void GetCommandList(std::vector<DWORD>& commands) override;

private:
    void LoadSelectionLimit();

    bool m_documentsStarted = false;
};
