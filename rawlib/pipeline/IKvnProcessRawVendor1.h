// The exported raw processor as its callers see it: an image of the imaging framework whose pixels are the
// signal-processing library's development of one picture's mosaic, driven by Initialize and Process and
// adjusted through the white-balance and exposure raw options. Every operation that can fail returns null
// on success or an error chain that the caller owns.
#pragma once

#include "KvnRecords.h"

#include "platform/pravon/IPravonImage.h"
#include "platform/quasel/IPravonLoad.h"
#include "platform/quasel/IPravonTagControl.h"

class IKvnProcessRawVendor1 : public IPravonImage {
public:
    class IProgress {
    public:
        virtual ~IProgress() = default;
        // The library's progress; non-zero stops the conversion.
        virtual int Progress(LONG current, LONG total) = 0;
    };

    // A new object in *out holding one reference, or null with kBadArgument (no manager or out) or
    // kOutOfMemory.
    static IPravonError* CreateObject(IPravonManager* manager, IKvnProcessRawVendor1** out);

    virtual IPravonError* Initialize(IPravonLoad* loader, IPravonTagControl* tagControl, IPravonImage* image) = 0;
    virtual IPravonError* SetCallbackObject(IProgress* progress) = 0;
    virtual IProgress* GetCallbackObject() = 0;
    virtual IPravonError* Process() = 0;
    virtual IPravonError* SetRawOption(strKvnRawOption* option) = 0;
    virtual IPravonError* GetRawOption(strKvnRawOption* option) = 0;
    virtual IPravonError* ResetRawOption(strKvnRawOption* option) = 0;
    // Gives up the creator's reference; the object goes with its last one.
    virtual void Destroy() = 0;

protected:
    ~IKvnProcessRawVendor1() override = default;
};
