// The design module's reader of preference records attached to a host item: the first byte says whether
// the record is of the preferences' kind, the rest is its data block.
#include "design_module/TKorvelDbPrefs.h"

#include "platform/host/CHostRecordDatabase.h"
#include "platform/host/CHostServices.h"

#include <cstddef>
#include <cstdint>

namespace {

CHostRecordDatabase* g_database = nullptr;

KvwResult Callback(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5, KvwWord p6,
                   KvwWord p7, KvwWord p8) {
    return g_database->OnRequest(id, {p1, p2, p3, p4, p5, p6, p7, p8});
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    constexpr KvwItemId kItem = 0x0202000000000001ull;
    CHostRecordDatabase database;
    g_database = &database;
    CHostItemService items;
    items.SetRecordDatabase(&database);
    const DWORD kind = data[0] == 0 ? TKorvelDbPrefs::kRecordKind : data[0];
    const KvwItemId id = database.Add({"key", kind, static_cast<LONG>(size), {data + 1, data + size}});
    database.Attach(kItem, id);

    TKorvelDbPrefs* prefs = new TKorvelDbPrefs;
    prefs->SetHost(&Callback, &items);
    prefs->SetItem(KvwItemIdLow(kItem), KvwItemIdHigh(kItem));
    TString text;
    prefs->GetString(L"key", text);
    BYTE* buffer = nullptr;
    DWORD length = 0;
    if (prefs->GetBinary(L"key", buffer, length))
        delete[] buffer;
    LONG value = 0;
    prefs->GetLong(L"key", &value);
    prefs->SetString(L"key", text);
    prefs->Release();
    g_database = nullptr;
    return 0;
}
