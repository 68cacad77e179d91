// The host's records that modules fill and read. Only the fields the modules rely on are here; how the host
// keeps its items behind them is its own affair.
#pragma once

#include "KvwHostTypes.h"

#include "platform/pravon/IPravonImage.h"
#include "platform/win/WinUser.h"

#include <string>
#include <vector>

// A wanted size (record kind 81): width, then height, in pixels.
struct CKvwSizeRecord {
    DWORD width = 0;
    DWORD height = 0;
};
static_assert(sizeof(CKvwSizeRecord) == 8, "a size record is two 32-bit words");

// What the host knows of an item's source picture. Asked with the flag kKvwSourceRecordList it also lists
// the records attached to the item; asked about a record with kKvwSourceRecordFields (the flag that asks for
// all of an item's data) it describes that record.
struct CKvwSourceData {
    DWORD type = 0;
    DWORD subtype = 0;
    DWORD width = 0;
    DWORD height = 0;
    KvwItemIdList records; // attached records, in the order they were attached
    std::string name;      // a record's name, UTF-8
    DWORD kind = 0;
    LONG value = 0;
    DWORD dataLength = 0; // bytes in the record's data block
    DWORD flags = 0;      // a record's flags word (kKvwDesignPageFlag marks a design page)
};
constexpr DWORD kKvwSourceRecordList = 0x20000;
constexpr DWORD kKvwSourceRecordFields = 0xFFFFFFFF;
// The flag word of a design's page record; the host lists such records as items of their own.
constexpr DWORD kKvwDesignPageFlag = 0x400000;

// A record for the host's record database: its id comes first, filled in by the host when it creates the
// record. The data block stays the caller's.
struct CKvwInputData {
    KvwItemId id = 0;
    std::string name; // UTF-8
    DWORD kind = 0;
    LONG value = 0;
    const BYTE* data = nullptr;
    DWORD dataLength = 0;
    DWORD flags = 0;
    // A page record's width and height words (the longer side 65535, the other in proportion).
    DWORD width = 0;
    DWORD height = 0;
};

// One of the entries an item lists: an id and its flags word (kKvwItemEntryLayout marks a layout that
// belongs to the item).
struct CKvwItemEntry {
    KvwItemId id = 0;
    DWORD flags = 0;
};
constexpr DWORD kKvwItemEntryLayout = 0x20000000;

// An item's file, for a group the ids of its members, and its entries.
struct CKvwItemData {
    std::string path; // UTF-8
    KvwItemIdList members;
    std::vector<CKvwItemEntry> entries;
};

// Where and how the host writes an item's image.
class CKvwFilePath {
public:
    void Initialize(const std::string& folder, const std::string& fileName, float scale, DWORD colorSpace,
                    LONG quality, LONG width, LONG height);

    std::string folder; // UTF-8, as the module gave it
    std::string fileName;
    float scale = 1.0f;
    DWORD colorSpace = 0;
    LONG quality = 0;
    LONG width = 0;
    LONG height = 0;
};

// Record kind 258: a request to write an item's image to a file.
struct CKvwOutputData {
    CKvwFilePath filePath;
};

// An item property: a 32-bit type word and the value's bytes. Where a module copies it out, the type word
// comes first (little-endian) and the value follows, and its length counts both.
struct CKvwItemProperty {
    DWORD type = 0;
    std::vector<BYTE> value;

    DWORD Length() const { return static_cast<DWORD>(sizeof(DWORD) + value.size()); }
    // Writes Length() bytes.
    void CopyTo(BYTE* out) const;
};

// Item record ids.
namespace KvwItemRecord {
constexpr DWORD kWidth = 0x10000;
constexpr DWORD kHeight = 0x10001;
} // namespace KvwItemRecord

// A component's window as the host's pane service describes it.
struct CKvwWindowData {
    HWND window = nullptr;
};

// An image handed to the host with its profile words (record kind 150). The record holds one reference on
// its image and gives it back when it goes.
class CKvwProfileImage {
public:
    CKvwProfileImage() = default;
    ~CKvwProfileImage();
    CKvwProfileImage(const CKvwProfileImage&) = delete;
    CKvwProfileImage& operator=(const CKvwProfileImage&) = delete;

    DWORD first = 0;
    DWORD profile = 0;
    IPravonImage* image = nullptr;
};
