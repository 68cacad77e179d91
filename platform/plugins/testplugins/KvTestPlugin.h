// What the test plug-ins share: the entry point that logs every selector before the plug-in handles it,
// the controls a test sets and the facts a plug-in reports (both by name), scripted dialog answers, and
// sample access in the record's buffers. A test reaches them through the library's exported
// KvTestPlugin... functions (see KvTestPluginAccess.h in the tests).
#pragma once

#include "platform/plugins/KvFilterPlugin.h"

#include <cstdint>

#define KV_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

// The plug-in's own handling of every selector but kSelectorAbout, which every test plug-in answers
// with success.
std::int16_t KvTestPluginHandle(std::int16_t selector, KvFilterRecord& record, std::intptr_t* data);

// Defines the library's entry point over KvTestPluginHandle.
#define KV_TEST_PLUGIN_ENTRY()                                                                               \
    KV_PLUGIN_EXPORT void ENTRYPOINT(std::int16_t selector, void* record, std::intptr_t* data,               \
                                     std::int16_t* result) {                                                 \
        KvTestPlugin::Enter(selector);                                                                       \
        *result = selector == KvPlugin::kSelectorAbout                                                       \
                      ? KvPlugin::kNoError                                                                   \
                      : KvTestPluginHandle(selector, *static_cast<KvFilterRecord*>(record), data);           \
    }

namespace KvTestPlugin {

void Enter(std::int16_t selector);

// A control the test set (0 when it set none).
std::int32_t Control(const char* name);
void SetFact(const char* name, std::int32_t value);
void AddFact(const char* name, std::int32_t amount = 1);
// The next scripted dialog answer; false when the script is used up (the user closed the dialog).
bool NextAnswer(std::int32_t* answer);

// Puts text into the record's error string.
void SetErrorText(KvFilterRecord& record, const char* text);

int BytesPerSample(const KvFilterRecord& record);
// The sample of the image pixel (x, y) and plane in inData / outData; the pixel must lie in inRect /
// outRect and the plane in the requested range.
std::uint32_t InSample(const KvFilterRecord& record, std::int32_t x, std::int32_t y, int plane);
void SetOutSample(const KvFilterRecord& record, std::int32_t x, std::int32_t y, int plane,
                  std::uint32_t value);
std::uint32_t MaxSample(const KvFilterRecord& record);

// The first four bytes of the parameter block; false when there is no block that long.
bool ParameterWord(const KvFilterRecord& record, std::int32_t* value);
// Writes every sample of outRect as the largest sample less the input sample.
void InvertOutput(const KvFilterRecord& record);

} // namespace KvTestPlugin
