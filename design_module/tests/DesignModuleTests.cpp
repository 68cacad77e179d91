#include "DesignModuleFixture.h"

#include "plugin_framework/TAsyncRenderer.h"
#include "plugin_framework/TResource.h"
#include "plugin_framework/TRndrData.h"

#include "platform/win/WinMenus.h"
#include "platform/win/WinModule.h"

#include <array>
#include <cstring>

namespace {

using namespace KvwDesign;

struct StateCase {
    const char* name;
    DWORD command;
    bool open;   // a design (and so the panes) is open
    LONG page;   // the single-page pane's page
    DWORD zoom;  // the single-page pane's zoom
    DWORD state; // expected state word
    bool listed; // the answer is 1, not the pre-dispatch's
};

class CommandStates : public DesignModuleTest, public ::testing::WithParamInterface<StateCase> {};

TEST_P(CommandStates, AnswerTheTable) {
    const StateCase& c = GetParam();
    if (c.open) {
        OpenDesign();
        m_log.single.page = c.page;
        m_log.single.zoom = c.zoom;
    } else {
        Start();
    }
    DWORD state = 0xDEAD;
    EXPECT_EQ(Send(kCommandState, c.command, 0, reinterpret_cast<KvwWord>(&state)), c.listed ? 1u : 0u);
    EXPECT_EQ(state, c.state);
}

// The layout has three pages.
INSTANTIATE_TEST_SUITE_P(
    Table, CommandStates,
    ::testing::Values(StateCase{"ZoomChecked", kZoom50, true, 1, kZoom50, kStateChecked, true},
                      StateCase{"ZoomOther", kZoom200, true, 1, kZoom50, kStateEnabled, true},
                      StateCase{"ZoomNoPanes", kZoomFit, false, 1, 0, kStateEnabled, true},
                      StateCase{"Disabled4010", kDisabledFirst, true, 1, 0, kStateDisabled, true},
                      StateCase{"Disabled4011", kDisabledSecond, false, 1, 0, kStateDisabled, true},
                      StateCase{"PreviousOnFirst", kPreviousPage, true, 1, 0, kStateDisabled, true},
                      StateCase{"PreviousOnSecond", kPreviousPage, true, 2, 0, kStateEnabled, true},
                      StateCase{"PreviousNoPanes", kPreviousPage, false, 2, 0, kStateDisabled, true},
                      StateCase{"NextBeforeLast", kNextPage, true, 2, 0, kStateEnabled, true},
                      StateCase{"NextOnLast", kNextPage, true, 3, 0, kStateDisabled, true},
                      StateCase{"NextNoPanes", kNextPage, false, 1, 0, kStateDisabled, true},
                      StateCase{"Unlisted", 0x1234, true, 1, 0, kStateEnabled, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct OutPointerCase {
    const char* name;
    DWORD message;
    KvwWord p1;
    KvwWord p7;
    KvwResult nullAnswer; // with a null p3
};

class OutPointers : public DesignModuleTest, public ::testing::WithParamInterface<OutPointerCase> {};

TEST_P(OutPointers, NullIsRefusedOnlyWhereThePointerIsUsed) {
    Start();
    Send(kStartup); // no configuration: the panel is still made
    const OutPointerCase& c = GetParam();
    EXPECT_EQ(Send(c.message, c.p1, 0, 0, 0, 0, 0, c.p7), c.nullAnswer);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OutPointers,
    ::testing::Values(OutPointerCase{"CommandState", kCommandState, kZoom100, 0, kKvwInvalidArgument},
                      OutPointerCase{"FlagQueryAsked", kFlagQuery, 0, 0x100, kKvwInvalidArgument},
                      OutPointerCase{"FlagQueryNotAsked", kFlagQuery, 0, 0x80, kKvwOk},
                      OutPointerCase{"PanelWidth", kPanelSizeQuery, 0, 0, kKvwInvalidArgument},
                      OutPointerCase{"PanelHeight", kPanelSizeQuery, 1, 0, kKvwInvalidArgument},
                      OutPointerCase{"SecondPanel", kPanelSizeQuery, 2, 0, kKvwOk},
                      OutPointerCase{"PanelResize", kPanelSize, 1, 0, kKvwInvalidArgument},
                      OutPointerCase{"SecondPanelResize", kPanelSize, 2, 0, kKvwOk}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DesignModuleTest, FlagQueryAnswersTwoForEitherBit) {
    Start();
    for (KvwWord flags : {KvwWord{0x100}, KvwWord{0x200}, KvwWord{0x300}}) {
        DWORD word = 0;
        EXPECT_EQ(Send(kFlagQuery, 0, 0, reinterpret_cast<KvwWord>(&word), 0, 0, 0, flags), 1u);
        EXPECT_EQ(word, 2u);
    }
    DWORD untouched = 7;
    EXPECT_EQ(Send(kFlagQuery, 0, 0, reinterpret_cast<KvwWord>(&untouched), 0, 0, 0, 0x80), 0u);
    EXPECT_EQ(untouched, 7u);
}

TEST_F(DesignModuleTest, PanelSizesComeFromThePropertiesPanelAtLeast245Wide) {
    Start();
    Send(kStartup);
    LONG size[2] = {0, 0};
    Send(kPanelSizeQuery, 0, 0, reinterpret_cast<KvwWord>(size));
    EXPECT_EQ(size[0], kMinPanelWidth) << "200 pixels wide";
    Send(kPanelSizeQuery, 1, 0, reinterpret_cast<KvwWord>(size));
    EXPECT_EQ(size[1], 300);
    m_log.panelWidth = 260;
    Send(kPanelSizeQuery, 0, 0, reinterpret_cast<KvwWord>(size));
    EXPECT_EQ(size[0], 260);
    const LONG wanted[2] = {250, 410};
    Send(kPanelSize, 1, 0, reinterpret_cast<KvwWord>(wanted));
    ASSERT_EQ(m_log.panelSizes.size(), 1u);
    EXPECT_EQ(m_log.panelSizes[0], std::make_pair(LONG{250}, LONG{410}));
}

TEST_F(DesignModuleTest, WithoutThePropertiesPanelNothingIsWrittenOrResized) {
    m_log.withPanel = false;
    Start();
    Send(kStartup);
    LONG size[2] = {-1, -1};
    EXPECT_EQ(Send(kPanelSizeQuery, 0, 0, reinterpret_cast<KvwWord>(size)), kKvwOk);
    EXPECT_EQ(Send(kPanelSizeQuery, 0, 0, 0), kKvwOk) << "the pointer is not used";
    EXPECT_EQ(size[0], -1);
    const LONG wanted[2] = {250, 410};
    Send(kPanelSize, 1, 0, reinterpret_cast<KvwWord>(wanted));
    EXPECT_TRUE(m_log.panelSizes.empty());
}

TEST_F(DesignModuleTest, ExchangeValueIsStoredAndAnsweredSignExtended) {
    Start();
    struct Case {
        KvwWord stored;
        KvwWord low;
        KvwWord high;
    };
    const Case cases[] = {
        {5, 5, 0}, {7, 7, 0}, {0xFFFFFFFEu, 0xFFFFFFFEu, 0xFFFFFFFFu}, {0x7FFFFFFF, 0x7FFFFFFF, 0}};
    bool first = true;
    for (const Case& c : cases) {
        if (!first)
            Send(kExchangeValue, c.stored, 1);
        first = false; // the first case is the value a new module holds
        m_host->ClearRequests();
        Send(kExchangeValue, kComponentKind, 0);
        const auto sent = m_host->RequestsOf(kExchangeAnswer);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].words[0], c.low);
        EXPECT_EQ(sent[0].words[1], c.high);
    }
}

TEST_F(DesignModuleTest, ExchangeValueIsNotSentWhileADesignIsOpen) {
    OpenDesign();
    Send(kExchangeValue, kComponentKind, 0);
    EXPECT_TRUE(m_host->RequestsOf(kExchangeAnswer).empty());
}

TEST_F(DesignModuleTest, ViewSwitchLeavesTheOldViewArrangesAndSetsModes) {
    OpenDesign(640, 480);
    EXPECT_EQ(m_log.single.width, 640);
    EXPECT_EQ(m_log.single.height, 480);
    EXPECT_EQ(m_log.sheet.width, 0);

    Send(kMenuCommand, kContactSheetView);
    EXPECT_EQ(StatesFor(kSinglePageView), std::vector<DWORD>{kStateLeft});
    EXPECT_EQ(CountOf("single stop"), 1u);
    EXPECT_EQ(CountOf("sheet stop"), 1u);
    EXPECT_EQ(CountOf("renderer cancel"), 1u);
    EXPECT_EQ(m_log.sheet.mode, 1);
    EXPECT_EQ(m_log.single.mode, 0);
    EXPECT_EQ(m_log.sheet.width, 640);
    EXPECT_EQ(m_log.sheet.height, 480);
    EXPECT_EQ(m_log.single.width, 0);

    Send(kMenuCommand, kBothViews);
    EXPECT_EQ(StatesFor(kContactSheetView), std::vector<DWORD>{kStateLeft});
    EXPECT_EQ(m_log.single.mode, 2);
    EXPECT_EQ(m_log.sheet.mode, 2);
    EXPECT_EQ(m_log.sheet.height, kBothViewsSheetHeight);
    EXPECT_EQ(m_log.single.y, kBothViewsSheetHeight);
    EXPECT_EQ(m_log.single.height, 480 - kBothViewsSheetHeight);
    EXPECT_EQ(Module().GetView(), kBothViews);
}

TEST_F(DesignModuleTest, SwitchingToTheViewInForceSendsNothing) {
    OpenDesign();
    Send(kMenuCommand, kSinglePageView);
    EXPECT_TRUE(m_log.states.empty());
    EXPECT_TRUE(m_log.calls.empty());
}

TEST_F(DesignModuleTest, BothViewsInALowWindowGiveTheSinglePageNoNegativeHeight) {
    OpenDesign(640, 100);
    Send(kMenuCommand, kBothViews);
    EXPECT_EQ(m_log.single.height, 0);
    EXPECT_EQ(m_log.single.width, 640);
}

TEST_F(DesignModuleTest, ViewsSwitchOnlyWhileADesignIsOpen) {
    Start();
    Send(kMenuCommand, kContactSheetView);
    EXPECT_EQ(Module().GetView(), kSinglePageView);
    EXPECT_TRUE(m_log.states.empty());
}

struct ZoomCase {
    const char* name;
    DWORD view;
    UINT choice;
    std::vector<UINT> items; // of the pop-up tracked
    DWORD zoom;              // afterwards
    const wchar_t* label;    // sent afterwards, or null
};

class ZoomPopup : public DesignModuleTest, public ::testing::WithParamInterface<ZoomCase> {};

TEST_P(ZoomPopup, TracksTheViewsMenuAndTakesTheChoice) {
    const ZoomCase& c = GetParam();
    OpenDesign();
    if (c.view != kSinglePageView)
        Send(kMenuCommand, c.view);
    m_log.texts.clear();
    WinMenuTest::QueueChoice(c.choice);
    POINT at{120, 44};
    EXPECT_EQ(Send(kMenuCommand, kZoomPopup, 0, reinterpret_cast<KvwWord>(&at)), kKvwOk);
    const auto calls = WinMenuTest::TrackCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].commands, c.items);
    EXPECT_EQ(calls[0].x, 120);
    EXPECT_EQ(calls[0].y, 44);
    EXPECT_EQ(calls[0].flags, 0x128u);
    EXPECT_EQ(m_log.single.zoom, c.zoom);
    if (c.label)
        EXPECT_EQ(TextsFor(kZoomPopup), std::vector<std::wstring>{c.label});
    else
        EXPECT_TRUE(TextsFor(kZoomPopup).empty());
}

const std::vector<UINT> kMenu106 = {kZoom200, kZoom100, kZoom50, kZoom25, 0, kZoomFit};
const std::vector<UINT> kMenu107 = {kZoom100, kZoomFit};

INSTANTIATE_TEST_SUITE_P(
    Table, ZoomPopup,
    ::testing::Values(ZoomCase{"SinglePage50", kSinglePageView, kZoom50, kMenu106, kZoom50, L"50 %"},
                      ZoomCase{"SinglePageFit", kSinglePageView, kZoomFit, kMenu106, kZoomFit, L"Fit"},
                      ZoomCase{"Dismissed", kSinglePageView, 0, kMenu106, kZoomFit, nullptr},
                      ZoomCase{"ContactSheet", kContactSheetView, kZoom100, kMenu107, kZoom100, L"100 %"},
                      ZoomCase{"BothViews", kBothViews, kZoom200, kMenu106, kZoom200, L"200 %"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DesignModuleTest, ZoomPopupWithoutAPointIsRefused) {
    OpenDesign();
    EXPECT_EQ(Send(kMenuCommand, kZoomPopup, 0, 0), kKvwInvalidArgument);
    EXPECT_TRUE(WinMenuTest::TrackCalls().empty());
}

TEST_F(DesignModuleTest, ZoomCommandsSetTheZoomAndSendTheLabel) {
    OpenDesign();
    EXPECT_EQ(Send(kCommand, kZoom25), 1u);
    EXPECT_EQ(m_log.single.zoom, kZoom25);
    EXPECT_EQ(TextsFor(kZoomPopup), std::vector<std::wstring>{L"25 %"});
}

TEST_F(DesignModuleTest, PageNavigationMovesBothPanesAndSendsLabelAndStates) {
    OpenDesign();
    Send(kCommand, kNextPage);
    EXPECT_EQ(m_log.single.page, 2);
    EXPECT_EQ(m_log.sheet.page, 2);
    Send(kMenuCommand, kMenuNextPage);
    EXPECT_EQ(m_log.single.page, 3);
    Send(kMenuCommand, kMenuNextPage);
    EXPECT_EQ(m_log.single.page, 3) << "no page after the last";
    EXPECT_EQ(TextsFor(kPageLabel), (std::vector<std::wstring>{L"Page 2 of 3", L"Page 3 of 3"}));
    EXPECT_EQ(StatesFor(kMenuPreviousPage), (std::vector<DWORD>{1, 1}));
    EXPECT_EQ(StatesFor(kMenuNextPage), (std::vector<DWORD>{1, kStateDisabled}));
}

TEST_F(DesignModuleTest, TheContactSheetIsGivenTheOpenDesignsPagesAndNoneOnceItCloses) {
    m_log.pageItems = {{1, 0x501}, {2, 0x502}, {3, 0x503}};
    OpenDesign();
    ASSERT_FALSE(m_log.sheet.pageLists.empty());
    EXPECT_EQ(m_log.sheet.pageLists.back(), (KvwItemIdList{0x501, 0x502, 0x503}));
    EXPECT_EQ(Module().GetPageOfItem(0x502), 2);
    Send(kCloseDesign);
    EXPECT_EQ(m_log.sheet.pageLists.back(), KvwItemIdList{}) << "the closed design's pages are let go";
    EXPECT_EQ(Module().GetPageOfItem(0x502), 0);
}

// The loading progress on the page label's command: {percent, 100} in two words of kind 2, then at 100
// the end form without words.
TEST_F(DesignModuleTest, LoadingProgressIsSentAsPercentOf100AndEndsAt100) {
    OpenDesign();
    Module().SendLoadingProgress(40);
    Module().SendLoadingProgress(100);
    std::vector<std::array<KvwWord, 8>> sent;
    for (const CHostRequest& request : m_host->RequestsOf(kCommandUpdate))
        if (request.words[0] == kPageLabel && request.words[4] == kUpdateStateWord)
            sent.push_back(request.words);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(StatesFor(kPageLabel), (std::vector<DWORD>{40, 100})) << "the percent words";
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(sent[i][3], i < 2 ? 2u : 0u) << i;
        EXPECT_EQ(sent[i][6], kComponentKind) << i;
    }
    EXPECT_EQ(sent[2][2], 0u) << "the end form carries no words";
}

TEST_F(DesignModuleTest, HostileNumberedTextGivesTheFixedPageLabel) {
    OpenDesign();
    const std::string hostile = std::string(KV_TEST_MODULE_DIR) + "/DesignHostileLang.so";
    HMODULE library = LoadLibraryA(hostile.c_str());
    ASSERT_NE(library, nullptr);
    HINSTANCE previous = TResource::Instance()->GetModule();
    TResource::Instance()->SetModule(library);
    Send(kCommand, kNextPage);
    TResource::Instance()->SetModule(previous);
    FreeLibrary(library);
    EXPECT_EQ(TextsFor(kPageLabel), std::vector<std::wstring>{L"2 / 3"});
}

TEST_F(DesignModuleTest, SaveWritesTheLayoutBack) {
    OpenDesign();
    EXPECT_EQ(Send(kCommand, kSave), 1u);
    EXPECT_EQ(CountOf("layouts write"), 1u);
}

TEST_F(DesignModuleTest, InitializeAnnouncesActionsAndMenuWithItsAccelerators) {
    Start();
    const auto actions = m_host->RequestsOf(kActions);
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].words[4], kActionRecord);
    const auto* action = reinterpret_cast<const CKvwActionData*>(actions[0].words[2]);
    EXPECT_EQ(action->componentKind, kComponentKind);
    EXPECT_EQ(action->name, "Page design");
    EXPECT_EQ(action->informationWord, kInterfaceVersion);
    const auto menus = m_host->RequestsOf(kMenu);
    ASSERT_EQ(menus.size(), 1u);
    EXPECT_EQ(menus[0].words[0], kComponentKind);
    const auto* data = reinterpret_cast<const CKvwMenuData*>(menus[0].words[2]);
    ASSERT_TRUE(IsMenu(data->menu));
    HMENU design = GetSubMenu(data->menu, 0);
    ASSERT_EQ(GetMenuItemCount(design), 8);
    EXPECT_EQ(GetMenuItemID(design, 5), kBothViews);
    ACCEL keys[2] = {};
    ASSERT_EQ(CopyAcceleratorTableW(data->accelerators, keys, 2), 1);
    EXPECT_EQ(keys[0].key, 'S');
    EXPECT_EQ(keys[0].fVirt, WinMenuTemplate::FVIRTKEY | WinMenuTemplate::FCONTROL);
    EXPECT_EQ(keys[0].cmd, kSave);
    DWORD kind = 0, version = 0;
    EXPECT_EQ(m_host->GetInformation(m_module, &kind, &version), kKvwOk);
    EXPECT_EQ(kind, kComponentKind);
    EXPECT_EQ(version, kInterfaceVersion);
    EXPECT_EQ(m_host->GetInformation(m_module, nullptr, &version), kKvwInvalidArgument);
}

