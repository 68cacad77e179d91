// The camera tone curve over a hostile tone-curve tag: the curve group decoded from it shapes the
// fallback curve at both table widths. Beyond "no crash, no undefined behaviour": the routine always
// answers with a whole table, and an undecodable tag gives exactly the fallback curve.
#include "platform/quasel/CPravonTagControl.h"
#include "rawlib/settings/ImageProperties.h"
#include "rawlib/settings/KvToneCurves.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "camera tone curve invariant broken: %s\n", what);
    std::abort();
}

constexpr WORD kSetAModel = 259;
constexpr WORD kSetBModel = 514;
constexpr WORD kUntouched = 0x5A5A;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kCameraToneCurveSize)
        return 0;
    // The tag always has its full size, so the decoder sees every input.
    std::vector<BYTE> tag(kCameraToneCurveSize, 0);
    std::copy(data, data + size, tag.begin());
    auto* control = new CPravonTagControl();
    const PravonTagControlPtr owner(control);
    if (PravonErrorPtr(control->WriteTag(kCameraToneCurveTag, 1, kCameraToneCurveSize, tag.data())))
        Fail("the tag cannot be stored");
    for (WORD model : {kSetAModel, kSetBModel}) {
        control->SetCameraModel(model);
        ImageProperties properties;
        properties.tagControl = control;
        properties.cameraModelCode = model;
        for (int bits : {12, 16}) {
            std::vector<WORD> table((std::size_t{1} << bits) + 1, kUntouched);
            if (!BuildCameraToneCurve(&properties, table.data(), bits))
                Fail("a 12- or 16-bit table was refused");
            if (table.back() != kUntouched)
                Fail("written past the table");
        }
    }
    return 0;
}
