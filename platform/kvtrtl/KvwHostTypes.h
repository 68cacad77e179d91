// The words that pass between the host and its modules: the nine-word message shape in both directions,
// result words, message ids, record kinds, service codes and item ids.
#pragma once

#include "platform/win/wintypes.h"

#include <cstdint>
#include <vector>

// A message word. Numbers ride zero-extended; records and arrays ride as pointers.
using KvwWord = std::uintptr_t;

// 0 is success; 1 to 0xFFF are successes that carry information; 0x1000 and above are failures. Callers
// test with KvwSucceeded, never for equality with 0.
using KvwResult = DWORD;
constexpr KvwResult kKvwOk = 0;
constexpr KvwResult kKvwHandled = 1;
constexpr KvwResult kKvwQueued = 2;
constexpr KvwResult kKvwFirstFailure = 0x1000;
constexpr KvwResult kKvwCancelled = 0x1002;
constexpr KvwResult kKvwInvalidArgument = 0x1008; // also: no host
constexpr KvwResult kKvwNothingToWorkOn = 0x1101; // no usable selection or item
constexpr KvwResult kKvwBadPageRequest = 0x1103;

constexpr bool KvwSucceeded(KvwResult result) {
    return result < kKvwFirstFailure;
}

// How the host reaches a module, and a module the host: a message id and eight words.
using KvwHostCallback = KvwResult (*)(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5,
                                      KvwWord p6, KvwWord p7, KvwWord p8);

// Messages from the host to a module.
namespace KvwHostMessage {
constexpr DWORD kInformation = 0;
constexpr DWORD kCommand = 0x10000048;
constexpr DWORD kButtonBitmaps = 0x30000031;
constexpr DWORD kImageLoaded = 0x20000013;
constexpr DWORD kCurrentItem = 0x20000090;
constexpr DWORD kPreviewReady = 0x20000102;
constexpr DWORD kFullImageReady = 0x20000103;
constexpr DWORD kProgress = 0x20000201;
} // namespace KvwHostMessage
constexpr DWORD kKvwNotify_ImageLoaded = KvwHostMessage::kImageLoaded;

// Requests from a module to the host.
namespace KvwPluginRequest {
constexpr DWORD kUpdateSelection = 0x10000095;
constexpr DWORD kPreview = 0x10000102;
constexpr DWORD kFullImage = 0x10000103;
constexpr DWORD kMakeAvailable = 0x10000105;
constexpr DWORD kWriteImage = 0x10000111;
constexpr DWORD kStopWaiting = 0x10000012;
} // namespace KvwPluginRequest

// What a host module (a module with panes of its own) tells the host about itself.
namespace KvwModuleRequest {
constexpr DWORD kActions = 0x10000021;       // CKvwActionData
constexpr DWORD kAnnounce = 0x10000025;      // p7: whether the module can work on the current item
constexpr DWORD kExchangeValue = 0x10000027; // the value, sign-extended over p1 and p2
constexpr DWORD kMenu = 0x10000030;          // CKvwMenuData
constexpr DWORD kSubPanel = 0x10000050;      // CKvwSubPanelData array, count
constexpr DWORD kFunctions = 0x10000070;     // CKvwFunctionData array, count
constexpr DWORD kCommandUpdate = 0x10000077; // a command's state word, text or progress
} // namespace KvwModuleRequest

// Requests to the host's record database (record ids, like item ids, travel as two 32-bit halves).
namespace KvwRecordRequest {
constexpr DWORD kRead = 0x10000108;    // id; buffer; size in bytes
constexpr DWORD kReplace = 0x10000112; // id; data; size in bytes
constexpr DWORD kCreate = 0x10000081;  // 0; 0; CKvwInputData, whose id the host fills in
constexpr DWORD kAttach = 0x10000086;  // item id; CKvwInputData naming the record
constexpr DWORD kDetach = 0x10000087;  // item id; CKvwInputData naming the record
constexpr DWORD kDelete = 0x10000082;  // id
} // namespace KvwRecordRequest

// What the framework's requests carry in p8; its high half is the plug-ins' component kind.
constexpr DWORD kKvwFrameworkRequestTag = 0x20010002;

// Record kinds (p5 of a message that carries records in p3 and their count in p4).
constexpr DWORD kKvwRecordSize = 81;
constexpr DWORD kKvwRecordOutputData = 258;

// Host services, asked for by code.
namespace KvwService {
constexpr DWORD kImaging = 1;
constexpr DWORD kPanes = 2;
constexpr DWORD kWindows = 7;
constexpr DWORD kItems = 16;
constexpr DWORD kBrowse = 17;
constexpr DWORD kRegistry = 19;
} // namespace KvwService

// Item ids: 64 bits, which travel as p1 (low word) and p2 (high word).
using KvwItemId = ULONGLONG;
using KvwItemIdList = std::vector<KvwItemId>;

constexpr KvwItemId KvwMakeItemId(KvwWord low, KvwWord high) {
    return (static_cast<KvwItemId>(high & 0xFFFFFFFFu) << 32) | static_cast<KvwItemId>(low & 0xFFFFFFFFu);
}
constexpr DWORD KvwItemIdLow(KvwItemId id) {
    return static_cast<DWORD>(id & 0xFFFFFFFFu);
}
constexpr DWORD KvwItemIdHigh(KvwItemId id) {
    return static_cast<DWORD>(id >> 32);
}
// A group item: its high word holds both kind bits.
constexpr bool KvwIsGroupItem(KvwItemId id) {
    return (KvwItemIdHigh(id) & 0x02020000u) == 0x02020000u;
}
