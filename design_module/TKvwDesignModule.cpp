#include "TKvwDesignModule.h"

#include "DesignTextFormat.h"
#include "TDesignDefaultParts.h"

#include "plugin_framework/CodecTable.h"
#include "plugin_framework/TAsyncRenderer.h"
#include "plugin_framework/TModuleValues.h"
#include "plugin_framework/TResource.h"
#include "plugin_framework/TRndrData.h"

#include "platform/dadadud/DadaDud.h"
#include "platform/win/WinBitmaps.h"
#include "platform/win/WinResources.h"
#include "platform/win/utf16.h"

#include <algorithm>
#include <memory>

using namespace KvwDesign;

namespace {

constexpr const wchar_t* kConfigurationFile = L"DesignModuleCfg.xml";
constexpr const wchar_t* kTemplatesPathKey = L"templates/templates_path";
constexpr const wchar_t* kSelectionLimitKey = L"selection/max_limit";
constexpr const wchar_t* kNoTemplates = L"No templates found";
constexpr const wchar_t* kFixedPageLabel = L"%d / %d";
constexpr const wchar_t* kNotifyWindowClass = L"RenderPageNotify";
constexpr LONG kNotifyWindowSide = 2;
// The zoom pop-up returns the chosen command and sits with its bottom right corner at the point.
constexpr UINT kZoomPopupFlags = TPM_RETURNCMD | TPM_BOTTOMALIGN | TPM_RIGHTALIGN;
constexpr DWORD kCodecProfile = 0x1000;
// The loading progress is told in percent.
constexpr DWORD kProgressWhole = 100;
constexpr DWORD kItemServiceAllData = 0xFFFFFFFF;

// The toolbar cells: the function strip (bitmap 4001) and the view strip (bitmap 4003), four cells per
// command in the button states 1, 3, 2 and 0x100. The function cells are 38 pixels wide but start 19
// pixels apart, as the host reads them.
constexpr LONG kCellHeight = 19;
constexpr LONG kFunctionCellWidth = 38;
constexpr LONG kFunctionCellStep = 19;
constexpr LONG kViewCellWidth = 22;
constexpr DWORD kCellStates[] = {KvwButtonState::kState1, KvwButtonState::kState3, KvwButtonState::kState2,
                                 KvwButtonState::kState100};
// The host's kind words of the toolbar functions.
constexpr DWORD kButtonKind = 1;
constexpr DWORD kLabelKind = 12;
constexpr std::size_t kAnnouncedFunctions = 4;
constexpr const char* kZoomLabelBlanks = "              ";

CKvwBitmapTable Cells(HBITMAP bitmap, LONG width, LONG step, LONG firstOffset) {
    CKvwBitmapTable cells;
    LONG offset = firstOffset;
    for (DWORD state : kCellStates) {
        cells[state] = CKvwBitmapData{width, kCellHeight, bitmap, offset};
        offset += step;
    }
    return cells;
}

TString LoadLanguageString(UINT id) {
    TString text;
    TResource::Instance()->LoadString(id, text);
    return text;
}

} // namespace

TKvwDesignModule::TKvwDesignModule(std::unique_ptr<IDesignParts> parts)
    : m_parts(parts ? std::move(parts) : std::make_unique<TDesignDefaultParts>()),
      m_dbPreferences(TRefPtr<TKorvelDbPrefs>::Adopt(new TKorvelDbPrefs)) {}

TKvwDesignModule::~TKvwDesignModule() {
    if (m_renderer)
        m_renderer->Stop();
    FreeRenderDocuments();
    m_layouts.reset();
    m_renderer.reset();
    DestroyNotifyWindow();
    for (HBITMAP& bitmap : m_bitmaps) {
        if (bitmap)
            DeleteObject(bitmap);
        bitmap = nullptr;
    }
    if (m_accelerators)
        DestroyAcceleratorTable(m_accelerators);
    if (m_configuration)
        m_configuration->Close();
    m_templates.Clear();
    TFilePath temporary;
    if (GetPluginTempFolder(temporary))
        DeleteFolderTree(temporary, true);
}

KvwResult TKvwDesignModule::Send(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5,
                                 KvwWord p6, KvwWord p7, KvwWord p8) {
    return SendToHost(id, p1, p2, p3, p4, p5, p6, p7, p8);
}

