// The mail plug-in: the host's e-mail command. It names itself and its language library, hands the host
// its button bitmaps, makes the mail dialog when the host initialises it, takes its selection limit from
// "MailPluginCfg.xml" beside its own file, and forwards the host's progress to the dialog.
#pragma once

#include "CMailDlg.h"
#include "TConfigSettings.h"

#include "plugin_framework/TGenericPlugin.h"

class TMailPlugin : public TGenericPlugin {
public:
    static constexpr DWORD kMailCommand = 0x2004;
    static constexpr UINT kNameText = 2000;
    static constexpr WORD kDialogTemplate = 1004;
    // The button's bitmaps (resources of the plug-in's own file) in the host button states.
    static constexpr UINT kBitmapState1 = 1016;
    static constexpr UINT kBitmapState2 = 1017;
    static constexpr UINT kBitmapState3 = 1018;
    static constexpr UINT kBitmapState100 = 1015;
    // The words of a host progress message meant for the dialog.
    static constexpr KvwWord kDialogProgress = 2;

    TMailPlugin() = default;
    // Shuts the document library down.
    ~TMailPlugin() override;

    // The base initialisation (its answer is not consulted), the mail dialog, the document library, the
    // configuration file; always 0.
    KvwResult Initialize(KvwHostCallback callback, IKvwHost* host) override;
    // A progress message (0x20000201) with p4 = p5 = 2 hands the two words at p3 (position, range) to the
    // dialog; every message then goes to the generic plug-in, whose answer is returned.
    KvwResult OnMessage(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5, KvwWord p6,
                        KvwWord p7, KvwWord p8) override;

    UINT GetButtonBitmapState1() override { return kBitmapState1; }
    UINT GetButtonBitmapState3() override { return kBitmapState3; }
    UINT GetButtonBitmapState2() override { return kBitmapState2; }
    UINT GetButtonBitmapState100() override { return kBitmapState100; }
    // String 2000 of the language library; empty when it has none.
    TString GetName() override;
    TString GetLanguageDllName() override { return TString(L"KvtEmailLang.dll"); }
    WORD GetDialogTemplateId() override { return kDialogTemplate; }
    void GetCommandList(std::vector<DWORD>& commands) override;

    const TConfigSettings& GetConfig() const { return m_config; }

protected:
    // The dialog the plug-in opens; null when it cannot be made.
    virtual CMailDlg* CreateMailDialog();

private:
    void LoadConfiguration();

    TConfigSettings m_config;
    bool m_documentsStarted = false;
};