TEST_F(DesignModuleTest, RefusedActionsFailInitialize) {
    m_host->SetAnswer(kActions, 0x1101);
    KvwSetModuleFactory([]() -> TBasicQWComp* { return new TKvwDesignModule; });
    m_module = m_host->Add(
        CHostModule::FromExports("KvwDesign.md7", KvwInitialize, KvwMessage, KvwGetInformation, KvwClose));
    EXPECT_EQ(m_host->Initialize(m_module), kKvwInvalidArgument);
}

TEST_F(DesignModuleTest, StartupAnnouncesSevenFunctionsAsFourWithTheirCells) {
    WriteConfiguration("templates");
    WriteTemplate("templates", "a.xml", "First");
    Start();
    Send(kStartup);
    const auto sent = m_host->RequestsOf(kFunctions);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].words[3], 4u);
    EXPECT_EQ(sent[0].words[4], kFunctionRecord);
    const auto& functions = Module().GetFunctions();
    ASSERT_EQ(functions.size(), 7u);
    const auto* first = reinterpret_cast<const CKvwFunctionData*>(sent[0].words[2]);
    EXPECT_EQ(first, functions.data());
    const DWORD commands[] = {kMenuPreviousPage, kMenuNextPage,     kPageLabel, kZoomPopup,
                              kSinglePageView,   kContactSheetView, kBothViews};
    for (std::size_t i = 0; i < 7; ++i)
        EXPECT_EQ(functions[i].commandId, commands[i]);
    EXPECT_EQ(functions[3].kind, 12u);
    EXPECT_EQ(functions[3].label, std::string(14, ' '));
    const DWORD states[] = {1, 3, 2, 0x100};
    for (std::size_t s = 0; s < 4; ++s) {
        const CKvwBitmapData& zoom = functions[3].bitmaps.at(states[s]);
        EXPECT_EQ(zoom.width, 38);
        EXPECT_EQ(zoom.height, 19);
        EXPECT_EQ(zoom.offset, static_cast<LONG>(19 * s));
        for (std::size_t v = 0; v < 3; ++v) {
            const CKvwBitmapData& cell = functions[4 + v].bitmaps.at(states[s]);
            EXPECT_EQ(cell.width, 22);
            EXPECT_EQ(cell.offset, static_cast<LONG>(22 * (4 * v + s)));
            EXPECT_EQ(functions[4 + v].further, 1u);
        }
    }
    BITMAP strip{};
    ASSERT_NE(GetObjectW(functions[4].bitmaps.at(1).bitmap, sizeof(strip), &strip), 0);
    EXPECT_EQ(strip.bmWidth, 264);
    ASSERT_NE(GetObjectW(functions[3].bitmaps.at(1).bitmap, sizeof(strip), &strip), 0);
    EXPECT_EQ(strip.bmWidth, 76);
    EXPECT_EQ(m_host->RequestsOf(kAnnounce).size(), 1u);
    EXPECT_EQ(CountOf("renderer start"), 1u);
    EXPECT_NE(std::wstring(m_log.codecParameters).find(L"preview"), std::wstring::npos);
}