KvwResult TKvwDesignModule::Initialize(KvwHostCallback callback, IKvwHost* host) {
    const KvwResult result = TBasicQWComp::Initialize(callback, host);
    if (!KvwSucceeded(result))
        return result;
    m_dbPreferences->SetHost(callback, GetItemService());

    m_action.componentKind = kComponentKind;
    m_action.name = Utf::WideToUtf8(static_cast<const wchar_t*>(GetName()));
    m_action.informationWord = kInterfaceVersion;
    m_action.code = kComponentKind;
    m_action.enabled = 1;
    if (!KvwSucceeded(Send(kActions, 0, 0, reinterpret_cast<KvwWord>(&m_action), 1, kActionRecord)))
        return kKvwInvalidArgument;

    m_menu.Load(kModuleMenu);
    if (!m_accelerators)
        m_accelerators = LoadAcceleratorsW(GetThisModule(), MAKEINTRESOURCEW(kAccelerators));
    m_menuData = CKvwMenuData{m_menu.GetHandle(), m_accelerators};
    Send(kMenu, kComponentKind, 0, reinterpret_cast<KvwWord>(&m_menuData), 1, kMenuRecord);

    if (!m_documentLibraryStarted) {
        if (docStartup() != 1)
            return kKvwInvalidArgument;
        m_documentLibraryStarted = true;
    }
    return kKvwOk;
}

void TKvwDesignModule::Close() {
    // The renderer's worker may be drawing from the design's documents: it ends before they go.
    if (m_renderer)
        m_renderer->Stop();
    FreeRenderDocuments();
    if (m_designOpen)
        CloseDesign();
    m_userOptions.Save();
    // The panes' iterators and sheet hold documents: they go before the document library stops.
    m_singlePage.reset();
    m_contactSheet.reset();
    m_hostWindow = TRefPtr<TWindow>();
    DestroyNotifyWindow();
    if (m_documentLibraryStarted)
        docShutdown();
    m_documentLibraryStarted = false;
    m_properties.reset();
    TBasicQWComp::Close();
}

KvwResult TKvwDesignModule::GetInformation(DWORD* kind, DWORD* version) {
    if (!kind || !version)
        return kKvwInvalidArgument;
    *kind = kComponentKind;
    *version = kInterfaceVersion;
    return kKvwOk;
}

TString TKvwDesignModule::GetName() {
    return LoadLanguageString(kNameString);
}

TString TKvwDesignModule::GetLanguageDllName() {
    return TString(L"Module\\KvtDesignLang.dll");
}

KvwResult TKvwDesignModule::OnMessage(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5,
                                      KvwWord p6, KvwWord p7, KvwWord p8) {
    const KvwResult pre = TBasicQWComp::OnMessage(id, p1, p2, p3, p4, p5, p6, p7, p8);
    if (!KvwSucceeded(pre))
        return pre;
    const auto command = static_cast<DWORD>(p1);
    switch (id) {
    case kStartup:
        Startup();
        return pre;
    case kOpenDesign: {
        const KvwResult selection = Send(kSelectionChanged, 5, 0, 0, 0, 0, 0, kComponentKind);
        return KvwSucceeded(selection) ? OpenDesign() : selection;
    }
    case kCloseDesign:
        CloseDesign();
        return pre;
    case kSelectionChanged:
        if (m_designOpen && m_layouts) {
            m_layouts->WriteBack();
            m_layouts->AnnouncePages();
        }
        return pre;
    case kArrangePanes:
        ArrangePanes();
        return pre;
    case KvwHostMessage::kCurrentItem:
        OnCurrentItem(KvwMakeItemId(p1, p2));
        return pre;
    case kCommand:
        if (command == kSave) {
            if (m_designOpen && m_layouts)
                m_layouts->WriteBack();
            return kKvwHandled;
        }
        if (command == kPreviousPage || command == kNextPage) {
            MovePage(command == kPreviousPage ? -1 : 1);
            return kKvwHandled;
        }
        if (command >= kZoom200 && command <= kZoomFit) {
            if (PanesExist()) {
                m_singlePage->SetZoomCommand(command);
                SendZoomLabel();
            }
            return kKvwHandled;
        }
        return pre;
    case kMenuCommand:
        if (command == kMenuPreviousPage || command == kMenuNextPage)
            MovePage(command == kMenuPreviousPage ? -1 : 1);
        else if (command == kZoomPopup)
            return m_designOpen ? TrackZoomPopup(reinterpret_cast<const POINT*>(p3)) : pre;
        else if (command == kSinglePageView || command == kContactSheetView || command == kBothViews)
            SwitchView(command);
        return pre;
    case kCommandState:
        return AnswerCommandState(command, reinterpret_cast<DWORD*>(p3), pre);
    case kFlagQuery:
        // Either of the bits asks; the answer word is the host's to interpret.
        if (!(p7 & 0x300))
            return kKvwOk;
        if (!p3)
            return kKvwInvalidArgument;
        *reinterpret_cast<DWORD*>(p3) = 2;
        return kKvwHandled;
    case kPanelSizeQuery:
        return AnswerPanelSize(p1, reinterpret_cast<LONG*>(p3), pre);
    case kPanelSize:
        if (p1 == 1 && m_properties) {
            const auto* size = reinterpret_cast<const LONG*>(p3);
            if (!size)
                return kKvwInvalidArgument;
            m_properties->Resize(size[0], size[1]);
        }
        return pre;
    case kExchangeValue:
        if (p1 == kComponentKind && p2 == 0) {
            if (!m_designOpen) {
                const auto value = static_cast<LONG>(m_exchangeValue);
                Send(kExchangeAnswer, static_cast<DWORD>(value), value < 0 ? 0xFFFFFFFFu : 0u);
            }
        } else {
            m_exchangeValue = static_cast<DWORD>(p1);
        }
        return pre;
    case kPagePreview:
    case kPageFull:
        return AcceptPageRequest(id, p1, p2, p3, p5, p6, p8);
    case kCancelPageRender:
        return CancelPageRender(KvwMakeItemId(static_cast<DWORD>(p1), static_cast<DWORD>(p2)));
    default:
        return pre;
    }
}

