// The design module's one module object: it announces the module to the host (actions, menu, toolbar
// functions, properties panel), answers the host's messages and command-state questions, arranges its two
// panes for the view chosen, and keeps the last layout path and the preferences kept on design items.
// Everything here runs on the host's user-interface thread.
#pragma once

#include "CKvwMenuResource.h"
#include "DesignParts.h"
#include "TKorvelDbPrefs.h"
#include "TPageFolder.h"
#include "TTemplateList.h"
#include "TUserOptions.h"

#include "plugin_framework/GraphTypes.h"
#include "plugin_framework/TAutoHandle.h"
#include "plugin_framework/TBasicQWComp.h"
#include "plugin_framework/TRndrData.h"
#include "plugin_framework/TWindow.h"
#include "plugin_framework/TXMLFilePreferences.h"
#include "plugin_framework/TdocObject.h"

#include "platform/kvtrtl/KvwModuleRecords.h"

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <vector>

// The messages and commands of the design module.
namespace KvwDesign {
constexpr DWORD kComponentKind = 20;
constexpr DWORD kInterfaceVersion = 0x10000000;

constexpr DWORD kStartup = 0x20000010;
constexpr DWORD kOpenDesign = 0x10000028;
constexpr DWORD kCloseDesign = 0x10000029;
constexpr DWORD kSelectionChanged = 0x10000095;
constexpr DWORD kArrangePanes = 0x20000002;
constexpr DWORD kCommand = 0x10000038;
constexpr DWORD kMenuCommand = 0x10000078;
constexpr DWORD kCommandState = 0x30000033;
constexpr DWORD kFlagQuery = 0x30000032;
constexpr DWORD kPanelSizeQuery = 0x30000056;
constexpr DWORD kPanelSize = 0x20000056;
constexpr DWORD kExchangeValue = 0x20000020;
constexpr DWORD kCancelPageRender = 0x10000012;
constexpr DWORD kPagePreview = KvwPluginRequest::kPreview;
constexpr DWORD kPageFull = KvwPluginRequest::kFullImage;

// Sent to the host.
constexpr DWORD kActions = KvwModuleRequest::kActions;
constexpr DWORD kMenu = KvwModuleRequest::kMenu;
constexpr DWORD kFunctions = KvwModuleRequest::kFunctions;
constexpr DWORD kSubPanel = KvwModuleRequest::kSubPanel;
constexpr DWORD kAnnounce = KvwModuleRequest::kAnnounce;
constexpr DWORD kExchangeAnswer = KvwModuleRequest::kExchangeValue;
constexpr DWORD kCommandUpdate = KvwModuleRequest::kCommandUpdate;
constexpr DWORD kPreviewImage = 0x80000102;
constexpr DWORD kFullImage = 0x80000103;
constexpr DWORD kPageCompleted = KvwHostMessage::kImageLoaded;
constexpr DWORD kPageProgress = KvwHostMessage::kProgress;

// Record kinds (p5) of what the module sends.
constexpr DWORD kActionRecord = 0x84;
constexpr DWORD kMenuRecord = 0x85;
constexpr DWORD kFunctionRecord = 0x88;
constexpr DWORD kSubPanelRecord = 0x89;
constexpr DWORD kUpdateStateWord = 2;
constexpr DWORD kUpdateText = 3;
constexpr DWORD kProfileImageRecord = 150;
// The error kind of a completion that carries an error word.
constexpr DWORD kCompletionError = 33;

// Page requests: flags (p6), and the profile the pages are read with.
constexpr DWORD kWantsProgress = 2;
constexpr DWORD kWantsCompletion = 4;
constexpr DWORD kPageProfile = 0x2000;

// Commands.
constexpr DWORD kSave = 0x4001;
constexpr DWORD kDisabledFirst = 0x4010;
constexpr DWORD kDisabledSecond = 0x4011;
constexpr DWORD kPreviousPage = 0x4020;
constexpr DWORD kNextPage = 0x4021;
constexpr DWORD kZoom200 = 0x4030;
constexpr DWORD kZoom100 = 0x4031;
constexpr DWORD kZoom50 = 0x4032;
constexpr DWORD kZoom25 = 0x4033;
constexpr DWORD kZoomFit = 0x4034;
constexpr DWORD kMenuPreviousPage = 0x1001;
constexpr DWORD kMenuNextPage = 0x1002;
constexpr DWORD kPageLabel = 0x1003;
constexpr DWORD kZoomPopup = 0x1004;
constexpr DWORD kSinglePageView = 0x8101;
constexpr DWORD kContactSheetView = 0x8102;
constexpr DWORD kBothViews = 0x8103;

// Command states.
constexpr DWORD kStateEnabled = 17;
constexpr DWORD kStateChecked = 33;
constexpr DWORD kStateDisabled = 2;
constexpr DWORD kStateLeft = 16;

// Resources: of the language library, then of the module's own file.
constexpr UINT kZoomMenu = 106;
constexpr UINT kContactSheetZoomMenu = 107;
constexpr UINT kModuleMenu = 108;
constexpr UINT kNameString = 2010;
constexpr UINT kZoomFitString = 2011;
constexpr UINT kPageLabelString = 2012;
constexpr UINT kSubPanelTitleString = 2013;
constexpr UINT kFunctionBitmap = 4001;
constexpr UINT kViewBitmap = 4003;
constexpr UINT kAccelerators = 4006;

// Item ids of the host's layouts carry all these bits in their high word.
constexpr DWORD kLayoutItemBits = 0x2020000;
// The most pictures taken from the selection when the configuration does not say.
constexpr DWORD kDefaultSelectionLimit = 1000;
// The properties panel is at least this wide.
constexpr LONG kMinPanelWidth = 245;
// The height of the contact sheet above the single page when both views show.
constexpr LONG kBothViewsSheetHeight = 150;
} // namespace KvwDesign