TEST_F(DesignModuleTest, StartupWithoutAConfigurationSkipsItsStep) {
    Start();
    Send(kStartup);
    EXPECT_EQ(Module().GetTemplateList().GetCount(), 0);
    EXPECT_TRUE(WinDialogTest::MessageBoxCalls().empty());
    EXPECT_EQ(m_host->RequestsOf(kFunctions).size(), 1u);
    EXPECT_EQ(CountOf("renderer start"), 1u);
}

TEST_F(DesignModuleTest, StartupWithAnEmptyTemplatesFolderShowsTheMessageAndStops) {
    WriteConfiguration("empty");
    WriteTemplate("empty", "not-a-template.txt", "");
    Start();
    Send(kStartup);
    const auto boxes = WinDialogTest::MessageBoxCalls();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"No templates found");
    EXPECT_EQ(boxes[0].caption, L"DesignModule");
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_ICONERROR | MB_TOPMOST));
    EXPECT_TRUE(m_host->RequestsOf(kSubPanel).empty());
    EXPECT_TRUE(m_host->RequestsOf(kFunctions).empty());
    EXPECT_EQ(CountOf("renderer start"), 0u);
    EXPECT_EQ(Module().GetRenderer(), nullptr);
}

TEST_F(DesignModuleTest, StartupReplacesAMissingLastLayoutByTheFirstTemplate) {
    WriteConfiguration("templates", "<selection><max_limit>-1</max_limit></selection>");
    WriteTemplate("templates", "b.XML", "Second");
    WriteTemplate("templates", "A.xml", "First");
    m_host->Registry().PutText("Design", "last_ltf_path", "/no/such/layout.ltf");
    Start();
    Send(kStartup);
    const std::wstring first(Module().GetTemplateList().GetPath(0));
    EXPECT_NE(first.find(L"A.xml"), std::wstring::npos);
    EXPECT_EQ(std::wstring(Module().GetUserOptions().GetLastLayoutPath()), first);
    EXPECT_EQ(Module().GetSelectionLimit(), 0xFFFFFFFFu);
}

