// The exported filter-chain object as its callers see it: created by CreateObject, initialised on one
// picture, set through size-prefixed records, asked for the development graph, cleaned up or destroyed.
// Every operation returns null on success or an error chain that the caller owns.
#pragma once

#include "KvnRecords.h"

#include "platform/pravon/IPravonError.h"
#include "platform/pravon/IPravonImage.h"
#include "platform/quasel/IPravonTagControl.h"

class IPravonFilterChain;

class IKvnFilterChain {
public:
    // A new object in *out; PravonKind::kBadArgument for a null out, kOutOfMemory (with *out null) when it
    // cannot be made.
    static IPravonError* CreateObject(IKvnFilterChain** out);

    virtual IPravonError* Initialize(IPravonManager* manager, IPravonImage* image,
                                     IPravonTagControl* tagControl) = 0;
    virtual IPravonError* SetSourceImage(IPravonImage* image) = 0;
    virtual IPravonError* SetMode(strKvnModeParam* mode) = 0;
    virtual IPravonError* GetMode(strKvnModeParam* mode) = 0;
    virtual IPravonError* SetImageInfo(strKvnImageInfoParam* info, bool apply) = 0;
    virtual IPravonError* GetImageInfo(strKvnImageInfoParam* info) = 0;
    virtual IPravonError* GetFilterChain(IPravonFilterChain** out) = 0;
    virtual IPravonError* GetCaptureSettings(strKvnNCParam* param) = 0;
    virtual IPravonError* SetRawOption(strKvnRawOption* option) = 0;
    virtual IPravonError* GetRawOption(strKvnRawOption* option) = 0;
    virtual IPravonError* ResetRawOption(strKvnRawOption* option) = 0;
    virtual IPravonError* Cleanup(bool keep) = 0;
    // Deletes the object; always null.
    virtual IPravonError* Destroy() = 0;

protected:
    virtual ~IKvnFilterChain() = default;
};
