// The interface between a host and an image-filter plug-in: what a plug-in library exports, and the
// filter record and callback suites the host hands to it on every call.
//
// A plug-in is a shared library that exports the C function "ENTRYPOINT" (KvPluginEntry) and carries, in
// its resource table, a "PIPL" resource with its display name and category and optionally an "AETE"
// resource with its scripting event, both with id kPluginResourceId (byte layouts below). The host calls
// the entry with a selector; the plug-in answers through the result word, 0 for success.
#pragma once

#include <cstdint>

struct KvFilterRecord;

// What the entry answers: 0, one of the results below, or a plug-in's own negative code.
using KvPluginResult = std::int16_t;

// The entry point: (selector, record, the plug-in's private data word, result). The record is a
// KvAboutRecord for kSelectorAbout and the KvFilterRecord for every other selector.
using KvPluginEntry = void (*)(std::int16_t selector, void* record, std::intptr_t* data,
                               std::int16_t* result);

namespace KvPlugin {

constexpr const char* kEntryName = "ENTRYPOINT";

// The selectors a host sends, in the order of a run: once per loaded file kSelectorInitialize before any
// other; kSelectorPrepare before each pass; kSelectorRun, the step that may ask the user (a parameters
// dialog), once after each change of settings; kSelectorStart when processing must start afresh;
// kSelectorProcess after the host filled inData for the requested rectangles; kSelectorFinish last.
constexpr std::int16_t kSelectorAbout = 0;
constexpr std::int16_t kSelectorPrepare = 2;
constexpr std::int16_t kSelectorStart = 3;
constexpr std::int16_t kSelectorFinish = 5;
constexpr std::int16_t kSelectorProcess = 11;
constexpr std::int16_t kSelectorRun = 12;
constexpr std::int16_t kSelectorInitialize = 13;

// Result words.
constexpr KvPluginResult kNoError = 0;
constexpr KvPluginResult kErrNoModule = -23;      // the library or its entry point is missing
constexpr KvPluginResult kErrNotLoaded = -28;     // no library is loaded
constexpr KvPluginResult kErrParameter = -50;     // a request the host cannot serve
constexpr KvPluginResult kErrNoEntry = -109;      // a library is loaded but has no entry
constexpr KvPluginResult kErrMemory = -108;       // no memory for the request
constexpr KvPluginResult kErrUserCanceled = -128; // the plug-in stopped because the host asked it to
constexpr KvPluginResult kErrNoSource = -1715;    // the host has no image for the request
constexpr KvPluginResult kErrWithText = -30904;   // the reason is in the record's error string
// A prepare answer that is no error: the plug-in reports that it is done with the settings as they are.
constexpr KvPluginResult kPrepareDone = 30000;

// Image modes of the filter record.
constexpr std::int16_t kModeBitmap = 0;
constexpr std::int16_t kModeGrey = 1;
constexpr std::int16_t kModeRGB = 3;
constexpr std::int16_t kModeFourChannel = 4;
constexpr std::int16_t kModeGrey16 = 10;
constexpr std::int16_t kModeRGB16 = 11;

// Fixed-point numbers (resolution, scale, input rate) carry 16 fractional bits: 1.0 is 0x10000.
constexpr std::int32_t kFixedOne = 0x10000;

constexpr std::int16_t kBufferSuiteVersion = 2;
constexpr std::int16_t kBufferSuiteProcedures = 5;
constexpr std::int16_t kHandleSuiteVersion = 1;
constexpr std::int16_t kHandleSuiteProcedures = 7;

// The colour-services request that converts a colour between spaces.
constexpr std::int16_t kColorServicesConvert = 1;

// The error string: a length byte and up to kErrorStringLength letters, in host memory.
constexpr int kErrorStringLength = 255;

// The resources. Both are little-endian byte records.
//
// PIPL: a 2-byte version, a 4-byte property count, then each property: vendor code, key, id and data
// length (4 bytes each) and the data, padded with zero bytes to a multiple of 4. The keys kKeyName and
// kKeyCategory hold a length byte and that many letters (UTF-8).
//
// AETE: major and minor version (1 byte each), language and script (2 bytes each), a 2-byte suite count,
// then each suite: name and description (each a length byte and its letters), a zero byte when needed to
// reach an even offset, suite id (4), level (2), version (2) and a 2-byte event count; then each event:
// name and description as before, the even-offset byte, event class (4), event id (4) and a 2-byte count
// of parameters, which follow as class (4), id (4) and flags (2) each. A host that scripts the plug-in
// names it by the event id of the first event of the first suite.
constexpr std::uint16_t kPluginResourceId = 16000;
constexpr const char* kPiplType = "PIPL";
constexpr const char* kAeteType = "AETE";
constexpr std::uint32_t kKeyName = 0x6E616D65;     // "name"
constexpr std::uint32_t kKeyCategory = 0x63617467; // "catg"

} // namespace KvPlugin

// A block of memory the host keeps for a plug-in. The handle stays the same when the block is resized;
// its bytes are reached by locking it.
using KvHandle = struct KvHandleRecord*;
// The index of a buffer handed out through the buffer suite.
using KvBufferId = std::int32_t;

