#include "KvTestPlugin.h"

#include <cstring>
#include <deque>
#include <map>
#include <string>

namespace {

struct State {
    std::string log;
    std::map<std::string, std::int32_t> controls;
    std::map<std::string, std::int32_t> facts;
    std::deque<std::int32_t> answers;
};

State& TheState() {
    static State state;
    return state;
}

std::uint8_t* SampleAddress(void* base, std::int32_t rowBytes, std::int32_t dx, std::int32_t dy,
                            std::int32_t samplesPerPixel, int sample, int bytes) {
    return static_cast<std::uint8_t*>(base) + static_cast<std::ptrdiff_t>(dy) * rowBytes +
           (static_cast<std::ptrdiff_t>(dx) * samplesPerPixel + sample) * bytes;
}

} // namespace

// What a test reads and sets in the library.
KV_PLUGIN_EXPORT const char* KvTestPluginLog() {
    return TheState().log.c_str();
}

KV_PLUGIN_EXPORT void KvTestPluginSetControl(const char* name, std::int32_t value) {
    TheState().controls[name] = value;
}

KV_PLUGIN_EXPORT std::int32_t KvTestPluginGetFact(const char* name) {
    const auto& facts = TheState().facts;
    const auto it = facts.find(name);
    return it == facts.end() ? 0 : it->second;
}

KV_PLUGIN_EXPORT void KvTestPluginQueueAnswer(std::int32_t answer) {
    TheState().answers.push_back(answer);
}

KV_PLUGIN_EXPORT void KvTestPluginReset() {
    TheState() = State();
}

namespace KvTestPlugin {

void Enter(std::int16_t selector) {
    std::string& log = TheState().log;
    if (!log.empty())
        log += ' ';
    log += std::to_string(selector);
}

std::int32_t Control(const char* name) {
    const auto& controls = TheState().controls;
    const auto it = controls.find(name);
    return it == controls.end() ? 0 : it->second;
}

void SetFact(const char* name, std::int32_t value) {
    TheState().facts[name] = value;
}

void AddFact(const char* name, std::int32_t amount) {
    TheState().facts[name] += amount;
}

bool NextAnswer(std::int32_t* answer) {
    auto& answers = TheState().answers;
    if (answers.empty())
        return false;
    *answer = answers.front();
    answers.pop_front();
    return true;
}

void SetErrorText(KvFilterRecord& record, const char* text) {
    if (!record.errorString)
        return;
    const std::size_t length = std::min<std::size_t>(std::strlen(text), KvPlugin::kErrorStringLength);
    record.errorString[0] = static_cast<std::uint8_t>(length);
    std::memcpy(record.errorString + 1, text, length);
}

int BytesPerSample(const KvFilterRecord& record) {
    return record.depth / 8;
}

std::uint32_t InSample(const KvFilterRecord& record, std::int32_t x, std::int32_t y, int plane) {
    const int bytes = BytesPerSample(record);
    const std::uint8_t* p =
        SampleAddress(record.inData, record.inRowBytes, x - record.inRect.left, y - record.inRect.top,
                      record.inHiPlane - record.inLoPlane + 1, plane - record.inLoPlane, bytes);
    if (bytes == 1)
        return *p;
    std::uint16_t value;
    std::memcpy(&value, p, 2);
    return value;
}

void SetOutSample(const KvFilterRecord& record, std::int32_t x, std::int32_t y, int plane,
                  std::uint32_t value) {
    const int bytes = BytesPerSample(record);
    const int index = plane - record.outLoPlane;
    std::uint8_t* p;
    if (record.planarOutput)
        p = SampleAddress(record.outData, record.outRowBytes, x - record.outRect.left, y - record.outRect.top,
                          1, 0, bytes) +
            static_cast<std::ptrdiff_t>(index) * record.outPlaneBytes;
    else
        p = SampleAddress(record.outData, record.outRowBytes, x - record.outRect.left, y - record.outRect.top,
                          record.planes, index, bytes);
    if (bytes == 1) {
        *p = static_cast<std::uint8_t>(value);
    } else {
        const auto word = static_cast<std::uint16_t>(value);
        std::memcpy(p, &word, 2);
    }
}

std::uint32_t MaxSample(const KvFilterRecord& record) {
    return record.depth == 16 ? 65535u : 255u;
}

bool ParameterWord(const KvFilterRecord& record, std::int32_t* value) {
    const KvHandleSuite& suite = *record.handleSuite;
    if (!record.parameters || suite.getSize(record.parameters) < 4)
        return false;
    std::memcpy(value, suite.lock(record.parameters, 0), 4);
    return true;
}

void InvertOutput(const KvFilterRecord& record) {
    const std::uint32_t max = MaxSample(record);
    for (std::int32_t y = record.outRect.top; y < record.outRect.bottom; ++y)
        for (std::int32_t x = record.outRect.left; x < record.outRect.right; ++x)
            for (int p = record.outLoPlane; p <= record.outHiPlane; ++p)
                SetOutSample(record, x, y, p, max - InSample(record, x, y, p));
}

} // namespace KvTestPlugin