KvwResult TKvwDesignModule::AnswerCommandState(DWORD command, DWORD* state, KvwResult preDispatch) const {
    if (!state)
        return kKvwInvalidArgument;
    const LONG shown = PanesExist() ? m_singlePage->GetShownPage() : 0;
    if (command >= kZoom200 && command <= kZoomFit) {
        *state = PanesExist() && m_singlePage->GetZoomCommand() == command ? kStateChecked : kStateEnabled;
        return kKvwHandled;
    }
    if (command == kDisabledFirst || command == kDisabledSecond) {
        *state = kStateDisabled;
        return kKvwHandled;
    }
    if (command == kPreviousPage) {
        *state = PanesExist() && shown >= 2 ? kStateEnabled : kStateDisabled;
        return kKvwHandled;
    }
    if (command == kNextPage) {
        const LONG pages = m_layouts ? m_layouts->GetPageCount() : 0;
        *state = PanesExist() && pages > shown ? kStateEnabled : kStateDisabled;
        return kKvwHandled;
    }
    *state = kStateEnabled;
    return preDispatch;
}

KvwResult TKvwDesignModule::AnswerPanelSize(KvwWord part, LONG* size, KvwResult preDispatch) const {
    // Without the properties panel (a start-up that stopped early) there is nothing to measure, as for
    // the second panel, which the module never has.
    if ((part != 0 && part != 1) || !m_properties)
        return preDispatch;
    if (!size)
        return kKvwInvalidArgument;
    TWindow::TRect rect;
    if (!m_properties->GetWindowRect(rect))
        return preDispatch;
    if (part == 0)
        size[0] = std::max(rect.Width(), kMinPanelWidth);
    else
        size[1] = rect.Height();
    return preDispatch;
}

bool TKvwDesignModule::Startup() {
    bool stop = false;
    ReadConfiguration(stop);
    if (stop)
        return false;
    CreatePropertiesPanel();
    if (!AnnounceFunctions())
        return false;
    Send(kAnnounce, kComponentKind);
    return CreateNotifyWindow() && StartRenderer();
}