// Right and bottom are exclusive.
struct KvPluginRect {
    std::int32_t left;
    std::int32_t top;
    std::int32_t right;
    std::int32_t bottom;
};

// Pixels that a plug-in asks the host to draw: sample (x, y) of plane p lies at baseAddress +
// (y - bounds.top) * rowBytes + (x - bounds.left) * columnBytes + p * planeBytes. Modes kModeGrey and
// kModeRGB, 8 bits a sample.
struct KvPixelMap {
    std::int32_t version;
    KvPluginRect bounds;
    std::int32_t imageMode;
    std::int32_t rowBytes;
    std::int32_t columnBytes;
    std::int32_t planeBytes;
    const void* baseAddress;
};

struct KvColorServicesInfo {
    std::int32_t infoSize;
    std::int16_t selector;
    std::int16_t sourceSpace;
    std::int16_t resultSpace;
    std::uint16_t components[4];
};

// The host's callbacks. Each forwards to the plug-in call in progress on the calling thread.
using KvTestAbortProc = std::int32_t (*)();
using KvProgressProc = void (*)(std::int32_t done, std::int32_t total);
using KvHostProc = void (*)(std::int16_t selector, std::intptr_t* data);
using KvProcessEventProc = void (*)(void* event);
using KvDisplayPixelsProc = std::int16_t (*)(const KvPixelMap* source, const KvPluginRect* rect,
                                             std::int32_t row, std::int32_t column, void* context);
// Moves the input the record asks for into inData and points outData at the host's output.
using KvAdvanceStateProc = std::int16_t (*)();
using KvColorServicesProc = std::int16_t (*)(KvColorServicesInfo* info);

struct KvBufferSuite {
    std::int16_t version;
    std::int16_t count;
    // Answers 0 and the buffer's id, or an error.
    std::int16_t (*allocate)(std::int32_t size, KvBufferId* id);
    // Null for an id that holds no buffer.
    void* (*lock)(KvBufferId id, std::uint8_t moveHigh);
    void (*unlock)(KvBufferId id);
    void (*free)(KvBufferId id);
    // Bytes the host can still give.
    std::int32_t (*space)();
};

struct KvHandleSuite {
    std::int16_t version;
    std::int16_t count;
    KvHandle (*newHandle)(std::int32_t size);
    void (*dispose)(KvHandle handle);
    std::int32_t (*getSize)(KvHandle handle);
    // Keeps the bytes up to the smaller size; on failure the handle is as it was.
    std::int16_t (*setSize)(KvHandle handle, std::int32_t size);
    void* (*lock)(KvHandle handle, std::uint8_t moveHigh);
    void (*unlock)(KvHandle handle);
    void (*recoverSpace)(std::int32_t size);
};

// Handed to kSelectorAbout.
struct KvAboutRecord {
    void* platformData;
    void* reserved[31];
};

// Handed to every other selector. The host fills the image fields and the callbacks; the plug-in fills
// the requests (rectangles, planes, padding, rate, layout flags) and reads what the host puts in inData.
struct KvFilterRecord {
    std::uint32_t hostSignature;
    std::int16_t imageMode;
    std::int16_t planes;
    std::int16_t depth; // bits a sample: 8 or 16
    std::int32_t imageWidth;
    std::int32_t imageHeight;
    std::int32_t imageResolution; // pixels an inch, fixed point
    std::int32_t imageScale;      // fixed point
    std::uint8_t backgroundColor[4];
    std::uint8_t foregroundColor[4];

    KvTestAbortProc abortProc;
    KvProgressProc progressProc;
    KvHostProc hostProc;
    KvProcessEventProc processEvent;
    KvDisplayPixelsProc displayPixels;
    KvAdvanceStateProc advanceState;
    KvColorServicesProc colorServices;
    KvBufferSuite* bufferSuite;
    KvHandleSuite* handleSuite;
    void* platformData; // points at the host's main window handle
    void* propertySuite;
    void* descriptorParameters;

    KvPluginRect inRect;
    KvPluginRect outRect;
    KvPluginRect maskRect;
    std::int16_t inLoPlane;
    std::int16_t inHiPlane;
    std::int16_t outLoPlane;
    std::int16_t outHiPlane;
    // The input of inRect, planes inLoPlane to inHiPlane interleaved, inRowBytes from row to row.
    void* inData;
    std::int32_t inRowBytes;
    // The output at outRect's top-left sample of plane outLoPlane: interleaved (every plane of a pixel
    // together), or, with planarOutput, plane after plane outPlaneBytes apart.
    void* outData;
    std::int32_t outRowBytes;
    std::int32_t outPlaneBytes;
    void* maskData;
    std::int32_t maskRowBytes;

    std::int32_t inputRate;    // fixed point; above 1.0 the input is scaled down by it
    std::int16_t inputPadding; // pixels of input wanted around the output on every side
    // Set by the plug-in when the output need not start as a copy of the input.
    std::uint8_t outputInitialised;
    std::uint8_t planarOutput;

    KvHandle parameters;
    std::uint8_t* errorString;
};