TEST_F(DesignModuleTest, StartupKeepsALastLayoutThatExists) {
    WriteConfiguration("templates", "<selection><max_limit>2</max_limit></selection>");
    WriteTemplate("templates", "a.xml", "First");
    const std::string kept = m_moduleFolder.Write("kept.ltf", "layout");
    m_host->Registry().PutText("Design", "last_ltf_path", kept);
    Start();
    Send(kStartup);
    EXPECT_EQ(std::wstring(Module().GetUserOptions().GetLastLayoutPath()),
              std::wstring(kept.begin(), kept.end()));
    EXPECT_EQ(Module().GetSelectionLimit(), 2u);
}

TEST_F(DesignModuleTest, ARendererThatDoesNotStartEndsTheStartup) {
    m_log.rendererStarts = false;
    Start();
    Send(kStartup);
    EXPECT_EQ(Module().GetRenderer(), nullptr);
}

TEST_F(DesignModuleTest, CloseStopsTheRendererBeforeTheDesignsDocumentsGo) {
    OpenDesign();
    m_host->Close(m_module);
    const auto stop = std::find(m_log.calls.begin(), m_log.calls.end(), "renderer stop");
    const auto close = std::find(m_log.calls.begin(), m_log.calls.end(), "layouts close");
    ASSERT_NE(stop, m_log.calls.end());
    ASSERT_NE(close, m_log.calls.end());
    EXPECT_LT(stop, close);
}

