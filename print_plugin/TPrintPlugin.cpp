#include "TPrintPlugin.h"

#include "plugin_framework/TFilePath.h"
#include "plugin_framework/TModuleValues.h"
#include "plugin_framework/TResource.h"

#include "platform/dadadud/DadaDud.h"

#include <new>

TPrintPlugin::~TPrintPlugin() {
    if (m_documentsStarted)
        docShutdown();
}

KvwResult TPrintPlugin::Initialize(KvwHostCallback callback, IKvwHost* host) {
    if (!m_documentsStarted)
        m_documentsStarted = docStartup() == 1;
    const KvwResult result = TGenericPlugin::Initialize(callback, host);
    if (result != kKvwOk)
        return result;
    m_dialog = TRefPtr<TGenPluginDlg>::Adopt(new (std::nothrow) CPrintDlg);
    LoadSelectionLimit();
    InitDialogResource();
    return kKvwOk;
}

void TPrintPlugin::LoadSelectionLimit() {
    // Read only where the host program's folder can be found too, as the host installs both together. A
    // missing or unreadable file keeps the limit as it was.
    TFilePath hostFolder;
    TFilePath ownFolder;
    const TResource hostResource;
    if (!hostResource.GetModuleFolder(hostFolder) || !GetModuleFolder(ownFolder, GetThisModule()))
        return;
    TConfigSettings config;
    if (config.Load(ownFolder.GetPath() + TConfigSettings::kFileName))
        m_selectionLimit = static_cast<DWORD>(config.GetMaxLimit());
}

KvwResult TPrintPlugin::OnCommand(DWORD command, DWORD second) {
    if (command == kPageSetupCommand && second == 0) {
        if (auto* dialog = static_cast<CPrintDlg*>(m_dialog.Get()))
            dialog->RunPageSetup();
        return 1;
    }
    return TGenericPlugin::OnCommand(command, second);
}

TString TPrintPlugin::GetName() {
    TString name;
    TResource::Instance()->LoadString(kNameText, name);
    return name;
}

void TPrintPlugin::GetCommandList(std::vector<DWORD>& commands) {
    commands.clear();
    commands.push_back(kPrintCommand);
    commands.push_back(kPageSetupCommand);
}
