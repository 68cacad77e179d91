#include "TMailPlugin.h"

#include "plugin_framework/TFilePath.h"
#include "plugin_framework/TModuleValues.h"
#include "plugin_framework/TResource.h"

#include "platform/dadadud/DadaDud.h"

#include <new>

TMailPlugin::~TMailPlugin() {
    if (m_documentsStarted)
        docShutdown();
}

KvwResult TMailPlugin::Initialize(KvwHostCallback callback, IKvwHost* host) {
    TGenericPlugin::Initialize(callback, host);
    m_dialog = TRefPtr<TGenPluginDlg>::Adopt(CreateMailDialog());
    if (!m_documentsStarted)
        m_documentsStarted = docStartup() == 1;
    LoadConfiguration();
    InitDialogResource();
    return kKvwOk;
}

void TMailPlugin::LoadConfiguration() {
    // Read only where the host program's folder can be found too, as the host installs both together.
    TFilePath hostFolder;
    TFilePath ownFolder;
    const TResource hostResource;
    if (!hostResource.GetModuleFolder(hostFolder) || !GetModuleFolder(ownFolder, GetThisModule()))
        return;
    const TString path = ownFolder.GetPath() + TConfigSettings::kFileName;
    if (m_config.Load(path))
        m_selectionLimit = static_cast<DWORD>(m_config.GetMaxLimit());
}

KvwResult TMailPlugin::OnMessage(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5,
                                 KvwWord p6, KvwWord p7, KvwWord p8) {
    if (id == KvwHostMessage::kProgress && p4 == kDialogProgress && p5 == kDialogProgress && m_dialog && p3) {
        const DWORD* words = reinterpret_cast<const DWORD*>(p3);
        static_cast<CMailDlg*>(m_dialog.Get())->OnHostProgress(words[0], words[1]);
    }
    return TGenericPlugin::OnMessage(id, p1, p2, p3, p4, p5, p6, p7, p8);
}

TString TMailPlugin::GetName() {
    TString name;
    TResource::Instance()->LoadString(kNameText, name);
    return name;
}

void TMailPlugin::GetCommandList(std::vector<DWORD>& commands) {
    commands.clear();
    commands.push_back(kMailCommand);
}

CMailDlg* TMailPlugin::CreateMailDialog() {
    return new (std::nothrow) CMailDlg;
}
