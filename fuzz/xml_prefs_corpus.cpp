// Writes the corpus of the XML preference target with the library's own writer: each document below is
// made from an empty one by the writes listed, and saved. Usage: xml_prefs_corpus <folder>.
#include "platform/davuzozi/davuzOzi.h"

#include "platform/win/utf16.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace {

// Longer than the first buffer a reader hands the library.
constexpr wchar_t kLongValue[] =
    L"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
    L"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
    L"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx";

const struct {
    const char* name;
    std::vector<std::pair<const wchar_t*, const wchar_t*>> writes;
} kDocuments[] = {
    {"empty", {}},
    {"print-options",
     {{L"print/margin", L"12"},
      {L"print/layout/@name", L"index"},
      {L"print/layout/rows", L"4"},
      {L"print/layout/cols", L"3"},
      {L"print/zoom", L"0.750000"}}},
    {"repeated", {{L"layout[1]/@name", L"first"}, {L"layout[2]/@name", L"second"}, {L"layout[3]", L"third"}}},
    {"texts",
     {{L"mail/subject", L"Gr\u00fc\u00dfe aus Z\u00fcrich \u65e5\u672c"},
      {L"mail/body", L"a < b & c > d \"quoted\" 'single'"},
      {L"mail/long", kLongValue}}},
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s folder\n", argv[0]);
        return 2;
    }
    const std::filesystem::path out = argv[1];
    std::filesystem::create_directories(out);
    if (utlStartup() != 1)
        return 1;
    int status = 0;
    for (const auto& document : kDocuments) {
        const std::filesystem::path path = out / (std::string(document.name) + ".xml");
        std::filesystem::remove(path);
        const std::wstring wide = Utf::Utf8ToWide(path.string());
        UtlHandle handle = kUtlNoHandle;
        bool ok = utlCreateXmlDoc(wide.c_str(), &handle) == 1;
        for (const auto& [key, value] : document.writes)
            ok = ok && utlSetXmlNodeValue(handle, key, value) == 1;
        ok = ok && utlSaveXmlDoc(handle, nullptr) == 1;
        if (handle != kUtlNoHandle)
            utlReleaseHandle(handle);
        if (!ok) {
            std::fprintf(stderr, "%s: not written\n", document.name);
            status = 1;
        }
    }
    utlShutdown();
    return status;
}