class TKvwDesignModule : public TBasicQWComp {
public:
    // The parts the module drives (null: the module's own, which later parts of the module fill).
    explicit TKvwDesignModule(std::unique_ptr<IDesignParts> parts = nullptr);
    // Deletes the module's temporary folder with everything in it.
    ~TKvwDesignModule() override;

    // 0x1008 when the host refuses the actions or the document library does not start.
    KvwResult Initialize(KvwHostCallback callback, IKvwHost* host) override;
    // Stops the renderer before the design's documents go, then saves the options and lets go of the rest.
    void Close() override;
    KvwResult OnMessage(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5, KvwWord p6,
                        KvwWord p7, KvwWord p8) override;
    // Component kind 20 and interface version 0x10000000.
    KvwResult GetInformation(DWORD* kind, DWORD* version) override;
    UINT GetButtonBitmapState1() override { return 0; }
    UINT GetButtonBitmapState3() override { return 0; }
    UINT GetButtonBitmapState2() override { return 0; }
    UINT GetButtonBitmapState100() override { return 0; }
    TString GetName() override;
    // In the folder "Module" beside the module's file.
    TString GetLanguageDllName() override;

    // Where the configuration file is looked for (default: the folder of the module's file).
    void SetModuleFolder(const TFilePath& folder) { m_moduleFolder = folder; }

