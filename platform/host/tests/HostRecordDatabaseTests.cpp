#include "platform/host/CHostRecordDatabase.h"
#include "platform/host/CScriptedHost.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

constexpr KvwItemId kItem = 0x0202000000000003ull;

std::array<KvwWord, 8> Words(KvwItemId id, const void* pointer = nullptr, KvwWord size = 0) {
    return {KvwItemIdLow(id), KvwItemIdHigh(id), reinterpret_cast<KvwWord>(pointer), size, 0, 0, 0, 0};
}

TEST(HostRecordDatabase, CreatesAttachesReadsReplacesDetachesAndDeletes) {
    CHostRecordDatabase database;
    const std::vector<BYTE> bytes = {1, 2, 3};
    CKvwInputData input;
    input.name = "name";
    input.kind = 0x1600;
    input.value = -3;
    input.data = bytes.data();
    input.dataLength = 3;
    ASSERT_EQ(database.OnRequest(KvwRecordRequest::kCreate, Words(0, &input)), kKvwOk);
    ASSERT_NE(input.id, 0u) << "the host fills in the id";
    ASSERT_EQ(database.OnRequest(KvwRecordRequest::kAttach, Words(kItem, &input)), kKvwOk);

    CKvwInputData second = input;
    ASSERT_EQ(database.OnRequest(KvwRecordRequest::kCreate, Words(0, &second)), kKvwOk);
    ASSERT_EQ(database.OnRequest(KvwRecordRequest::kAttach, Words(kItem, &second)), kKvwOk);
    EXPECT_EQ(database.Attached(kItem), (KvwItemIdList{input.id, second.id})) << "in the order attached";

    CKvwSourceData fields;
    ASSERT_EQ(database.GetSourceData(input.id, &fields, kKvwSourceRecordFields), kKvwOk);
    EXPECT_EQ(fields.name, "name");
    EXPECT_EQ(fields.kind, 0x1600u);
    EXPECT_EQ(fields.value, -3);
    EXPECT_EQ(fields.dataLength, 3u);

    std::array<BYTE, 3> read{};
    EXPECT_EQ(database.OnRequest(KvwRecordRequest::kRead, Words(input.id, read.data(), 2)),
              kKvwInvalidArgument)
        << "a short buffer";
    EXPECT_EQ(read, (std::array<BYTE, 3>{})) << "nothing copied into a short buffer";
    ASSERT_EQ(database.OnRequest(KvwRecordRequest::kRead, Words(input.id, read.data(), 3)), kKvwOk);
    EXPECT_EQ(read, (std::array<BYTE, 3>{1, 2, 3}));

    const BYTE replacement = 7;
    ASSERT_EQ(database.OnRequest(KvwRecordRequest::kReplace, Words(input.id, &replacement, 1)), kKvwOk);
    ASSERT_EQ(database.GetSourceData(input.id, &fields, kKvwSourceRecordFields), kKvwOk);
    EXPECT_EQ(fields.dataLength, 1u);

    ASSERT_EQ(database.OnRequest(KvwRecordRequest::kDetach, Words(kItem, &input)), kKvwOk);
    EXPECT_EQ(database.Attached(kItem), KvwItemIdList{second.id});
    EXPECT_EQ(database.OnRequest(KvwRecordRequest::kDetach, Words(kItem, &input)), kKvwNothingToWorkOn);
    ASSERT_EQ(database.OnRequest(KvwRecordRequest::kDelete, Words(second.id)), kKvwOk);
    EXPECT_TRUE(database.Attached(kItem).empty()) << "a deleted record leaves every list";
    EXPECT_EQ(database.RecordCount(), 1u);
}

TEST(HostRecordDatabase, BadRequestsAreRefusedAndChangeNothing) {
    CHostRecordDatabase database;
    const KvwItemId id = database.Add({"r", 0x1600, 0, {5, 6}});
    CKvwInputData unknown;
    unknown.id = 0x77;
    CKvwInputData dataless;
    dataless.dataLength = 4;
    BYTE byte = 0;
    struct Case {
        const char* what;
        DWORD request;
        std::array<KvwWord, 8> words;
        KvwResult expected;
    };
    const std::vector<Case> cases = {
        {"read of an unknown record", KvwRecordRequest::kRead, Words(0x77, &byte, 1), kKvwNothingToWorkOn},
        {"read into no buffer", KvwRecordRequest::kRead, Words(id, nullptr, 2), kKvwInvalidArgument},
        {"replace from no data", KvwRecordRequest::kReplace, Words(id, nullptr, 2), kKvwInvalidArgument},
        {"create from no record", KvwRecordRequest::kCreate, Words(0), kKvwInvalidArgument},
        {"create with a length and no data", KvwRecordRequest::kCreate, Words(0, &dataless),
         kKvwInvalidArgument},
        {"attach of an unknown record", KvwRecordRequest::kAttach, Words(kItem, &unknown),
         kKvwNothingToWorkOn},
        {"attach of no record", KvwRecordRequest::kAttach, Words(kItem), kKvwInvalidArgument},
        {"delete of an unknown record", KvwRecordRequest::kDelete, Words(0x77), kKvwNothingToWorkOn},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(database.OnRequest(c.request, c.words), c.expected);
    }
    EXPECT_EQ(database.RecordCount(), 1u);
    EXPECT_TRUE(database.Attached(kItem).empty());
    CHostRecordDatabase::Record record;
    ASSERT_TRUE(database.Find(id, &record));
    EXPECT_EQ(record.data, (std::vector<BYTE>{5, 6}));

    database.Withhold(KvwRecordRequest::kRead, 0x1101);
    std::array<BYTE, 2> read{};
    EXPECT_EQ(database.OnRequest(KvwRecordRequest::kRead, Words(id, read.data(), 2)), 0x1101u);
    database.Restore();
    EXPECT_EQ(database.OnRequest(KvwRecordRequest::kRead, Words(id, read.data(), 2)), kKvwOk);
}

TEST(HostRecordDatabase, TheScriptedHostAnswersRecordRequestsAndLookups) {
    CScriptedHost host;
    const KvwItemId id = host.Records().Add({"key", 0x1600, 9, {}});
    host.Records().Attach(kItem, id);
    CKvwSourceData list;
    ASSERT_EQ(
        host.Items().GetSourceData(KvwItemIdLow(kItem), KvwItemIdHigh(kItem), &list, kKvwSourceRecordList),
        kKvwOk);
    EXPECT_EQ(list.records, KvwItemIdList{id});
    CKvwSourceData fields;
    ASSERT_EQ(
        host.Items().GetSourceData(KvwItemIdLow(id), KvwItemIdHigh(id), &fields, kKvwSourceRecordFields),
        kKvwOk);
    EXPECT_EQ(fields.value, 9);
    EXPECT_EQ(host.Items().GetSourceData(0x55, 0, &fields, kKvwSourceRecordFields), kKvwNothingToWorkOn)
        << "an id the database does not know is an item";
}

} // namespace
