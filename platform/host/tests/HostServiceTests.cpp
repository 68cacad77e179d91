#include "HostFixture.h"

#include "platform/win/WinDesktop.h"

#include <memory>

namespace {

template <class Service>
Service* Query(CScriptedHost& host, DWORD code) {
    IKvwObject* object = nullptr;
    EXPECT_EQ(host.QueryService(code, &object), kKvwOk) << code;
    return static_cast<Service*>(object);
}

using HostServices = HostTest;

TEST_F(HostServices, EveryServiceIsHandedOutWithAReferenceAndCanBeWithheld) {
    struct Counted {
        DWORD code;
        std::function<LONG()> held;
    };
    const Counted services[] = {
        {KvwService::kImaging, [&] { return m_host->Imaging().HeldByModules(); }},
        {KvwService::kPanes, [&] { return m_host->Panes().HeldByModules(); }},
        {KvwService::kWindows, [&] { return m_host->Windows().HeldByModules(); }},
        {KvwService::kRegistry, [&] { return m_host->Registry().HeldByModules(); }},
    };
    for (const Counted& service : services) {
        IKvwObject* object = Query<IKvwObject>(*m_host, service.code);
        ASSERT_NE(object, nullptr);
        EXPECT_EQ(service.held(), 1);
        object->Release();
        EXPECT_EQ(service.held(), 0);
        m_host->WithholdService(service.code, kKvwNothingToWorkOn);
        IKvwObject* none = reinterpret_cast<IKvwObject*>(1);
        EXPECT_EQ(m_host->QueryService(service.code, &none), kKvwNothingToWorkOn);
        EXPECT_EQ(none, nullptr);
        m_host->RestoreServices();
    }
    IKvwObject* unknown = nullptr;
    EXPECT_EQ(m_host->QueryService(99, &unknown), kKvwInvalidArgument);
}

TEST_F(HostServices, ItemsAnswerTheirPropertyTextsAndRecords) {
    CHostItemRecord item = Item(5);
    item.propertyTexts[2] = "2024:05:01 10:11:12";
    item.SetSizeRecords(640, 480);
    item.records[0x10007] = {1, 2, 3};
    m_host->AddItem(item);
    IKvwItem* raw = nullptr;
    ASSERT_EQ(m_host->Items().GetItem(5, 0, &raw), kKvwOk);
    std::unique_ptr<IKvwItem, void (*)(IKvwItem*)> held(raw, [](IKvwItem* i) { i->Release(); });

    std::string text = "untouched";
    EXPECT_EQ(raw->GetPropertyText(2, &text), kKvwOk);
    EXPECT_EQ(text, "2024:05:01 10:11:12");
    text = "untouched";
    EXPECT_EQ(raw->GetPropertyText(1001, &text), kKvwNothingToWorkOn);
    EXPECT_EQ(text, "untouched");

    DWORD length = 0;
    ASSERT_EQ(raw->GetRecord(KvwItemRecord::kWidth, nullptr, 0, &length), kKvwOk);
    EXPECT_EQ(length, 4u);
    BYTE bytes[4] = {};
    ASSERT_EQ(raw->GetRecord(KvwItemRecord::kHeight, bytes, 4, &length), kKvwOk);
    EXPECT_EQ(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | bytes[3] << 24, 480);
    BYTE small[2] = {9, 9};
    EXPECT_EQ(raw->GetRecord(0x10007, small, 2, &length), kKvwInvalidArgument);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(small[0], 9) << "a short buffer gets nothing";
    EXPECT_EQ(raw->GetRecord(0x10009, nullptr, 0, &length), kKvwNothingToWorkOn);
}

TEST_F(HostServices, TheImagingServiceHandsOutItsManagerUnlessItFails) {
    IKvwImagingService* imaging = Query<IKvwImagingService>(*m_host, KvwService::kImaging);
    IPravonManager* manager = nullptr;
    EXPECT_EQ(imaging->GetManager(&manager), kKvwOk);
    EXPECT_EQ(manager, &m_host->Imaging().Manager());
    m_host->Imaging().SetResult(kKvwNothingToWorkOn);
    EXPECT_EQ(imaging->GetManager(&manager), kKvwNothingToWorkOn);
    EXPECT_EQ(manager, nullptr);
    imaging->Release();
}

TEST_F(HostServices, ThePaneServiceGivesItsNumberAndTheWindowsOfItsComponents) {
    IKvwPaneService* panes = Query<IKvwPaneService>(*m_host, KvwService::kPanes);
    EXPECT_EQ(panes->GetNumber(), 0u);
    m_host->Panes().SetNumber(20);
    EXPECT_EQ(panes->GetNumber(), 20u);
    CKvwWindowData data;
    EXPECT_EQ(panes->GetWindowData(20, &data), kKvwNothingToWorkOn);
    m_host->Panes().SetWindow(20, m_host->MainWindow());
    EXPECT_EQ(panes->GetWindowData(20, &data), kKvwOk);
    EXPECT_EQ(data.window, m_host->MainWindow());
    panes->Release();
}

TEST_F(HostServices, TheWindowServiceGivesTheWindowOfEachComponentsPanel) {
    IKvwWindowService* windows = Query<IKvwWindowService>(*m_host, KvwService::kWindows);
    CKvwWindowData data;
    EXPECT_EQ(windows->GetWindowData(20, 1, &data), kKvwNothingToWorkOn);
    m_host->Windows().SetWindow(20, 1, m_host->MainWindow());
    EXPECT_EQ(windows->GetWindowData(20, 1, &data), kKvwOk);
    EXPECT_EQ(data.window, m_host->MainWindow());
    EXPECT_EQ(windows->GetWindowData(20, 2, &data), kKvwNothingToWorkOn) << "another panel";
    EXPECT_EQ(windows->GetWindowData(21, 1, &data), kKvwNothingToWorkOn) << "another component";
    EXPECT_EQ(windows->GetWindowData(20, 1, nullptr), kKvwInvalidArgument);
    m_host->Windows().SetWindow(20, 1, nullptr);
    EXPECT_EQ(windows->GetWindowData(20, 1, &data), kKvwNothingToWorkOn);
    windows->Release();
}

TEST_F(HostServices, ItemDataCarriesTheItemsEntriesWithTheirFlags) {
    CHostItemRecord item = Item(6);
    item.data.entries = {{0x700000001ull, 0}, {0x700000002ull, kKvwItemEntryLayout | 1}};
    m_host->AddItem(item);
    CKvwItemData data;
    ASSERT_EQ(m_host->Items().GetItemData(6, 0, &data, 0), kKvwOk);
    ASSERT_EQ(data.entries.size(), 2u);
    EXPECT_EQ(data.entries[1].id, 0x700000002ull);
    EXPECT_EQ(data.entries[1].flags, kKvwItemEntryLayout | 1);
}

TEST_F(HostServices, TheHostsMainWindowIsItsThreadsMainWindow) {
    EXPECT_TRUE(IsWindow(m_host->MainWindow()));
    EXPECT_EQ(GetThreadMainWindow(), m_host->MainWindow());
    RECT client{};
    ASSERT_TRUE(GetClientRect(m_host->MainWindow(), &client));
    EXPECT_EQ(client.right, 640);
    EXPECT_EQ(client.bottom, 480);
    m_host.reset();
    EXPECT_EQ(GetThreadMainWindow(), nullptr);
}

class RegistryService : public HostTest {
protected:
    CHostRegistryService& Registry() { return m_host->Registry(); }
};

TEST_F(RegistryService, KeysAreOpenedOnlyWhenTheyExistAndCreatedForWriting) {
    CHostRegistryService& r = Registry();
    EXPECT_EQ(r.OpenKey(2, "PrintPI"), kKvwNothingToWorkOn);
    ASSERT_EQ(r.CreateKey(2, "PrintPI"), kKvwOk);
    ASSERT_EQ(r.SetText("caption", "\xC3\xA9t\xC3\xA9"), kKvwOk);
    const BYTE data[] = {0, 1, 2, 255};
    ASSERT_EQ(r.SetBinary("blob", data, 4), kKvwOk);
    ASSERT_EQ(r.CloseKey(), kKvwOk);
    EXPECT_EQ(r.OpenKeys(), 0u);

    ASSERT_EQ(r.OpenKey(2, "PrintPI"), kKvwOk);
    std::string text;
    EXPECT_EQ(r.GetText("caption", &text), kKvwOk);
    EXPECT_EQ(text, "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(r.GetText("blob", &text), kKvwNothingToWorkOn) << "a value of the other kind";
    DWORD size = 0;
    EXPECT_EQ(r.GetBinary("blob", nullptr, 0, &size), kKvwOk);
    EXPECT_EQ(size, 4u);
    BYTE read[4] = {};
    EXPECT_EQ(r.GetBinary("blob", read, 3, &size), kKvwInvalidArgument);
    EXPECT_EQ(r.GetBinary("blob", read, 4, &size), kKvwOk);
    EXPECT_EQ(std::vector<BYTE>(read, read + 4), std::vector<BYTE>(data, data + 4));
    EXPECT_EQ(r.CloseKey(), kKvwOk);
    EXPECT_EQ(r.CloseKey(), kKvwInvalidArgument) << "nothing is open";
    EXPECT_EQ(r.GetText("caption", &text), kKvwInvalidArgument) << "no key open";
    EXPECT_EQ(r.Commit(2), kKvwOk);
    EXPECT_EQ(r.Commits(), 1);
    EXPECT_EQ(r.Text("PrintPI", "caption"), std::optional<std::string>("\xC3\xA9t\xC3\xA9"));
}

TEST_F(RegistryService, EachEntryCanBeMadeToFail) {
    CHostRegistryService& r = Registry();
    r.PutText("K", "v", "stored");
    for (CHostRegistryService::Entry entry : CHostRegistryService::kEntries) {
        r.FailEntry(entry, 0x1234);
        std::string text;
        DWORD size = 0;
        const BYTE byte = 1;
        KvwResult result = kKvwOk;
        switch (entry) {
        case CHostRegistryService::kCreateKey:
            result = r.CreateKey(2, "K");
            break;
        case CHostRegistryService::kOpenKey:
            result = r.OpenKey(2, "K");
            break;
        case CHostRegistryService::kCloseKey:
            r.OpenKey(2, "K");
            result = r.CloseKey();
            break;
        case CHostRegistryService::kSetText:
            r.OpenKey(2, "K");
            result = r.SetText("v", "new");
            break;
        case CHostRegistryService::kGetText:
            r.OpenKey(2, "K");
            result = r.GetText("v", &text);
            break;
        case CHostRegistryService::kSetBinary:
            r.OpenKey(2, "K");
            result = r.SetBinary("b", &byte, 1);
            break;
        case CHostRegistryService::kGetBinary:
            r.OpenKey(2, "K");
            result = r.GetBinary("b", nullptr, 0, &size);
            break;
        case CHostRegistryService::kCommit:
            result = r.Commit(2);
            break;
        }
        EXPECT_EQ(result, 0x1234u) << entry;
        r.ClearFailures();
        while (r.OpenKeys() > 0)
            r.CloseKey();
    }
    EXPECT_EQ(r.Text("K", "v"), std::optional<std::string>("stored")) << "a failing write changes nothing";
    EXPECT_EQ(r.Binary("K", "b"), std::nullopt);
    EXPECT_EQ(r.Commits(), 0);
}

} // namespace

namespace {

using HostDesignItems = HostTest;

TEST_F(HostDesignItems, PageRecordsAreItemsAndAttachedRecordsAreEntriesOfTheirItem) {
    m_host->AddItem(Item(6));
    CKvwInputData layout, page;
    layout.kind = page.kind = 0x1400;
    page.flags = kKvwDesignPageFlag;
    page.value = 2;
    page.name = "page2";
    page.width = 46337;
    page.height = 65535;
    const KvwItemId item = 6;
    for (CKvwInputData* record : {&page, &layout}) {
        ASSERT_EQ(m_host->Records().OnRequest(KvwRecordRequest::kCreate,
                                              {0, 0, reinterpret_cast<KvwWord>(record), 1, 0x93}),
                  kKvwOk);
        ASSERT_EQ(m_host->Records().OnRequest(
                      KvwRecordRequest::kAttach,
                      {KvwItemIdLow(item), KvwItemIdHigh(item), reinterpret_cast<KvwWord>(record), 1, 0x20}),
                  kKvwOk);
    }
    CKvwItemData data;
    ASSERT_EQ(m_host->Items().GetItemData(6, 0, &data, 0), kKvwOk);
    ASSERT_EQ(data.entries.size(), 2u);
    EXPECT_EQ(data.entries[0].flags, 0u) << "a page is not the item's layout";
    EXPECT_EQ(data.entries[1].id, layout.id);
    EXPECT_EQ(data.entries[1].flags, kKvwItemEntryLayout);
    for (DWORD selector : {0x80u, kKvwSourceRecordFields}) {
        CKvwSourceData source;
        ASSERT_EQ(
            m_host->Items().GetSourceData(KvwItemIdLow(page.id), KvwItemIdHigh(page.id), &source, selector),
            kKvwOk);
        EXPECT_EQ(source.type, 0x1400u);
        EXPECT_EQ(source.flags, kKvwDesignPageFlag);
        EXPECT_EQ(source.value, 2);
        EXPECT_EQ(source.name, "page2");
        EXPECT_EQ(source.width, 46337u);
        EXPECT_EQ(source.height, 65535u);
    }
}

} // namespace