    const TTemplateList& GetTemplateList() const { return m_templates; }
    TUserOptions& GetUserOptions() { return m_userOptions; }
    TKorvelDbPrefs& GetDbPreferences() { return *m_dbPreferences; }
    KvwItemId GetDesignItem() const { return m_designItem; }
    void SetDesignItem(KvwItemId id) { m_designItem = id; }
    bool IsDesignOpen() const { return m_designOpen; }
    bool PanesExist() const { return m_singlePage && m_contactSheet; }
    DWORD GetView() const { return m_view; }
    DWORD GetExchangeValue() const { return m_exchangeValue; }
    // The seven toolbar functions built at start-up (the host is told of the first four).
    const std::vector<CKvwFunctionData>& GetFunctions() const { return m_functions; }
    IDesignRenderer* GetRenderer() const { return m_renderer.get(); }
    // The window the renderer's notices go to ("RenderPageNotify"), or null.
    HWND GetNotifyWindow() const { return m_notifyWindow ? m_notifyWindow->GetHandle() : nullptr; }
    IDesignLayouts* GetLayouts() const { return m_layouts.get(); }
    // The page the single-page pane shows (1 without panes).
    LONG GetShownPage() const { return m_singlePage ? m_singlePage->GetShownPage() : 1; }
    // A new layout document was set while the design is open: the panes are arranged and the page label
    // sent again.
    void OnLayoutDocumentSet();
    // The layout document is about to go: the panes let go of it first.
    void ForgetShownDocument();
    // Shows the page (from 1) of the open design in the panes; a page outside the layout does nothing.
    void GoToPage(LONG page) { MovePage(page - GetShownPage()); }
    // The page item of the open design's page (0: none), and the page of one of its page items (0: none).
    KvwItemId GetPageItem(LONG page) const;
    LONG GetPageOfItem(KvwItemId item) const;
    // The template of the list's index chosen in the properties panel; an index outside the list (none
    // chosen) does nothing.
    void ChooseTemplate(int index);
    // The single-page pane, or null.
    IDesignPane* GetSinglePagePane() const { return m_singlePage.get(); }

    // The page label ("Page 2 of 5" from the language library's format) and the navigation states.
    void SendPageLabel();
    // The single page's loading progress as the command's progress {percent, 100}; at 100 the end form.
    void SendLoadingProgress(DWORD percent);

    // A page of the open design rendered for the host at the size: 2 when queued, 1 when the host does
    // not describe the item or the size is not positive, 0x1008 without a render document or a running
    // renderer, or when the renderer refuses the request.
    KvwResult OnRenderPage(KvwItemId item, const graphtypes::TSize_T<double>* size, bool preview);
    // A finished render (kRenderFinishedMessage): the image answer and the completion of its own request.
    bool OnMsgPageRendered(TRndrData* task);
    // Cancels the renders of the item (0: of every item); each request dropped gets its completion.
    KvwResult CancelPageRender(KvwItemId item = 0);
    // A progress notice (kRenderProgressMessage) of the oldest outstanding request.
    bool ReportRenderProgress(std::optional<DWORD> value);
    // The folder the rendered pages are written to (ends with a separator): the module's temporary folder,
    // empty before a page was rendered.
    const TString& GetRenderFolder() const { return m_pageFolder.GetPath(); }
    // Requests queued and not yet answered or dropped.
    std::size_t GetPendingRenders() const;
    // Clears the renderer's queue (a view switch, a new layout); every request not yet answered gets its
    // completion with 4098 now.
    void CancelQueuedRenders();

private:
    bool Startup();
    void ReadConfiguration(bool& stop);
    void CreatePropertiesPanel();
    bool AnnounceFunctions();
    bool CreateNotifyWindow();
    void DestroyNotifyWindow();
    bool StartRenderer();

