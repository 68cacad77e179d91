// Region lists and the saved form of a region: "RRG1", a version, the box, the pixel count and a
// checksum of the bytes before it, all 32-bit little-endian (32 bytes).
#include "RedEyeInternal.h"

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>

namespace redeye {

namespace {

constexpr BYTE kMagic[4] = {'R', 'R', 'G', '1'};
constexpr DWORD kSavedVersion = 1;
constexpr DWORD kHeadBytes = 8;  // magic and version
constexpr DWORD kBodyBytes = 24; // box, pixel count, checksum
constexpr DWORD kSavedBytes = kHeadBytes + kBodyBytes;

bool IsEmpty(const ReList* list) {
    return !list->next || list->next == list;
}

RegionNode* NodeOfLink(const ReList* link) {
    return reinterpret_cast<RegionNode*>(reinterpret_cast<std::uintptr_t>(link) - offsetof(RegionNode, link));
}

void Unlink(RegionNode* node) {
    node->link.prev->next = node->link.next;
    node->link.next->prev = node->link.prev;
    node->link.next = node->link.prev = &node->link;
}

void PutWord(BYTE* at, DWORD value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<BYTE>(value >> (8 * i));
}

DWORD GetWord(const BYTE* at) {
    return static_cast<DWORD>(at[0]) | static_cast<DWORD>(at[1]) << 8 | static_cast<DWORD>(at[2]) << 16 |
           static_cast<DWORD>(at[3]) << 24;
}

// FNV-1a over the saved bytes before the checksum.
DWORD Checksum(const BYTE* bytes, std::size_t count) {
    DWORD hash = 2166136261u;
    for (std::size_t i = 0; i < count; ++i)
        hash = (hash ^ bytes[i]) * 16777619u;
    return hash;
}

void Encode(const RegionNode& node, BYTE (&bytes)[kSavedBytes]) {
    for (int i = 0; i < 4; ++i)
        bytes[i] = kMagic[i];
    PutWord(bytes + 4, kSavedVersion);
    PutWord(bytes + 8, static_cast<DWORD>(node.box.left));
    PutWord(bytes + 12, static_cast<DWORD>(node.box.top));
    PutWord(bytes + 16, static_cast<DWORD>(node.box.right));
    PutWord(bytes + 20, static_cast<DWORD>(node.box.bottom));
    PutWord(bytes + 24, node.pixelCount);
    PutWord(bytes + 28, Checksum(bytes, 28));
}

// RE_OK and the region's box and count when the bytes are a saved region of this library.
DWORD Decode(const BYTE (&bytes)[kSavedBytes], ReRegion& box, DWORD& pixelCount) {
    for (int i = 0; i < 4; ++i)
        if (bytes[i] != kMagic[i])
            return RE_E_BAD_REGION;
    if (GetWord(bytes + 4) != kSavedVersion || GetWord(bytes + 28) != Checksum(bytes, 28))
        return RE_E_BAD_REGION;
    box = {static_cast<LONG>(GetWord(bytes + 8)), static_cast<LONG>(GetWord(bytes + 12)),
           static_cast<LONG>(GetWord(bytes + 16)), static_cast<LONG>(GetWord(bytes + 20))};
    if (box.left > box.right || box.top > box.bottom)
        return RE_E_BAD_REGION;
    pixelCount = GetWord(bytes + 24);
    return RE_OK;
}

} // namespace

RegionNode* NodeOf(const ReRegion* region) {
    return reinterpret_cast<RegionNode*>(const_cast<ReRegion*>(region));
}

RegionNode* NewRegion(const ReRegion& box, DWORD pixelCount) {
    RegionNode* node = new (std::nothrow) RegionNode{box, {}, pixelCount};
    if (node)
        node->link.next = node->link.prev = &node->link;
    return node;
}

void FreeRegion(RegionNode* node) {
    delete node;
}

void Append(ReList* list, RegionNode* node) {
    if (!list->next)
        ReListInit(list);
    node->link.prev = list->prev;
    node->link.next = list;
    list->prev->next = &node->link;
    list->prev = &node->link;
}

std::size_t CountRegions(const ReList* list) {
    std::size_t count = 0;
    for (const ReRegion* r = ReListNext(list, nullptr); r; r = ReListNext(list, r))
        ++count;
    return count;
}

} // namespace redeye

