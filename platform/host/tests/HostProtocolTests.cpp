#include "HostFixture.h"

#include <array>

namespace {

KvwResult NullCallback(DWORD, KvwWord, KvwWord, KvwWord, KvwWord, KvwWord, KvwWord, KvwWord, KvwWord) {
    return kKvwOk;
}

class HostProtocol : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        m_module = m_host->Load(ModulePath("TestModA.qw7"));
        ASSERT_NE(m_module, CScriptedHost::kNoModule) << m_host->LastError();
    }
    KvwResult Initialize() { return m_host->Initialize(m_module); }
    KvwResult Send(DWORD id, KvwWord p1 = 0, KvwWord p2 = 0, KvwWord p3 = 0, KvwWord p4 = 0, KvwWord p5 = 0,
                   KvwWord p6 = 0, KvwWord p7 = 0, KvwWord p8 = 0) {
        return m_host->Send(m_module, id, p1, p2, p3, p4, p5, p6, p7, p8);
    }
    // The module sends the request itself, as its own code would.
    KvwResult Ask(DWORD id, KvwWord p1 = 0, KvwWord p2 = 0, KvwWord p3 = 0, KvwWord p4 = 0, KvwWord p5 = 0) {
        return Send(TestModule::kSendToHost, id, p1, p2, p3, p4, p5);
    }
    KvwResult Completions(KvwItemId item) {
        return Send(TestModule::kCompletions, KvwItemIdLow(item), KvwItemIdHigh(item));
    }
    KvwResult RequestImage(KvwItemId item, DWORD request) {
        return Send(TestModule::kRequestImage, KvwItemIdLow(item), KvwItemIdHigh(item), request);
    }

    std::size_t m_module = 0;
};

TEST_F(HostProtocol, InformationWordsAreWrittenOnlyWithBothPlaces) {
    DWORD kind = 0, version = 0;
    EXPECT_EQ(m_host->GetInformation(m_module, &kind, &version), kKvwOk);
    EXPECT_EQ(kind, 0x2001u);
    EXPECT_EQ(version, 0x10000000u);
    DWORD untouched = 77;
    EXPECT_EQ(m_host->GetInformation(m_module, &untouched, nullptr), kKvwInvalidArgument);
    EXPECT_EQ(untouched, 77u);
}

TEST_F(HostProtocol, InitializeRefusesAMissingCallbackHostOrItemService) {
    CHostModule* module = m_host->Module(m_module);
    EXPECT_EQ(module->Initialize(nullptr, m_host.get()), kKvwInvalidArgument);
    EXPECT_EQ(module->Initialize(NullCallback, nullptr), kKvwInvalidArgument);
    m_host->WithholdService(KvwService::kItems, kKvwNothingToWorkOn);
    EXPECT_EQ(Initialize(), kKvwInvalidArgument);
    m_host->RestoreServices();
    m_host->WithholdService(KvwService::kBrowse, 0x1234);
    EXPECT_EQ(Initialize(), 0x1234u) << "a failing browse service answers with its own word";
    m_host->RestoreServices();
    EXPECT_EQ(Initialize(), kKvwOk);
    EXPECT_EQ(m_host->Items().HeldByModules(), 1) << "a second initialisation gave back what the first took";
    EXPECT_EQ(m_host->Browse().HeldByModules(), 1);
}

TEST_F(HostProtocol, ModuleSendsNothingBeforeItIsInitialised) {
    EXPECT_EQ(Ask(KvwPluginRequest::kUpdateSelection), kKvwOk);
    EXPECT_TRUE(m_host->Requests().empty());
    ASSERT_EQ(Initialize(), kKvwOk);
    EXPECT_EQ(Ask(KvwPluginRequest::kUpdateSelection), kKvwOk);
    ASSERT_EQ(m_host->Requests().size(), 1u);
    EXPECT_EQ(m_host->Requests()[0].id, KvwPluginRequest::kUpdateSelection);
    EXPECT_EQ(m_host->Requests()[0].module, m_module);
}

TEST_F(HostProtocol, CloseGivesTheServicesBackAndLaterExportsAnswerAsWithoutAHost) {
    ASSERT_EQ(Initialize(), kKvwOk);
    EXPECT_EQ(Send(TestModule::kServices), 7u);
    EXPECT_EQ(m_host->Items().HeldByModules(), 1);
    m_host->Close(m_module);
    EXPECT_EQ(m_host->Items().HeldByModules(), 0);
    EXPECT_EQ(m_host->Browse().HeldByModules(), 0);
    EXPECT_EQ(Send(TestModule::kServices), kKvwInvalidArgument) << "no module object is left to answer";
    DWORD kind = 0, version = 0;
    EXPECT_EQ(m_host->GetInformation(m_module, &kind, &version), kKvwInvalidArgument);
    EXPECT_EQ(Initialize(), kKvwInvalidArgument) << "only a new load brings a new module object";
    m_host->Module(m_module)->Close();
}

TEST_F(HostProtocol, HostAnswersGoodAndBadRequestsWithItsResultWords) {
    ASSERT_EQ(Initialize(), kKvwOk);
    m_host->AddItem(Item(5));
    CKvwSizeRecord size{100, 80};
    const auto record = reinterpret_cast<KvwWord>(&size);
    EXPECT_EQ(Ask(KvwPluginRequest::kPreview, 5, 0, record, 1, kKvwRecordSize), kKvwOk);
    EXPECT_EQ(Ask(KvwPluginRequest::kPreview, 6, 0, record, 1, kKvwRecordSize), kKvwNothingToWorkOn)
        << "an item the host does not have";
    EXPECT_EQ(Ask(KvwPluginRequest::kPreview, 5, 0, 0, 1, kKvwRecordSize), kKvwInvalidArgument)
        << "a record count without a record";
    EXPECT_EQ(Ask(KvwPluginRequest::kFullImage, 5, 0, record, 1, 258), kKvwInvalidArgument)
        << "a wrong record kind";
    EXPECT_EQ(Ask(KvwPluginRequest::kMakeAvailable, 6), kKvwNothingToWorkOn);
    EXPECT_EQ(Ask(0x10009999), kKvwInvalidArgument) << "a request the host does not know";
    m_host->SetAnswer(KvwPluginRequest::kUpdateSelection, kKvwNothingToWorkOn);
    EXPECT_EQ(Ask(KvwPluginRequest::kUpdateSelection), kKvwNothingToWorkOn);
}