void TKvwDesignModule::ReadConfiguration(bool& stop) {
    TFilePath folder = m_moduleFolder;
    if (folder.GetPath().IsEmpty() && !::GetModuleFolder(folder, GetThisModule()))
        return;
    m_configuration = TRefPtr<TXMLFilePreferences>::Adopt(new TXMLFilePreferences);
    if (!m_configuration->Open(folder.GetPath() + kConfigurationFile, false))
        return;
    TString templates;
    m_templates.Clear();
    if (m_configuration->GetString(kTemplatesPathKey, templates) && !templates.IsEmpty()) {
        TFilePath templatesFolder;
        templatesFolder.Set(folder.GetPath() + templates);
        m_templates.Load(templatesFolder);
    }
    if (m_templates.GetCount() == 0) {
        ShowDesignMessage(kNoTemplates, 0, nullptr);
        stop = true;
        return;
    }
    // Kept as the unsigned word it is compared as: -1 is no limit, and 0 takes nothing.
    LONG limit = 0;
    m_selectionLimit = m_configuration->GetLong(kSelectionLimitKey, &limit) ? static_cast<DWORD>(limit)
                                                                            : kDefaultSelectionLimit;
    m_userOptions.Load();
    TFilePath last;
    last.Set(m_userOptions.GetLastLayoutPath());
    if (m_userOptions.GetLastLayoutPath().IsEmpty() || !last.Exists())
        m_userOptions.SetLastLayoutPath(m_templates.GetPath(0));
}

void TKvwDesignModule::CreatePropertiesPanel() {
    m_subPanel.number = 1;
    m_subPanel.title = Utf::WideToUtf8(static_cast<const wchar_t*>(LoadLanguageString(kSubPanelTitleString)));
    Send(kSubPanel, kComponentKind, 0, reinterpret_cast<KvwWord>(&m_subPanel), 1, kSubPanelRecord);
    if (!GetHost())
        return;
    IKvwObject* object = nullptr;
    if (!KvwSucceeded(GetHost()->QueryService(KvwService::kWindows, &object)) || !object)
        return;
    auto* windows = static_cast<IKvwWindowService*>(object);
    CKvwWindowData data;
    const bool haveWindow = KvwSucceeded(windows->GetWindowData(kComponentKind, 1, &data)) && data.window;
    windows->Release();
    if (!haveWindow)
        return;
    m_properties = m_parts->MakePropertiesPanel(*this);
    if (m_properties && m_properties->Create(data.window))
        m_properties->Initialise(*this);
    else
        m_properties.reset();
}

bool TKvwDesignModule::AnnounceFunctions() {
    for (HBITMAP& bitmap : m_bitmaps) {
        if (bitmap)
            DeleteObject(bitmap);
        bitmap = nullptr;
    }
    m_bitmaps[0] = LoadBitmapA(GetThisModule(), reinterpret_cast<const char*>(kFunctionBitmap));
    m_bitmaps[1] = LoadBitmapA(GetThisModule(), reinterpret_cast<const char*>(kViewBitmap));
    m_functions.assign(7, CKvwFunctionData{});
    m_functions[0] = CKvwFunctionData{kMenuPreviousPage, kButtonKind, 0, {}, {}};
    m_functions[1] = CKvwFunctionData{kMenuNextPage, kButtonKind, 0, {}, {}};
    m_functions[2].commandId = kPageLabel;
    m_functions[3] = CKvwFunctionData{kZoomPopup, kLabelKind, 0, kZoomLabelBlanks,
                                      Cells(m_bitmaps[0], kFunctionCellWidth, kFunctionCellStep, 0)};
    const DWORD views[] = {kSinglePageView, kContactSheetView, kBothViews};
    for (std::size_t i = 0; i < 3; ++i)
        m_functions[4 + i] = CKvwFunctionData{
            views[i],
            kButtonKind,
            1,
            {},
            Cells(m_bitmaps[1], kViewCellWidth, kViewCellWidth, static_cast<LONG>(i) * 4 * kViewCellWidth)};
    // All seven stay valid for a host that reads further; the host is told of four.
    return KvwSucceeded(Send(kFunctions, kComponentKind, 0, reinterpret_cast<KvwWord>(m_functions.data()),
                             kAnnouncedFunctions, kFunctionRecord));
}

bool TKvwDesignModule::CreateNotifyWindow() {
    auto window = TRefPtr<TWindow>::Adopt(new TWindow);
    if (!window->Create(kNotifyWindowClass, 0, TWindow::TRect(0, 0, kNotifyWindowSide, kNotifyWindowSide),
                        nullptr))
        return false;
    window->AddMessageHandler(kRenderFinishedMessage,
                              TMessageHandler{this, &TKvwDesignModule::OnRenderFinished});
    window->AddMessageHandler(kRenderProgressMessage,
                              TMessageHandler{this, &TKvwDesignModule::OnRenderProgress});
    m_notifyWindow = std::move(window);
    return true;
}