TEST_F(DesignModuleTest, RenderNoticesStillQueuedAtCloseAreLetGo) {
    Start();
    Send(kStartup);
    HWND window = Module().GetNotifyWindow();
    ASSERT_NE(window, nullptr);
    auto request = TRefPtr<TRndrData>::Adopt(new TRndrData);
    request->AddRef(); // the notice's reference
    ASSERT_TRUE(PostMessageW(window, kRenderFinishedMessage, 0, reinterpret_cast<LPARAM>(request.Get())));
    ASSERT_TRUE(PostMessageW(window, kRenderProgressMessage, 0, reinterpret_cast<LPARAM>(new DWORD(40))));
    m_host->Close(m_module);
    EXPECT_EQ(request->GetRefCount(), 1);
}

TEST_F(DesignModuleTest, AFailedOpenLeavesTheDesignClosed) {
    WriteConfiguration("templates");
    WriteTemplate("templates", "a.xml", "First");
    m_log.openResult = 0x1101;
    Start();
    Send(kStartup);
    EXPECT_EQ(Send(kOpenDesign), 0x1101u);
    EXPECT_FALSE(Module().IsDesignOpen());
    m_host->SetAnswer(kSelectionChanged, 0x1008);
    m_log.calls.clear();
    EXPECT_EQ(Send(kOpenDesign), 0x1008u) << "the host's refusal of the selection";
    EXPECT_EQ(CountOf("layouts open"), 0u);
}

