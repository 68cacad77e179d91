// Access to the tags of one image file: what the raw library reads (settings blobs, camera data, source
// sizes) and writes (the settings tag). Tag numbers are 32-bit: TIFF and EXIF tags under their standard
// numbers, the camera maker's private tags from 0x80000 up, the source-size tags 0x10000 to 0x10002.
#pragma once

#include "platform/pravon/IPravonError.h"
#include "platform/win/wintypes.h"

#include <memory>

class IPravonTagControl {
public:
    // Makes an empty in-memory tag control (CPravonTagControl) holding one reference for the caller.
    static IPravonError* CreateTagControl(IPravonTagControl** tagControl);

    virtual bool TagExists(ULONG tag) = 0;
    // Size of the tag's value in bytes; 0 for a missing tag.
    virtual ULONG GetTagSize(ULONG tag) = 0;
    // The data type code the tag was stored with (1 for byte blobs, 16 for a 260-byte path, ...); 0 when
    // the tag is missing.
    virtual LONG GetTagKind(ULONG tag) = 0;
    // Copies the first `count` bytes of the value into the buffer. A missing tag, or one shorter than
    // `count`, is an error and the buffer is left untouched. The type code is the caller's statement of
    // what it expects; it is recorded for tests, not checked.
    virtual IPravonError* ReadTag(ULONG tag, LONG type, ULONG count, void* buffer) = 0;
    // Stores `count` bytes as the tag's value with `type` as its kind, replacing any previous value.
    virtual IPravonError* WriteTag(ULONG tag, LONG type, ULONG count, const void* data) = 0;
    // Removing a tag the image does not have succeeds: afterwards the tag is absent either way.
    virtual IPravonError* RemoveTag(ULONG tag) = 0;
    // The image's camera-model code (257, 258, 259, 260, 513 to 516, 1025, 1026, ...). When the image
    // carries none the result is an error and the value is left untouched.
    virtual IPravonError* GetCameraModel(WORD* model) = 0;

    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IPravonTagControl() = default;
};

struct PravonTagControlReleaser {
    void operator()(IPravonTagControl* tags) const {
        if (tags)
            tags->Release();
    }
};
using PravonTagControlPtr = std::unique_ptr<IPravonTagControl, PravonTagControlReleaser>;