TEST_F(HostProtocol, CompletionReachesTheWaiterOfItsRequestIdOnly) {
    ASSERT_EQ(Initialize(), kKvwOk);
    m_host->AddItem(Item(5));
    // The full image is answered with a completion that is held back until the test sends it.
    m_host->SetAnswer(KvwPluginRequest::kFullImage, kKvwOk);
    ASSERT_EQ(RequestImage(5, KvwPluginRequest::kFullImage), kKvwOk);
    ASSERT_EQ(RequestImage(5, KvwPluginRequest::kPreview), kKvwOk);
    const auto previews = m_host->RequestsOf(KvwPluginRequest::kPreview);
    ASSERT_EQ(previews.size(), 1u);
    EXPECT_EQ(previews[0].words[6], 64u);
    EXPECT_EQ(previews[0].words[7], kKvwFrameworkRequestTag);

    EXPECT_EQ(Completions(5), 0u) << "completions come later, from the host's window";
    WinUserTest::PumpPending();
    EXPECT_EQ(Completions(5), 1u);
    EXPECT_EQ(Send(TestModule::kWaiters), 1u) << "the full-image waiter is still waiting";

    // A completion that names the preview again finds no waiter and, as an image-loaded notice, goes on.
    Send(kKvwNotify_ImageLoaded, 5, 0, 0, 0, 0, 0, KvwPluginRequest::kPreview);
    EXPECT_EQ(Completions(5), 1u);
    EXPECT_EQ(Send(TestModule::kImageLoadedNotices), 1u);
    Send(kKvwNotify_ImageLoaded, 5, 0, 0, 0, 0, 0, KvwPluginRequest::kFullImage);
    EXPECT_EQ(Completions(5), 2u);
    EXPECT_EQ(Send(TestModule::kImageLoadedNotices), 1u);
    EXPECT_EQ(Send(TestModule::kWaiters), 0u);
}

TEST_F(HostProtocol, UnmatchedImageLoadedNoticeGoesOnButAnUnmatchedPreviewDoesNot) {
    ASSERT_EQ(Initialize(), kKvwOk);
    Send(kKvwNotify_ImageLoaded, 9, 0, 0, 0, 0, 0, KvwPluginRequest::kPreview);
    EXPECT_EQ(Send(TestModule::kImageLoadedNotices), 1u);
    Send(KvwHostMessage::kPreviewReady, 9, 0, 0, 0, 0, 0, KvwPluginRequest::kPreview);
    Send(KvwHostMessage::kFullImageReady, 9, 0, 0, 0, 0, 0, KvwPluginRequest::kFullImage);
    EXPECT_EQ(Send(TestModule::kImageLoadedNotices), 1u);
}

TEST_F(HostProtocol, IdArrayIsOfferedIdByIdAndAMissingArrayIsNothing) {
    ASSERT_EQ(Initialize(), kKvwOk);
    m_host->SetAnswer(KvwPluginRequest::kFullImage, kKvwOk);
    const std::array<KvwItemId, 3> items = {0x100000001ull, 2, 3};
    for (KvwItemId item : items)
        ASSERT_EQ(RequestImage(item, KvwPluginRequest::kFullImage), kKvwOk);
    EXPECT_EQ(Send(KvwHostMessage::kFullImageReady, 0, 0, 0, 3, 0, 0, KvwPluginRequest::kFullImage), kKvwOk);
    EXPECT_EQ(Send(TestModule::kWaiters), 3u);
    EXPECT_EQ(Send(KvwHostMessage::kFullImageReady, 0, 0, reinterpret_cast<KvwWord>(items.data()), 3, 0, 0,
                   KvwPluginRequest::kFullImage),
              kKvwOk);
    for (KvwItemId item : items)
        EXPECT_EQ(Completions(item), 1u);
    EXPECT_EQ(Send(TestModule::kWaiters), 0u);
}

TEST_F(HostProtocol, CurrentGroupIsKeptOnlyForAGroupItem) {
    ASSERT_EQ(Initialize(), kKvwOk);
    KvwItemId group = 0;
    Send(KvwHostMessage::kCurrentItem, 0x11, 0x02010000);
    Send(TestModule::kGroupId, 0, 0, reinterpret_cast<KvwWord>(&group));
    EXPECT_EQ(group, 0u);
    Send(KvwHostMessage::kCurrentItem, 0x11, 0x02020000);
    Send(TestModule::kGroupId, 0, 0, reinterpret_cast<KvwWord>(&group));
    EXPECT_EQ(group, 0x0202000000000011ull);
    m_host->Close(m_module);
}

TEST_F(HostProtocol, CompletionsForAClosedModuleAreDropped) {
    ASSERT_EQ(Initialize(), kKvwOk);
    m_host->AddItem(Item(5));
    ASSERT_EQ(RequestImage(5, KvwPluginRequest::kPreview), kKvwOk);
    EXPECT_EQ(m_host->PendingMessages(), 1u);
    m_host->Close(m_module);
    EXPECT_EQ(m_host->PendingMessages(), 0u);
    WinUserTest::PumpPending();
}

} // namespace
