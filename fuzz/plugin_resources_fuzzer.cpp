// The readers of a filter plug-in's resources over hostile bytes. The first byte picks the reader (even:
// the property list, odd: the scripting description). Beyond "no crash, no read past the end": a refused
// list leaves the names as they were, and what a list gives reads back the same once written again.
#include "platform/plugins/KvFilterPlugin.h"
#include "platform/plugins/KvPluginResourceWriter.h"
#include "rawlib/filters/KvPluginResources.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "plug-in resource invariant broken: %s\n", what);
    std::abort();
}

void ProbePipl(const BYTE* bytes, std::size_t size) {
    KvPluginNames names{"unset name", "unset category"};
    if (!KvReadPluginPipl(bytes, size, &names)) {
        if (names.name != "unset name" || names.category != "unset category")
            Fail("a refused list changed the names");
        return;
    }
    if (names.name.size() > 255 || names.category.size() > 255)
        Fail("a text longer than its length byte can say");
    const KvPlugin::ResourceBytes again =
        KvPlugin::WritePipl({KvPlugin::PiplText(KvPlugin::kKeyName, names.name),
                             KvPlugin::PiplText(KvPlugin::kKeyCategory, names.category)});
    KvPluginNames reread;
    if (!KvReadPluginPipl(again.data(), again.size(), &reread) || reread.name != names.name ||
        reread.category != names.category)
        Fail("the names do not survive being written again");
}

void ProbeAete(const BYTE* bytes, std::size_t size) {
    const DWORD id = KvReadPluginAete(bytes, size);
    if (id == 0 || size == 0)
        return;
    // Only what leads to the first event counts: more bytes behind change nothing.
    std::vector<BYTE> longer(bytes, bytes + size);
    longer.resize(size + 64, 0xA5);
    if (KvReadPluginAete(longer.data(), longer.size()) != id)
        Fail("bytes behind the first event changed the scripting id");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    // A block of the resource's exact size, so that a read past its end is caught.
    const std::vector<BYTE> resource(data + 1, data + size);
    const BYTE* bytes = resource.empty() ? nullptr : resource.data();
    if (data[0] % 2 == 0)
        ProbePipl(bytes, resource.size());
    else
        ProbeAete(bytes, resource.size());
    return 0;
}
