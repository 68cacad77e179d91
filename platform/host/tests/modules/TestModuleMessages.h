// The messages by which the host tests look inside the test modules. Ids outside the host's ranges.
#pragma once

#include "platform/kvtrtl/KvwHostTypes.h"

namespace TestModule {

// p1 = string id, p2 = where (0 the language library, 1 the module's own file, 2 the host program),
// p3 = wchar_t buffer, p4 = its size. 0 when found, 0x1101 when not.
constexpr DWORD kLoadString = 0x7E000001;
enum Source : KvwWord { kLanguageLibrary = 0, kOwnFile = 1, kHostProgram = 2 };
// p1, p2 = item id, p3 = request id (0x10000102 or 0x10000103): a request waits in the codec window and is
// sent to the host with the framework's words; the host's answer.
constexpr DWORD kRequestImage = 0x7E000002;
// p1, p2 = item id: how many waiters of the item were completed.
constexpr DWORD kCompletions = 0x7E000003;
// How many images the host reported loaded that no request took.
constexpr DWORD kImageLoadedNotices = 0x7E000004;
// p3 = KvwWord[3]: the addresses of the module's object manager and resource accessor, and its module.
constexpr DWORD kIdentity = 0x7E000005;
// p3 = HWND*: the module's codec window.
constexpr DWORD kCodecWindow = 0x7E000006;
// p3 = wchar_t buffer, p4 = its size: a unique file "probe.txt" claimed in the module's temporary folder.
constexpr DWORD kTempFile = 0x7E000007;
// p3 = KvwItemId*: the current group id.
constexpr DWORD kGroupId = 0x7E000008;
// Sends p1 as a request id with p2..p8 as its p1..p7 to the host; the host's answer.
constexpr DWORD kSendToHost = 0x7E000009;
// Bits: 1 the module holds an item service, 2 a browse service, 4 a host.
constexpr DWORD kServices = 0x7E00000A;
// Waiters still in the codec window.
constexpr DWORD kWaiters = 0x7E00000B;

} // namespace TestModule
