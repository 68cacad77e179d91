// Every settings-record reader over hostile bytes. Beyond "no crash, no undefined behaviour": a refused
// record leaves the object unchanged, and an accepted one writes a record that reads back to the same
// bytes.
#include "SettingsRecordKinds.h"

#include "rawlib/settings/CKvBrightness.h"
#include "rawlib/settings/CKvChromaBooster.h"
#include "rawlib/settings/CKvExposureAdjustment.h"
#include "rawlib/settings/CKvLEGeneral.h"
#include "rawlib/settings/CKvWBAdjustment.h"
#include "rawlib/settings/KvColorTemperature.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "settings record invariant broken: %s\n", what);
    std::abort();
}

template <class T>
std::vector<BYTE> Write(T& object) {
    const int size = object.GetStateSize();
    if (size < 22)
        Fail("record smaller than its header");
    std::vector<BYTE> bytes(static_cast<std::size_t>(size));
    if (object.WriteState(bytes.data(), size) != size)
        Fail("write and size query disagree");
    return bytes;
}

// Reads the input into a default object and into one that already holds settings, then checks what
// the record class promises.
template <class T>
void Probe(const BYTE* data, int size, void (*check)(const T&) = nullptr) {
    T fresh;
    const T before = fresh;
    const int result = fresh.ReadState(data, size);
    if (result < 0)
        Fail("negative result");
    if (result == 0) {
        if (!(fresh == before))
            Fail("a refused record changed the object");
        return;
    }
    if (check)
        check(fresh);

    const std::vector<BYTE> first = Write(fresh);
    T again;
    if (again.ReadState(first.data(), static_cast<int>(first.size())) != static_cast<int>(first.size()))
        Fail("a written record does not read back whole");
    if (Write(again) != first)
        Fail("rewriting a read record changes its bytes");

    // The reader starts from defaults, so what the object held before cannot show through.
    if (again.ReadState(data, size) != result || Write(again) != first)
        Fail("the result depends on what the object held");
}

void CheckGains(const CKvWBAdjustment& wb) {
    for (WORD model : {259, 260, 513, 514, 515, 516, 1025, 1026}) {
        double red = 0.0, blue = 0.0;
        KvColorTemperatureToGains(wb.GetPreset(), wb.GetTemperature(), &red, &blue, model);
        if (!std::isfinite(red) || !std::isfinite(blue))
            Fail("gains are not finite");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const auto kind =
        static_cast<SettingsRecordKind>(data[0] % static_cast<BYTE>(SettingsRecordKind::kCount));
    // The record is copied into a block of its exact size, so a read past its end is caught.
    const std::vector<BYTE> record(data + 1, data + size);
    const BYTE* bytes = record.empty() ? nullptr : record.data();
    const int length = record.size() > INT_MAX ? INT_MAX : static_cast<int>(record.size());
    switch (kind) {
    case SettingsRecordKind::kBrightness:
        Probe<CKvBrightness>(bytes, length);
        break;
    case SettingsRecordKind::kExposureAdjustment:
        Probe<CKvExposureAdjustment>(bytes, length);
        break;
    case SettingsRecordKind::kChromaBooster:
        Probe<CKvChromaBooster>(bytes, length);
        break;
    case SettingsRecordKind::kLEGeneral:
        Probe<CKvLEGeneral>(bytes, length);
        break;
    case SettingsRecordKind::kWBAdjustment:
        Probe<CKvWBAdjustment>(bytes, length, CheckGains);
        break;
    case SettingsRecordKind::kCount:
        break;
    }
    return 0;
}