void TKvwDesignModule::DestroyNotifyWindow() {
    m_notify.Attach(nullptr);
    if (!m_notifyWindow)
        return;
    // Pages the renderer finished before it stopped are let go with the window.
    DrainRenderNotices(m_notifyWindow->GetHandle());
    m_notifyWindow->Destroy();
    m_notifyWindow = TRefPtr<TWindow>();
}

bool TKvwDesignModule::StartRenderer() {
    TResource fresh;
    TFilePath folder;
    if (!fresh.GetModuleFolder(folder))
        return false;
    m_renderer = m_parts->MakeRenderer();
    m_notify.Attach(m_notifyWindow.Get());
    TString codec;
    BuildCodecParameters(codec, true, kCodecProfile, 0);
    if (!m_renderer || !m_renderer->Start(folder, &m_notify, codec)) {
        m_renderer.reset();
        return false;
    }
    return true;
}

LONG TKvwDesignModule::OnRenderFinished(TMessageInfo* info, void* context) {
    auto* finished = reinterpret_cast<TRndrData*>(info->lParam);
    if (!finished)
        return 0;
    static_cast<TKvwDesignModule*>(context)->OnMsgPageRendered(finished);
    return 1;
}

LONG TKvwDesignModule::OnRenderProgress(TMessageInfo* info, void* context) {
    static_cast<TKvwDesignModule*>(context)->ReportRenderProgress(TakeRenderProgress(info->lParam));
    return 0;
}

bool TKvwDesignModule::CreatePanes() {
    if (PanesExist())
        return true;
    if (!GetHost())
        return false;
    IKvwObject* object = nullptr;
    if (!KvwSucceeded(GetHost()->QueryService(KvwService::kPanes, &object)) || !object)
        return false;
    auto* panes = static_cast<IKvwPaneService*>(object);
    CKvwWindowData data;
    const bool haveWindow = KvwSucceeded(panes->GetWindowData(kComponentKind, &data)) && data.window;
    panes->Release();
    if (!haveWindow)
        return false;
    auto host = TRefPtr<TWindow>::Adopt(new TWindow);
    TWindow::TRect client;
    if (!host->Attach(data.window, false) || !host->GetClientRect(client))
        return false;
    const LONG w = client.Width();
    const LONG h = client.Height();
    auto sheet = m_parts->MakeContactSheetPane(*this);
    auto single = m_parts->MakeSinglePagePane(*this);
    if (!sheet || !single || !sheet->Create(data.window, TWindow::TRect(0, 0, w, h / 2)) ||
        !single->Create(data.window, TWindow::TRect(0, h / 2 + 1, w, h)))
        return false;
    m_hostWindow = std::move(host);
    m_contactSheet = std::move(sheet);
    m_singlePage = std::move(single);
    m_singlePage->SetZoomCommand(kZoomFit);
    SendZoomLabel();
    m_singlePage->SetMode(1);
    m_singlePage->SetLoadingProgress(&TKvwDesignModule::OnLoadingProgress, this);
    return true;
}

void TKvwDesignModule::OnLoadingProgress(void* module, DWORD percent) {
    static_cast<TKvwDesignModule*>(module)->SendLoadingProgress(percent);
}

void TKvwDesignModule::SendLoadingProgress(DWORD percent) {
    DWORD words[2] = {std::min(percent, kProgressWhole), kProgressWhole};
    Send(kCommandUpdate, kPageLabel, 0, reinterpret_cast<KvwWord>(words), 2, kUpdateStateWord, 0,
         kComponentKind);
    if (percent >= kProgressWhole)
        Send(kCommandUpdate, kPageLabel, 0, 0, 0, kUpdateStateWord, 0, kComponentKind);
}

KvwResult TKvwDesignModule::OpenDesign() {
    // Opening again replaces the open design: its pages and documents go first.
    if (m_designOpen)
        CloseDesign();
    if (!m_layouts)
        m_layouts = m_parts->MakeLayouts(*this);
    if (!m_layouts)
        return kKvwInvalidArgument;
    // Parts that make panes must make them; without any the design opens all the same, its pages
    // rendered for the host only.
    if (!CreatePanes() && m_parts->HasPanes())
        return kKvwInvalidArgument;
    const KvwResult result = m_layouts->Open();
    // A design that does not open stays closed: nothing acts on a layout that is not there.
    m_designOpen = KvwSucceeded(result) && m_layouts->HasLayoutDocument();
    if (m_designOpen)
        OnLayoutDocumentSet();
    return result;
}

