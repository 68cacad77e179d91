// The document library's LDF reader over hostile bytes. Beyond "no crash, no undefined behaviour": an
// accepted document can be walked page by page and item by item and its properties read; what it saves
// reads back, and saving that again gives the very same bytes.
#include "platform/dadadud/CDocDocument.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "LDF invariant broken: %s\n", what);
    std::abort();
}

const wchar_t* const kPaths[] = {L"@id",
                                 L"@cx",
                                 L"@cy",
                                 L"@kind",
                                 L"bounding-box/@x",
                                 L"bounding-box/@cx",
                                 L"content/image[@refType='NUID']",
                                 L"count(item)",
                                 L"item[metadata/property[@name = 'kind' and text() = 'UI_Helper']][1]/@id"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::shared_ptr<CDocDocument> document = CDocDocument::Parse(data, size);
    if (!document)
        return 0;
    std::vector<std::uint8_t> saved;
    {
        std::lock_guard<std::mutex> guard(document->Lock());
        const LONG pages = CDocDocument::CountChildren(document->Root(), "page");
        for (LONG p = 0; p < pages && p < 64; ++p) {
            xmlNodePtr page = CDocDocument::Child(document->Root(), "page", p);
            if (!page)
                Fail("a counted page cannot be found");
            for (const wchar_t* path : kPaths)
                document->Evaluate(page, path);
            const LONG items = CDocDocument::CountChildren(page, "item");
            for (LONG i = 0; i < items && i < 64; ++i) {
                xmlNodePtr item = CDocDocument::Child(page, "item", i);
                if (!item)
                    Fail("a counted item cannot be found");
                for (const wchar_t* path : kPaths)
                    document->Evaluate(item, path);
            }
        }
        if (!document->Serialize(saved))
            Fail("an accepted document cannot be saved");
    }
    std::shared_ptr<CDocDocument> reloaded = CDocDocument::Parse(saved.data(), saved.size());
    if (!reloaded)
        Fail("a saved document is refused");
    std::vector<std::uint8_t> again;
    if (!reloaded->Serialize(again) || again != saved)
        Fail("a reloaded document saves differently");
    return 0;
}
