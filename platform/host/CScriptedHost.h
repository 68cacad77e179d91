// A host that tests (and, later, the demo) drive: it loads modules through their four exports, hands them
// its services, answers their requests from a table of scripts with defaults, and sends completions later,
// through a window of its own, on its user-interface thread — the thread that made it, on which every call
// of this class is made. Its main window is that thread's main window while the host exists, the owner of
// the modules' dialogs.
//
// Each loaded module gets a callback of its own, so every request is known by its sender. Unless a script
// says otherwise, requests are answered like this:
//     0x10000095 (bring the selection up to date)  0
//     0x10000102, 0x10000103 (preview, full image)  0x1101 for an item the host does not have; 0x1008 when
//     the
//         record words are wrong (p4 not 0 or 1; with 1, p3 null or p5 not 81; with 0, p3 or p5 set);
//         otherwise 0, and the completion 0x20000102 or 0x20000103 (p1, p2 = the id, p7 = the request id)
//         follows, after which the host holds the image (a preview asked for at a size made at that size,
//         CHostItemService::MakePreview)
//         (0x20000013 instead when p6 is 4, as the image-load manager asks: a completion and nothing else)
//     0x10000102, 0x10000103 for a design page that a loaded module registered (a page record of kind
//         0x1400 with the page flag): 0x1008 for wrong record words, else 0; the request is passed on to
//         that module (or, once it has gone, to one of the same component kind) when the user-interface
//         thread pumps, at the size asked for enlarged to the page's proportions (as previews are made)
//         and asking for a completion under a tag of the host's. The module's picture (0x80000102,
//         0x80000103) becomes the page's preview or full image, and its completion goes back to the
//         requester as above; a module that fails or refuses the request, or closes first, completes it
//         with 0x20000013 carrying the error word
//     0x80000102, 0x80000103 (a module's picture of a page it registered)  0; 0x1008 when it cannot be read
//     0x20000013, 0x20000201 (a module's completion and progress of a page it was asked for)  0
//     0x10000105 (make the item available)  0, or 0x1101 for an item the host does not have
//     0x10000111 (write the item's picture to a file)  1 once WriteOutput has written it, else its word
//     0x10000012 (no longer waiting)  0; for a page passed on, its module is told when no one else waits
//     0x10000091, 0x10000092, 0x10000093 (the items a design has the host show)  0
//     a host module's announcements (KvwModuleRequest: actions, menu, functions, sub-panel, announce,
//         exchange value, command updates)  0
//     any other id  0x1008
// A script that answers 0 and sends nothing (SetAnswer(id, 0)) never completes.
#pragma once

#include "CHostModule.h"
#include "CHostPageRoutes.h"
#include "CHostPaneService.h"
#include "CHostRecordDatabase.h"
#include "CHostRegistryService.h"
#include "CHostServices.h"

#include "platform/kvtrtl/KvwModuleRecords.h"
#include "platform/win/WinUser.h"

#include <array>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// A message in either direction.
struct CHostMessage {
    DWORD id = 0;
    std::array<KvwWord, 8> words{};
};

// A request as the host received it.
struct CHostRequest {
    std::size_t module = 0;
    DWORD id = 0;
    std::array<KvwWord, 8> words{};
    DWORD thread = 0;
};

// How the host answers a request: its result word and the completions it sends afterwards.
struct CHostReply {
    KvwResult result = kKvwOk;
    std::vector<CHostMessage> completions;
};

using CHostScript = std::function<CHostReply(const CHostRequest&)>;

class CScriptedHost : public IKvwHost {
public:
    static constexpr std::size_t kNoModule = static_cast<std::size_t>(-1);
    // How many modules may be loaded at once, over all hosts of the process.
    static constexpr std::size_t kMaxModules = 8;

    CScriptedHost();
    // Closes the modules that are still open, then frees them.
    ~CScriptedHost();
    CScriptedHost(const CScriptedHost&) = delete;
    CScriptedHost& operator=(const CScriptedHost&) = delete;

    // The module's index, or kNoModule with the reason in LastError().
    std::size_t Load(const std::string& path);
    // A module already in the process (CHostModule::FromExports), taken like a loaded one.
    std::size_t Add(std::unique_ptr<CHostModule> module);
    const std::string& LastError() const { return m_error; }
    CHostModule* Module(std::size_t module) const;
    // KvwInitialize with the module's own callback and this host.
    KvwResult Initialize(std::size_t module);
    KvwResult Send(std::size_t module, DWORD id, KvwWord p1 = 0, KvwWord p2 = 0, KvwWord p3 = 0,
                   KvwWord p4 = 0, KvwWord p5 = 0, KvwWord p6 = 0, KvwWord p7 = 0, KvwWord p8 = 0);
    KvwResult GetInformation(std::size_t module, DWORD* kind, DWORD* version);
    // A plug-in's information record (message 0) and its button bitmaps (message 0x30000031 with the
    // two words), as the host asks for them; the module's answer.
    KvwResult ReadInformation(std::size_t module, CKvwModuleInformation& record);
    KvwResult ReadButtonBitmaps(std::size_t module, DWORD kind, DWORD second, CKvwBitmapTable& table);
    // KvwClose; the completions still on their way to the module are dropped.
    void Close(std::size_t module);
    // Frees the module's library (the module should be closed first, as a host does).
    void Unload(std::size_t module);