    KvwResult OpenDesign();
    void CloseDesign();
    // The layout document into the single-page pane and its template into the properties panel.
    void ShowLayoutDocument();
    bool CreatePanes();
    void ArrangePanes();
    void SwitchView(DWORD view);
    void MovePage(LONG step);
    KvwResult TrackZoomPopup(const POINT* point);
    void SendZoomLabel();
    void SendNavigationStates();
    void SendStateWord(DWORD command, DWORD state);
    void SendText(DWORD command, const TString& text);
    KvwResult AnswerCommandState(DWORD command, DWORD* state, KvwResult preDispatch) const;
    KvwResult AnswerPanelSize(KvwWord part, LONG* size, KvwResult preDispatch) const;
    void OnCurrentItem(KvwItemId id);
    KvwResult Send(DWORD id, KvwWord p1 = 0, KvwWord p2 = 0, KvwWord p3 = 0, KvwWord p4 = 0, KvwWord p5 = 0,
                   KvwWord p6 = 0, KvwWord p7 = 0, KvwWord p8 = 0);
    struct PageTask {
        KvwItemId item = 0;
        DWORD requestId = 0;
        DWORD tag = 0;
        bool preview = false;
        bool progress = false;
        bool completion = false;
        // Answered or cancelled: its result is no longer wanted, its file is deleted when it comes back.
        bool discarded = false;
        TString path;
        // What the render was queued with, for queueing it again when another item's cancel skipped it.
        LONG page = 0;
        TString pageContext;
        int requeued = 0;
    };
    // A render document replaced while renders may still draw from it, kept until the task named has
    // come back (tasks come back in the order they were queued).
    struct RetiredDocument {
        DWORD lastTask = 0;
        std::unique_ptr<TdocDocument> document;
    };
    // The accepted request (checked words) handed to OnRenderPage with its per-task state.
    KvwResult AcceptPageRequest(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p5, KvwWord p6,
                                KvwWord p8);
    bool UpdateRenderDocument();
    bool ClaimPagePath(LONG page, TString& path);
    void DeleteRenderedFile(const TString& path) const;
    // Marks the task discarded and sends its completion with 4098 when it wants one; deletes its file
    // when nothing writes it any more (else its return or a later task's does).
    void DiscardTask(DWORD id, PageTask& task, bool written);
    // Every request not yet answered is dropped (the renderer's queue was cleared).
    void DiscardAllTasks();
    // Forgets the tasks up to the one that came back (those before it were cleared unrendered) and frees
    // the documents no render can still use.
    void ForgetTasksUpTo(DWORD id);
    void SendCompletion(const PageTask& task, KvwResult result);
    // Queues the task skipped by another item's cancel again under a new id; false when that fails.
    bool Requeue(DWORD id);
    void FreeRenderDocuments();

    static LONG OnRenderFinished(TMessageInfo* info, void* context);
    static LONG OnRenderProgress(TMessageInfo* info, void* context);
    static void OnLoadingProgress(void* module, DWORD percent);

    std::unique_ptr<IDesignParts> m_parts;
    TFilePath m_moduleFolder;
    TRefPtr<TWindow> m_hostWindow;
    TUserOptions m_userOptions;
    TRefPtr<TKorvelDbPrefs> m_dbPreferences;
    CKvwActionData m_action;
    KvwItemId m_designItem = 0;
    std::array<HBITMAP, 3> m_bitmaps{};
    CKvwMenuResource m_menu;
    HACCEL m_accelerators = nullptr;
    CKvwMenuData m_menuData;
    DWORD m_view = KvwDesign::kSinglePageView;
    std::unique_ptr<IDesignPane> m_singlePage;
    std::unique_ptr<IDesignPane> m_contactSheet;
    bool m_designOpen = false;
    std::unique_ptr<IDesignLayouts> m_layouts;
    std::unique_ptr<IDesignRenderer> m_renderer;
    TRefPtr<TWindow> m_notifyWindow;
    TAutoHandle m_notify;
    TRefPtr<TXMLFilePreferences> m_configuration;
    TTemplateList m_templates;
    std::unique_ptr<IDesignPropertiesPanel> m_properties;
    std::vector<CKvwFunctionData> m_functions;
    CKvwSubPanelData m_subPanel;
    DWORD m_exchangeValue = 5;
    bool m_documentLibraryStarted = false;
    std::unique_ptr<IDesignRenderSource> m_renderSource;
    std::unique_ptr<TdocDocument> m_renderDocument;
    std::vector<RetiredDocument> m_retiredDocuments;
    std::map<DWORD, PageTask> m_pageTasks;
    TPageFolder m_pageFolder;
    // The checked request OnRenderPage is called for, or null.
    const PageTask* m_pendingRequest = nullptr;
};
