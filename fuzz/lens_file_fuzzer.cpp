// The lens file's reader over hostile bytes: a rejected file leaves no tables (or, under another id, the
// object as it was); an accepted one is exactly a whole record and writes back byte for byte.
#include "rawlib/settings/CKvLensInformation.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "lens file invariant broken: %s\n", what);
    std::abort();
}

// An object that holds tables already, so that what a rejected file leaves behind shows.
CKvLensInformation Loaded() {
    std::vector<double> ramp(CKvLensInformation::kTableLength);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<double>(i) / 4095.0;
    CKvLensInformation information;
    for (int t = 0; t < CKvLensInformation::kTableCount; ++t)
        information.SetTable(static_cast<CKvLensInformation::Table>(t), ramp.data());
    information.SetLensModel(0x11);
    return information;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > static_cast<std::size_t>(CKvLensInformation::kRecordSize) + 64)
        return 0; // longer files are refused by their length before they are read
    CKvLensInformation information = Loaded();
    const int result = information.ReadState(data, static_cast<int>(size));
    const bool ours = size >= 16 && std::memcmp(data, information.GetStateId(), 16) == 0;
    if (result == 0) {
        if (ours && (information.GetTable(CKvLensInformation::kTableA) || information.HasLensData()))
            Fail("a rejected lens file left tables behind");
        if (!ours && (!information.HasLensData() || information.GetLensModel() != 0x11))
            Fail("a record of another kind changed the object");
        return 0;
    }
    if (result != CKvLensInformation::kRecordSize || size != static_cast<std::size_t>(result))
        Fail("a lens file was accepted that is not exactly a whole record");
    if (!information.HasLensData() || !information.GetTable(CKvLensInformation::kTableD))
        Fail("an accepted lens file left a table out");
    std::vector<std::uint8_t> written(size);
    if (information.WriteState(written.data(), static_cast<int>(size)) != result)
        Fail("write and read disagree on the size");
    if (std::memcmp(written.data(), data, size) != 0)
        Fail("an accepted lens file does not write back byte for byte");
    CKvLensInformation copy;
    copy = information;
    for (int t = 0; t < CKvLensInformation::kTableCount; ++t) {
        const auto table = static_cast<CKvLensInformation::Table>(t);
        if (std::memcmp(copy.GetTable(table), information.GetTable(table),
                        sizeof(double) * CKvLensInformation::kTableLength) != 0)
            Fail("assignment did not copy a table whole");
    }
    return 0;
}
