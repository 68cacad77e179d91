// Writes the corpus of the design-preferences fuzz target from what the preferences themselves store:
// texts and binary blocks, each after a byte that says the record is of the preferences' kind (0) or of
// another (1). Usage: design_prefs_corpus <folder>.
#include "design_module/TKorvelDbPrefs.h"

#include "platform/host/CHostRecordDatabase.h"
#include "platform/host/CHostServices.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

CHostRecordDatabase* g_database = nullptr;

KvwResult Callback(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5, KvwWord p6,
                   KvwWord p7, KvwWord p8) {
    return g_database->OnRequest(id, {p1, p2, p3, p4, p5, p6, p7, p8});
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s folder\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder(argv[1]);
    std::filesystem::create_directories(folder);
    constexpr KvwItemId kItem = 0x0202000000000001ull;
    const wchar_t* texts[] = {L"", L"C:\\Layouts\\Album.ltf", L"/home/user/Caf\u00e9 \U0001F600.ltf"};
    int written = 0;
    for (const wchar_t* text : texts) {
        CHostRecordDatabase database;
        g_database = &database;
        CHostItemService items;
        items.SetRecordDatabase(&database);
        TKorvelDbPrefs* prefs = new TKorvelDbPrefs;
        prefs->SetHost(&Callback, &items);
        prefs->SetItem(KvwItemIdLow(kItem), KvwItemIdHigh(kItem));
        prefs->SetString(L"key", text);
        prefs->Release();
        CHostRecordDatabase::Record record;
        if (!database.Find(database.Attached(kItem).at(0), &record))
            return 1;
        for (char kindByte : {'\0', '\1'}) {
            std::ofstream out(folder / ("record-" + std::to_string(written++)), std::ios::binary);
            out.put(kindByte);
            out.write(reinterpret_cast<const char*>(record.data.data()),
                      static_cast<std::streamsize>(record.data.size()));
        }
    }
    std::printf("%d records in %s\n", written, folder.c_str());
    return 0;
}