void TKvwDesignModule::OnLayoutDocumentSet() {
    if (!m_designOpen)
        return;
    ArrangePanes();
    ShowLayoutDocument();
    SendPageLabel();
}

KvwItemId TKvwDesignModule::GetPageItem(LONG page) const {
    if (!m_designOpen || !m_layouts)
        return 0;
    const std::map<LONG, KvwItemId> pages = m_layouts->GetPageItems();
    auto it = pages.find(page);
    return it == pages.end() ? 0 : it->second;
}

LONG TKvwDesignModule::GetPageOfItem(KvwItemId item) const {
    if (!m_designOpen || !m_layouts || item == 0)
        return 0;
    for (const auto& [page, id] : m_layouts->GetPageItems())
        if (id == item)
            return page;
    return 0;
}

void TKvwDesignModule::ShowLayoutDocument() {
    if (!m_layouts)
        return;
    if (m_singlePage)
        m_singlePage->ShowDocument(m_layouts->GetLayoutDocument());
    // The contact sheet shows the pages' pictures, which the host asks this module for.
    if (m_contactSheet) {
        KvwItemIdList pages;
        for (const auto& [page, id] : m_layouts->GetPageItems())
            pages.push_back(id);
        m_contactSheet->ShowPages(pages);
        m_contactSheet->ShowPage(GetShownPage());
    }
    const int chosen = m_templates.Find(m_layouts->GetTemplatePath());
    if (m_properties && chosen >= 0)
        m_properties->SelectTemplate(chosen);
}

void TKvwDesignModule::ChooseTemplate(int index) {
    if (index < 0 || index >= m_templates.GetCount())
        return;
    if (!m_layouts)
        m_layouts = m_parts->MakeLayouts(*this);
    if (m_layouts)
        m_layouts->ChangeTemplate(m_templates.GetPath(index));
}

void TKvwDesignModule::ForgetShownDocument() {
    if (m_singlePage)
        m_singlePage->ShowDocument(nullptr);
}

void TKvwDesignModule::CloseDesign() {
    if (!m_designOpen)
        return;
    CancelQueuedRenders();
    // The sheet lets go of the closed design's pages before they go.
    if (m_contactSheet)
        m_contactSheet->ShowPages({});
    if (m_layouts)
        m_layouts->Close();
    m_designOpen = false;
}

void TKvwDesignModule::ArrangePanes() {
    TWindow::TRect client;
    if (!m_designOpen || !PanesExist() || !m_hostWindow || !m_hostWindow->GetClientRect(client))
        return;
    const LONG w = std::max(client.Width(), LONG{0});
    const LONG h = std::max(client.Height(), LONG{0});
    using TSize = TWindow::TSize;
    using TPoint = TWindow::TPoint;
    if (m_view == kSinglePageView) {
        m_singlePage->SetPosSize(TPoint(0, 0), TSize(w, h));
        m_contactSheet->SetSize(TSize(0, 0));
    } else if (m_view == kContactSheetView) {
        m_contactSheet->SetSize(TSize(w, h));
        m_singlePage->SetSize(TSize(0, 0));
    } else {
        // A host window lower than the sheet leaves the single page no room rather than a negative size.
        m_contactSheet->SetSize(TSize(w, kBothViewsSheetHeight));
        m_singlePage->SetPosSize(TPoint(0, kBothViewsSheetHeight),
                                 TSize(w, std::max(h - kBothViewsSheetHeight, LONG{0})));
    }
}

void TKvwDesignModule::SwitchView(DWORD view) {
    if (!m_designOpen || !PanesExist() || view == m_view)
        return;
    SendStateWord(m_view, kStateLeft);
    m_view = view;
    m_singlePage->StopRendering();
    m_contactSheet->StopRendering();
    CancelQueuedRenders();
    m_singlePage->SetMode(0);
    m_contactSheet->SetMode(0);
    ArrangePanes();
    if (view == kSinglePageView) {
        m_singlePage->SetMode(1);
    } else if (view == kContactSheetView) {
        m_contactSheet->SetMode(1);
    } else {
        m_singlePage->SetMode(2);
        m_contactSheet->SetMode(2);
    }
}