    // Replaces the default answer to a request id; SetAnswer answers a fixed word and sends nothing.
    void SetScript(DWORD requestId, CHostScript script);
    void SetAnswer(DWORD requestId, KvwResult result);
    // The default answer of the table above.
    CHostReply DefaultReply(const CHostRequest& request);
    // The picture of a 0x10000111 request's item written as its CKvwOutputData says: to the file path's
    // folder and name (PNG or JPEG by the name's extension), at its width and height when both are set,
    // scaled by its scale, a JPEG at quality 50 + 10 x its level (level 1..5). 0 when written; 0x1008 for
    // wrong record words, a level outside 1..5 or a scale not above 0; 0x1101 for an item without a
    // picture or a file that cannot be written.
    KvwResult WriteOutput(const CHostRequest& request);
    // The completion of the request: the message id with the request's item id and, in p7, its id.
    static CHostMessage CompletionOf(const CHostRequest& request, DWORD message);

    std::vector<CHostRequest> Requests() const;
    std::vector<CHostRequest> RequestsOf(DWORD id) const;
    void ClearRequests();

    // Sends the message to the module later, when the user-interface thread pumps its messages.
    void Post(std::size_t module, const CHostMessage& message);
    std::size_t PendingMessages() const;
    // The design pages' picture requests passed on to the module that registered them and not answered yet.
    std::size_t OpenPageRequests() const { return m_routes.Open(); }

    void AddItem(const CHostItemRecord& item);
    CHostItemService& Items() { return m_items; }
    CHostBrowseService& Browse() { return m_browse; }
    CHostImagingService& Imaging() { return m_imaging; }
    CHostPaneService& Panes() { return m_panes; }
    CHostWindowService& Windows() { return m_windows; }
    CHostRegistryService& Registry() { return m_registry; }
    // Answers the record requests that no script answers, and the item service's record lookups.
    CHostRecordDatabase& Records() { return m_records; }
    // The host's main window (640 x 480 until a test moves it).
    HWND MainWindow() const { return m_mainWindow; }
    // QueryService answers result (and no object) for the code until the services are restored.
    void WithholdService(DWORD code, KvwResult result);
    void RestoreServices();

    KvwResult QueryService(DWORD code, IKvwObject** service) override;

private:
    struct Loaded;
    struct Pending {
        std::size_t module;
        CHostMessage message;
        // A request passed on to the page's module (its tag), instead of a message.
        DWORD route = 0;
        // A completion carrying this error word (p3 points at it when it is delivered).
        bool failed = false;
        DWORD error = 0;
    };

    KvwResult OnRequest(std::size_t module, DWORD id, const std::array<KvwWord, 8>& words);
    void DeliverNext();
    // The design pages' road: the module that draws a page, the request passed on, the picture, the
    // completion passed back, and the requests that are no longer waited for.
    bool FindPageOwner(KvwItemId page, std::size_t& module);
    void NotePageOwner(std::size_t module, const std::array<KvwWord, 8>& words, KvwResult result);
    CHostReply RoutePageRequest(const CHostRequest& request);
    void DeliverRoute(DWORD tag);
    KvwResult TakePageImage(const CHostRequest& request);
    KvwResult CompletePageRequest(const CHostRequest& request);
    KvwResult StopWaitingForPage(const CHostRequest& request);
    // The requester's completion: the one it asked for, or 0x20000013 with the error word.
    void CompleteRoute(const CHostPageRoutes::Route& route, KvwResult result);
    // Every route the module draws is completed with the error; those it asked for are forgotten.
    void DropRoutesOf(std::size_t module);
    static LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    friend KvwResult HostCallbackOf(std::size_t slot, DWORD id, const std::array<KvwWord, 8>& words);

    std::string m_error;
    std::vector<std::unique_ptr<Loaded>> m_modules;
    mutable std::mutex m_lock; // the request log and the scripts, since a request may come from any thread
    std::vector<CHostRequest> m_requests;
    std::map<DWORD, CHostScript> m_scripts;
    std::deque<Pending> m_pending;
    std::map<DWORD, KvwResult> m_withheld;
    CHostItemService m_items;
    CHostBrowseService m_browse;
    CHostImagingService m_imaging;
    CHostPaneService m_panes;
    CHostWindowService m_windows;
    CHostRegistryService m_registry;
    CHostRecordDatabase m_records;
    CHostPageRoutes m_routes;
    HWND m_window = nullptr;
    HWND m_mainWindow = nullptr;
};
