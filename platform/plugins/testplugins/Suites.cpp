// Exercises the host's suites and passes its input through. Its run step grows a handle from a few bytes
// to megabytes and back, checking after every resize that the handle still reaches its bytes and reports
// the size asked for; hands out, frees and re-allocates buffers; asks for free space and colour services.
// Its process step asks the host to draw its input. Its finish step grows its parameter block by four
// bytes (a run counter), so every run leaves a longer block. Each check reports a fact.
#include "KvTestPlugin.h"

#include <cstring>
#include <vector>

using namespace KvPlugin;

namespace {

bool Holds(const KvHandleSuite& s, KvHandle h, std::int32_t size, std::int32_t pattern) {
    if (s.getSize(h) != size)
        return false;
    const auto* bytes = static_cast<const std::uint8_t*>(s.lock(h, 0));
    if (!bytes)
        return false;
    for (std::int32_t i = 0; i < std::min(size, pattern); ++i)
        if (bytes[i] != static_cast<std::uint8_t>(i * 7 + 1))
            return false;
    return true;
}

void Fill(const KvHandleSuite& s, KvHandle h, std::int32_t from, std::int32_t to) {
    auto* bytes = static_cast<std::uint8_t*>(s.lock(h, 0));
    for (std::int32_t i = from; i < to; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
}

bool CheckHandles(const KvHandleSuite& s) {
    KvHandle h = s.newHandle(16);
    if (!h)
        return false;
    Fill(s, h, 0, 16);
    bool ok = Holds(s, h, 16, 16);
    std::int32_t filled = 16;
    for (std::int32_t size : {1 << 10, 1 << 20, 4 << 20, 64, 8}) {
        ok = ok && s.setSize(h, size) == kNoError && Holds(s, h, size, std::min(filled, size));
        if (ok && size > filled) {
            Fill(s, h, filled, size);
            filled = size;
        }
        filled = std::min(filled, size);
    }
    // A size the host refuses leaves the handle as it was.
    ok = ok && s.setSize(h, -1) != kNoError && Holds(s, h, 8, 8);
    s.dispose(h);
    return ok;
}

bool CheckBuffers(const KvBufferSuite& s) {
    KvBufferId ids[3] = {-1, -1, -1};
    for (int i = 0; i < 3; ++i)
        if (s.allocate(100 * (i + 1), &ids[i]) != kNoError || ids[i] != i)
            return false;
    s.free(ids[0]);
    KvBufferId again = -1;
    bool ok = s.allocate(50, &again) == kNoError && again == 0;
    KvTestPlugin::SetFact("reused-id", again);
    auto* bytes = static_cast<std::uint8_t*>(s.lock(again, 0));
    ok = ok && bytes != nullptr;
    if (bytes)
        std::memset(bytes, 0xAB, 50);
    s.unlock(again);
    // Ids the host never gave out hold nothing.
    ok = ok && s.lock(99, 0) == nullptr && s.lock(-1, 0) == nullptr;
    s.unlock(99);
    s.free(99);
    s.free(-5);
    ok = ok && s.space() > 0;
    for (KvBufferId id : {again, ids[1], ids[2]})
        s.free(id);
    return ok;
}

bool CheckColorServices(const KvFilterRecord& r) {
    KvColorServicesInfo same{sizeof(KvColorServicesInfo), kColorServicesConvert, 3, 3, {}};
    KvColorServicesInfo other{sizeof(KvColorServicesInfo), kColorServicesConvert, 3, 1, {}};
    KvColorServicesInfo notConvert{sizeof(KvColorServicesInfo), 2, 3, 1, {}};
    return r.colorServices(&same) == kNoError && r.colorServices(&other) == kErrParameter &&
           r.colorServices(&notConvert) == kNoError;
}

// Draws the 8-bit input, asking for a rectangle that reaches beyond it on every side.
void Display(const KvFilterRecord& r) {
    if (r.depth != 8 || (r.planes != 1 && r.planes != 3) || r.inHiPlane - r.inLoPlane + 1 != r.planes)
        return;
    const KvPixelMap map{1, r.inRect, r.planes == 1 ? kModeGrey : kModeRGB, r.inRowBytes, r.planes,
                         1, r.inData};
    const KvPluginRect wide{r.inRect.left - 3, r.inRect.top - 2, r.inRect.right + 5, r.inRect.bottom + 1};
    static int context;
    KvTestPlugin::SetFact("display", r.displayPixels(&map, &wide, 7, 9, &context) + 1);
}

// With the control "rate" (a whole factor) asks for its input scaled down by it and reports the sum of
// the first plane's samples it got.
void ReadScaled(KvFilterRecord& r, std::int32_t rate) {
    const KvPluginRect saved = r.inRect;
    r.inRect = {0, 0, (r.imageWidth + rate - 1) / rate, (r.imageHeight + rate - 1) / rate};
    r.inLoPlane = r.inHiPlane = 0;
    r.inputRate = rate * kFixedOne;
    KvTestPlugin::SetFact("scaled-result", r.advanceState());
    std::int32_t sum = 0;
    for (std::int32_t y = r.inRect.top; y < r.inRect.bottom; ++y)
        for (std::int32_t x = r.inRect.left; x < r.inRect.right; ++x)
            sum += static_cast<std::int32_t>(KvTestPlugin::InSample(r, x, y, 0));
    KvTestPlugin::SetFact("scaled-sum", sum);
    r.inRect = saved;
}

void GrowParameters(KvFilterRecord& r) {
    const KvHandleSuite& s = *r.handleSuite;
    const std::int32_t size = r.parameters ? s.getSize(r.parameters) : 0;
    if (!r.parameters)
        r.parameters = s.newHandle(0);
    if (!r.parameters || s.setSize(r.parameters, size + 4) != kNoError)
        return;
    const std::int32_t counter = size / 4 + 1;
    std::memcpy(static_cast<std::uint8_t*>(s.lock(r.parameters, 0)) + size, &counter, 4);
}

} // namespace

KV_TEST_PLUGIN_ENTRY()

std::int16_t KvTestPluginHandle(std::int16_t selector, KvFilterRecord& r, std::intptr_t* data) {
    if (selector == kSelectorInitialize) {
        *data = 0x5EED;
    } else if (selector == kSelectorRun) {
        KvTestPlugin::SetFact("data-kept", *data == 0x5EED);
        KvTestPlugin::SetFact("handles-ok", CheckHandles(*r.handleSuite));
        KvTestPlugin::SetFact("buffers-ok", CheckBuffers(*r.bufferSuite));
        KvTestPlugin::SetFact("colour-ok", CheckColorServices(r));
        KvTestPlugin::SetFact("abort", r.abortProc());
        r.progressProc(1, 2);
        r.hostProc(0, data);
        r.processEvent(nullptr);
    } else if (selector == kSelectorProcess) {
        Display(r);
        if (const std::int32_t rate = KvTestPlugin::Control("rate"); rate > 1)
            ReadScaled(r, rate);
    } else if (selector == kSelectorFinish) {
        GrowParameters(r);
        KvTestPlugin::SetFact("parameter-size", r.handleSuite->getSize(r.parameters));
    }
    return kNoError;
}