void TKvwDesignModule::MovePage(LONG step) {
    if (!m_designOpen || !PanesExist())
        return;
    const LONG pages = m_layouts ? m_layouts->GetPageCount() : 0;
    const LONG page = m_singlePage->GetShownPage() + step;
    if (page < 1 || page > pages)
        return;
    m_singlePage->ShowPage(page);
    m_contactSheet->ShowPage(page);
    SendPageLabel();
}

KvwResult TKvwDesignModule::TrackZoomPopup(const POINT* point) {
    if (!point)
        return kKvwInvalidArgument;
    if (!PanesExist())
        return kKvwOk;
    CKvwMenuResource menu;
    if (!menu.Load(m_view == kContactSheetView ? kContactSheetZoomMenu : kZoomMenu))
        return kKvwOk;
    HMENU popup = GetSubMenu(menu.GetHandle(), 0);
    if (!popup)
        return kKvwOk;
    const auto chosen = static_cast<DWORD>(
        TrackPopupMenu(popup, kZoomPopupFlags, point->x, point->y, 0, m_singlePage->GetHandle(), nullptr));
    if (chosen >= kZoom200 && chosen <= kZoomFit) {
        m_singlePage->SetZoomCommand(chosen);
        SendZoomLabel();
    }
    return kKvwOk;
}

void TKvwDesignModule::SendZoomLabel() {
    if (!m_singlePage)
        return;
    static const wchar_t* const kLabels[] = {L"200 %", L"100 %", L"50 %", L"25 %"};
    const DWORD zoom = m_singlePage->GetZoomCommand();
    const TString label = zoom >= kZoom200 && zoom < kZoomFit ? TString(kLabels[zoom - kZoom200])
                                                              : LoadLanguageString(kZoomFitString);
    SendText(kZoomPopup, label);
}

void TKvwDesignModule::SendPageLabel() {
    if (!m_singlePage)
        return;
    const LONG pages = m_layouts ? m_layouts->GetPageCount() : 0;
    const TString format = LoadLanguageString(kPageLabelString);
    SendText(kPageLabel, designtext::Format(format.IsEmpty() ? nullptr : static_cast<const wchar_t*>(format),
                                            kFixedPageLabel, {m_singlePage->GetShownPage(), pages}));
    SendNavigationStates();
}

void TKvwDesignModule::SendNavigationStates() {
    const LONG shown = m_singlePage ? m_singlePage->GetShownPage() : 1;
    const LONG pages = m_layouts ? m_layouts->GetPageCount() : 0;
    SendStateWord(kMenuPreviousPage, shown <= 1 ? kStateDisabled : 1);
    SendStateWord(kMenuNextPage, shown >= pages ? kStateDisabled : 1);
}

void TKvwDesignModule::SendStateWord(DWORD command, DWORD state) {
    DWORD word = state;
    Send(kCommandUpdate, command, 0, reinterpret_cast<KvwWord>(&word), 1, kUpdateStateWord, 0,
         kComponentKind);
}

void TKvwDesignModule::SendText(DWORD command, const TString& text) {
    Send(kCommandUpdate, command, 0, reinterpret_cast<KvwWord>(static_cast<const wchar_t*>(text)),
         static_cast<KvwWord>(text.GetLength()), kUpdateText, 0, kComponentKind);
}

void TKvwDesignModule::OnCurrentItem(KvwItemId id) {
    const bool usable = (KvwItemIdHigh(id) & kLayoutItemBits) == kLayoutItemBits;
    bool hasLayout = false;
    if (usable && id != m_designItem && GetItemService()) {
        CKvwItemData data;
        if (KvwSucceeded(GetItemService()->GetItemData(KvwItemIdLow(id), KvwItemIdHigh(id), &data,
                                                       kItemServiceAllData)))
            hasLayout = std::any_of(data.entries.begin(), data.entries.end(), [](const CKvwItemEntry& entry) {
                return (entry.flags & kKvwItemEntryLayout) != 0;
            });
        if (hasLayout) {
            if (m_layouts)
                m_layouts->ForgetLayoutFile();
            if (m_designOpen) {
                CloseDesign();
                OpenDesign();
            }
        }
    }
    Send(kAnnounce, kComponentKind, 0, 0, 0, 0, 0, usable && (id == m_designItem || hasLayout) ? 1 : 0);
}