TEST_F(DesignModuleTest, CurrentItemAnnouncesWhetherItIsADesign) {
    CHostItemRecord layout;
    layout.id = KvwMakeItemId(9, kLayoutItemBits);
    layout.data.entries = {{1, 0}, {2, kKvwItemEntryLayout}};
    m_host->AddItem(layout);
    CHostItemRecord plain;
    plain.id = KvwMakeItemId(10, kLayoutItemBits);
    m_host->AddItem(plain);
    OpenDesign();
    struct Case {
        KvwItemId id;
        KvwWord usable;
    };
    for (const Case& c : {Case{layout.id, 1}, Case{plain.id, 0}, Case{KvwMakeItemId(9, 0x2000000), 0}}) {
        m_host->ClearRequests();
        Send(KvwHostMessage::kCurrentItem, KvwItemIdLow(c.id), KvwItemIdHigh(c.id));
        const auto sent = m_host->RequestsOf(kAnnounce);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].words[6], c.usable) << std::hex << c.id;
    }
    EXPECT_EQ(CountOf("layouts forget"), 1u);
    EXPECT_EQ(CountOf("layouts close"), 1u) << "the open design is opened again";
    EXPECT_EQ(CountOf("layouts open"), 1u);
    Module().SetDesignItem(plain.id);
    m_host->ClearRequests();
    Send(KvwHostMessage::kCurrentItem, KvwItemIdLow(plain.id), KvwItemIdHigh(plain.id));
    EXPECT_EQ(m_host->RequestsOf(kAnnounce).at(0).words[6], 1u) << "the design's own item";
}

TEST_F(DesignModuleTest, SelectionChangeWritesBackThenAnnouncesPages) {
    OpenDesign();
    Send(kSelectionChanged);
    EXPECT_EQ(m_log.calls, (std::vector<std::string>{"layouts write", "layouts announce"}));
}

} // namespace