using namespace redeye;

void ReListInit(ReList* list) {
    if (list)
        list->next = list->prev = list;
}

const ReRegion* ReListNext(const ReList* list, const ReRegion* current) {
    if (!list || IsEmpty(list))
        return nullptr;
    const ReList* link = current ? NodeOf(current)->link.next : list->next;
    return link == list ? nullptr : &NodeOfLink(link)->box;
}

const ReRegion* ReListPrev(const ReList* list, const ReRegion* current) {
    if (!list || IsEmpty(list))
        return nullptr;
    const ReList* link = current ? NodeOf(current)->link.prev : list->prev;
    return link == list ? nullptr : &NodeOfLink(link)->box;
}

DWORD ReListInsert(ReList* list, ReRegion* region) {
    const std::string detail = region ? DescribeBox(*region) : "no region";
    if (auto forced = Enter(ReCall::kListInsert, detail)) {
        if (region)
            FreeRegion(NodeOf(region));
        return *forced;
    }
    if (!list || !region) {
        if (region)
            FreeRegion(NodeOf(region));
        return Leave(ReCall::kListInsert, RE_E_ARGUMENT, detail);
    }
    Append(list, NodeOf(region));
    return Leave(ReCall::kListInsert, RE_OK, detail);
}

void ReListMerge(ReList* to, ReList* from) {
    if (!to || !from || to == from || IsEmpty(from))
        return;
    if (!to->next)
        ReListInit(to);
    ReList* first = from->next;
    ReList* last = from->prev;
    first->prev = to->prev;
    to->prev->next = first;
    last->next = to;
    to->prev = last;
    ReListInit(from);
}

void ReListEmpty(ReList* list) {
    if (!list)
        return;
    while (!IsEmpty(list)) {
        RegionNode* node = NodeOfLink(list->next);
        Unlink(node);
        FreeRegion(node);
    }
    ReListInit(list);
}

DWORD ReSaveRegion(const ReRegion* region, ReWriter writer, void* context, DWORD* size) {
    const std::string detail = (region ? DescribeBox(*region) : std::string("no region")) +
                               (writer ? " to a writer" : " size query");
    if (auto forced = Enter(ReCall::kSaveRegion, detail))
        return *forced;
    if (!region || !size)
        return Leave(ReCall::kSaveRegion, RE_E_ARGUMENT, detail);
    *size = kSavedBytes;
    if (!writer)
        return Leave(ReCall::kSaveRegion, RE_OK, detail);
    BYTE bytes[kSavedBytes];
    Encode(*NodeOf(region), bytes);
    // Head and body go out as two pieces, as a reader reads them.
    if (writer(context, bytes, kHeadBytes) != 1 || writer(context, bytes + kHeadBytes, kBodyBytes) != 1)
        return Leave(ReCall::kSaveRegion, RE_E_WRITE, detail);
    return Leave(ReCall::kSaveRegion, RE_OK, detail);
}

DWORD ReLoadRegion(ReReader reader, void* context, DWORD size, ReRegion** region) {
    const std::string detail = "size " + std::to_string(size);
    if (auto forced = Enter(ReCall::kLoadRegion, detail))
        return *forced;
    if (!reader || !region)
        return Leave(ReCall::kLoadRegion, RE_E_ARGUMENT, detail);
    *region = nullptr;
    if (size != kSavedBytes)
        return Leave(ReCall::kLoadRegion, RE_E_BAD_REGION, detail);
    BYTE bytes[kSavedBytes];
    if (reader(context, bytes, kHeadBytes) != 1 || reader(context, bytes + kHeadBytes, kBodyBytes) != 1)
        return Leave(ReCall::kLoadRegion, RE_E_READ, detail);
    ReRegion box{};
    DWORD pixelCount = 0;
    if (const DWORD result = Decode(bytes, box, pixelCount); result != RE_OK)
        return Leave(ReCall::kLoadRegion, result, detail);
    RegionNode* node = NewRegion(box, pixelCount);
    if (!node)
        return Leave(ReCall::kLoadRegion, RE_E_MEMORY, detail);
    *region = &node->box;
    return Leave(ReCall::kLoadRegion, RE_OK, detail + " " + DescribeBox(box));
}
