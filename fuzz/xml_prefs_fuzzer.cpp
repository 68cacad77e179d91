// The XML library of preference files over hostile bytes. Beyond "no crash, no undefined behaviour": an
// accepted document answers reads, takes a write, saves, and what it saves parses again with the written
// value and saves to the very same bytes.
#include "platform/davuzozi/CUtlXmlDocument.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "XML preference invariant broken: %s\n", what);
    std::abort();
}

const wchar_t* const kReads[] = {L"print/margin", L"count(*)",    L"*[1]",      L"layout[2]/@name",
                                 L"string(.)",    L"//*[last()]", L"sum(//@*)", L"no/such/node"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::unique_ptr<CUtlXmlDocument> document = CUtlXmlDocument::Parse(data, size);
    if (!document)
        return 0;
    for (const wchar_t* key : kReads)
        document->GetValue(key);
    // An element in a namespace is not found by a plain name, so only documents without one promise to
    // read back what was written.
    const std::optional<std::wstring> namespaced = document->GetValue(L"count(//*[namespace-uri() != ''])");
    const bool plain = namespaced && *namespaced == L"0";
    const bool written = document->SetValue(L"fuzz/written[1]/@value", L"\u00e9 & <x>");
    if (plain && !written)
        Fail("an accepted document refuses a new element");
    std::vector<std::uint8_t> saved;
    if (!document->Serialize(saved))
        Fail("an accepted document cannot be saved");
    std::unique_ptr<CUtlXmlDocument> reloaded = CUtlXmlDocument::Parse(saved.data(), saved.size());
    if (!reloaded)
        Fail("a saved document is refused");
    const std::optional<std::wstring> value = reloaded->GetValue(L"fuzz/written[1]/@value");
    if (plain && (!value || *value != L"\u00e9 & <x>"))
        Fail("a written value reads back differently");
    std::vector<std::uint8_t> again;
    if (!reloaded->Serialize(again) || again != saved)
        Fail("a reloaded document saves differently");
    return 0;
}
