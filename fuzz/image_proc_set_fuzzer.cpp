// The aggregate settings reader over hostile bytes, with every record it can reach. Beyond "no crash, no
// undefined behaviour": it never consumes more than it was given, and what it read writes a blob that
// reads back to the same bytes (the size state aside).
#include "FuzzPluginTable.h"

#include "rawlib/settings/tests/AllSettings.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "aggregate settings invariant broken: %s\n", what);
    std::abort();
}

constexpr LONG kWidth = 3008;
constexpr LONG kHeight = 2000;

// Reads `bytes` into fresh settings and writes them again, the size state aside: it is fitted to the
// picture as it is read.
std::vector<BYTE> ReadAndWrite(const BYTE* bytes, int size, int* consumed) {
    kvtest::AllSettings settings;
    CKvImageProcSet set;
    settings.Attach(set);
    // A version-1 blob's gains are read only with their scales set.
    set.version1RedScale = 1.0;
    set.version1BlueScale = 1.0;
    *consumed = set.ReadFromTag(bytes, size, kWidth, kHeight);
    if (*consumed < 0 || *consumed > size)
        Fail("consumed outside the input");
    set.recordMask = ~CKvImageProcSet::kSizeRes;
    const int written = set.GetStateSize();
    std::vector<BYTE> blob(static_cast<std::size_t>(written));
    if (set.WriteState(blob.data(), written) != written)
        Fail("write and size query disagree");
    return blob;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool installed = (InstallFuzzPlugins(), true);
    (void)installed;
    if (size > (1u << 20))
        return 0;
    int consumed = 0;
    std::vector<BYTE> blob = ReadAndWrite(data, static_cast<int>(size), &consumed);
    if (consumed == 0)
        return 0;
    // Curves of an older shape are rebuilt by a version-2 read, whole at once; past that, a written blob
    // reads back to itself.
    constexpr int kSettlingRounds = 1;
    for (int round = 0;; ++round) {
        const std::vector<BYTE> again = ReadAndWrite(blob.data(), static_cast<int>(blob.size()), &consumed);
        if (consumed != static_cast<int>(blob.size()))
            Fail("a written blob does not read back whole");
        if (again == blob)
            break;
        if (round == kSettlingRounds)
            Fail("rewriting a read blob keeps changing its bytes");
        blob = again;
    }
    return 0;
}
