// The red-eye library: finds red, round, saturated pupils in an RGB image, corrects them in place, keeps the
// corrected regions in lists whose heads live with the caller, and saves and loads a region as bytes.
// Every call that can fail returns RE_OK (0) or one of the RE_ codes below; none throws.
#pragma once

#include "platform/win/wintypes.h"

// Results. Codes with the high bit set are failures; RE_S_NOTHING is a status: the call did nothing.
constexpr DWORD RE_OK = 0;
constexpr DWORD RE_S_NOTHING = 0x40000001;    // no eye near the point, nothing to do
constexpr DWORD RE_E_ARGUMENT = 0xC0000002;   // a missing or malformed argument
constexpr DWORD RE_E_MEMORY = 0xC0000003;     // out of memory
constexpr DWORD RE_E_CANCELLED = 0xC0000004;  // the progress routine asked to stop
constexpr DWORD RE_E_WRITE = 0xC0000005;      // the writer callback refused bytes
constexpr DWORD RE_E_READ = 0xC0000006;       // the reader callback could not give the bytes asked for
constexpr DWORD RE_E_BAD_REGION = 0xC0000007; // saved bytes that are not a region of this library

// Pixel formats of an image.
constexpr DWORD RE_FORMAT_RGB8 = 0x1805;  // 3 bytes a pixel, red first
constexpr DWORD RE_FORMAT_RGB16 = 0x3007; // three 16-bit samples a pixel in host order, red first

// What the caller knows of the camera that took the picture. `model` is a NUL-terminated text or null.
struct ReCameraInfo {
    DWORD size; // sizeof(ReCameraInfo)
    const char* model;
    LONG flash; // 1 when the flash fired
    LONG focalLength;
    LONG subjectDistance;
};

// The image handed to every call: rows of `rowBytes` bytes, corrected in place.
struct ReImage {
    DWORD size; // sizeof(ReImage)
    LONG width;
    LONG height;
    LONG rowBytes;
    DWORD format; // RE_FORMAT_RGB8 or RE_FORMAT_RGB16
    void* pixels;
    const ReCameraInfo* camera; // may be null
    DWORD reserved[2];          // 0
};

struct RePoint {
    LONG x;
    LONG y;
};

// A region begins with its box; right and bottom are the last column and row inside it. The rest of a
// region is the library's own.
struct ReRegion {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

// The head of a region list. An empty list is linked to itself (ReListInit); a zeroed head counts as
// empty too.
struct ReList {
    ReList* next;
    ReList* prev;
};

// Progress: state 0 at the start, 1 while running with a percentage, 2 at the end with 100. Answering
// non-zero stops the call, which then returns RE_E_CANCELLED.
using ReProgress = int (*)(void* context, int state, int value);
// Region bytes go out through a writer and come in through a reader; both answer 1 for success.
using ReWriter = int (*)(void* context, const void* bytes, DWORD length);
using ReReader = int (*)(void* context, void* destination, DWORD length);

void ReListInit(ReList* list);
// The region after `current` (the first when `current` is null), or null at the end.
const ReRegion* ReListNext(const ReList* list, const ReRegion* current);
// The region before `current` (the last when `current` is null), or null at the start.
const ReRegion* ReListPrev(const ReList* list, const ReRegion* current);
// Appends a region made by this library; the list owns it from then on, and on failure it is freed.
DWORD ReListInsert(ReList* list, ReRegion* region);
// Moves every region of `from` to the end of `to`; `from` is left empty.
void ReListMerge(ReList* to, ReList* from);
// Frees every region of the list.
void ReListEmpty(ReList* list);

// Appends every pupil found in the image to `found`, in the order of their first rows. The two numbers
// are reserved (0). Cancelled or failed detection adds nothing.
DWORD ReDetectAuto(const ReImage* image, DWORD reserved, ReProgress progress, void* context, DWORD flags,
                   ReList* found);
// Appends the pupil with a red pixel nearest the point, within `radius` pixels; RE_S_NOTHING when there
// is none. The three numbers after the radius are reserved (0).
DWORD ReDetectNearest(const ReImage* image, const RePoint* point, LONG radius, LONG reserved1, LONG reserved2,
                      LONG reserved3, ReList* found);
// Corrects the red pixels inside every region of the list (clipped to the image). `strength` (0 to 100)
// widens what counts as red at a pupil's rim; correcting twice changes nothing more.
DWORD ReCorrectRegions(ReImage* image, const ReList* regions, void* reserved1, void* reserved2,
                       LONG strength);

// With no writer only `*size` is set: the number of bytes a saved region takes. With one, the region's
// bytes go through it and `*size` is set to their number.
DWORD ReSaveRegion(const ReRegion* region, ReWriter writer, void* context, DWORD* size);
// Reads `size` bytes through the reader and makes a region of them, owned by the caller until it is
// inserted into a list.
DWORD ReLoadRegion(ReReader reader, void* context, DWORD size, ReRegion** region);
