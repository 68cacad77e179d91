// The module object: the one object of a host module that its four exports forward to. It keeps the host's
// callback, interface and services, sends requests to the host, and runs the pre-dispatch of the host's
// notifications (completions of image requests, the current group) before a derived module's own switch.
// Everything here runs on the host's user-interface thread.
#pragma once

#include "IKvwMessage.h"
#include "TCodecHidWnd.h"
#include "TString.h"

#include "platform/kvtrtl/IKvwHost.h"

class TBasicQWComp : public IKvwMessage {
public:
    // Makes the codec window; the selection limit starts at 500.
    TBasicQWComp();

    // The host callback's answer, or 0 (and nothing sent) while there is no callback.
    KvwResult SendToHost(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5, KvwWord p6,
                         KvwWord p7, KvwWord p8) override;
    virtual ~TBasicQWComp();
    // kKvwInvalidArgument for a null callback or interface, or without an item service; a failing browse
    // service's own word; else 0, with the host link bound, the language library (next to the module's file)
    // loaded and set as the resource module, and the codec and the image-load manager given their context.
    virtual KvwResult Initialize(KvwHostCallback callback, IKvwHost* host);
    // Gives the services back, frees the language library and forgets the host (the host link, the codec
    // and the image-load manager too); the codec window stays until the object goes.
    virtual void Close();
    // The pre-dispatch; always 0. Derived modules call it first and then run their own switch.
    virtual KvwResult OnMessage(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5,
                                KvwWord p6, KvwWord p7, KvwWord p8);
    // The plug-in component kind and the interface version; kKvwInvalidArgument (nothing written) for a null
    // pointer.
    virtual KvwResult GetInformation(DWORD* kind, DWORD* version);
    // Bitmap resources of the module's button in host button states 1, 3, 2 and KvwButtonState::kState100; 0
    // for none.
    virtual UINT GetButtonBitmapState1();
    virtual UINT GetButtonBitmapState3();
    virtual UINT GetButtonBitmapState2();
    virtual UINT GetButtonBitmapState100();
    virtual TString GetName() = 0;
    // The file name of the module's language library, which lies next to the module's own file.
    virtual TString GetLanguageDllName() = 0;

    IKvwHost* GetHost() const { return m_host; }
    IKvwItemService* GetItemService() const { return m_itemService; }
    IKvwBrowseService* GetBrowseService() const { return m_browseService; }
    TCodecHidWnd* GetCodecWindow() const { return m_codecWindow.Get(); }
    KvwItemId GetCurrentGroupId() const { return m_currentGroupId; }
    DWORD GetSelectionLimit() const { return m_selectionLimit; }

protected:
    // An image the host reports loaded that no codec request took: the image-load manager's notice.
    virtual void NotifyImageLoaded(KvwItemId item);
    // Unbinds the host link and clears the codec's and the image-load manager's context.
    void ForgetHost();

    IKvwHost* m_host = nullptr;
    IKvwItemService* m_itemService = nullptr;
    IKvwBrowseService* m_browseService = nullptr;
    KvwHostCallback m_callback = nullptr;
    TRefPtr<TCodecHidWnd> m_codecWindow;
    KvwItemId m_currentGroupId = 0;
    // 0xFFFFFFFF: no limit.
    DWORD m_selectionLimit = 500;

private:
    void ReleaseServices();
    void ReleaseLanguageLibrary();

    HMODULE m_languageLibrary = nullptr;
};

// The module's one module object. The module's application object hands over its factory when the library
// is loaded, and the object is made at once. Since the host keeps a freed module mapped, loading it again
// runs no constructor: when the library has been loaded again since KvwClose, the first export makes the
// object anew, as a fresh load would. The exports forward to the object; KvwClose closes and deletes it and
// destroys the object manager, and until the library is loaded again the exports answer kKvwInvalidArgument.
using KvwModuleFactory = TBasicQWComp* (*)();
void KvwSetModuleFactory(KvwModuleFactory factory);
// A module whose library must start first hands over the start with the factory instead: the start runs
// once, at the first export, and the object is made only when it succeeded (else every export answers
// kKvwInvalidArgument).
using KvwModuleStart = bool (*)();
void KvwSetModuleStart(KvwModuleStart start, KvwModuleFactory factory);
TBasicQWComp* KvwGetModuleObject();

// The exports (KvwExports.cpp). None lets an exception out: one that reaches an export is traced and
// answered with kKvwInvalidArgument.
extern "C" {
__attribute__((visibility("default"))) KvwResult KvwInitialize(KvwHostCallback callback,
                                                               IKvwHost* host) noexcept;
__attribute__((visibility("default"))) KvwResult KvwMessage(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3,
                                                            KvwWord p4, KvwWord p5, KvwWord p6, KvwWord p7,
                                                            KvwWord p8) noexcept;
__attribute__((visibility("default"))) KvwResult KvwGetInformation(DWORD* kind, DWORD* version) noexcept;
__attribute__((visibility("default"))) void KvwClose() noexcept;
}
