// An image loader of the I/O library: it reads what a file says about itself (size, colour space, tags)
// from a file stream into a tag control, gives an image the file's geometry, then fills the image's
// pixels step by step, so that a caller can show progress or stop between steps.
#pragma once

#include "IPravonFileStream.h"
#include "IPravonTagControl.h"
#include "platform/pravon/IPravonImage.h"

#include <memory>

class IPravonLoad {
public:
    // Makes a loader of raw sample files (CKvRawSampleLoad) holding one reference for the caller.
    static IPravonError* CreateLoad(IPravonLoad** load);
    // Makes the loader for the file open in the stream, picked by its first bytes: a PNG file's signature
    // gives the PNG loader (CPravonPngLoad), the raw sample container's magic (or a file too short to
    // tell) the raw sample loader, anything else the camera raw loader (CPravonCameraRawLoad), which
    // refuses what LibRaw cannot open. The stream is left at its start.
    static IPravonError* CreateLoad(IPravonFileStream* stream, IPravonLoad** load);
    // Opens, loads and closes the file in one go with the loader given, or the one its first bytes pick:
    // a new image of the manager's and a new tag control, each holding one reference for the caller. On
    // failure both stay null.
    static IPravonError* LoadFile(IPravonManager* manager, const PravonFile& file, IPravonImage** image,
                                  IPravonTagControl** tags, IPravonLoad* loader = nullptr);

    // Reads and checks the file's header and tags and gives the tags to the tag control, with the source
    // size and colour space as tags 0x10000 to 0x10002. A refused file leaves the tag control as it was.
    // The loader keeps references on the stream and the tag control.
    virtual IPravonError* Open(IPravonFileStream* stream, IPravonTagControl* tags) = 0;
    // Gives the image the file's size and colour space; the pixels follow with Step.
    virtual IPravonError* Begin(IPravonImage* image) = 0;
    // Fills the next band of rows; after the last one IsComplete answers true.
    virtual IPravonError* Step() = 0;
    virtual bool IsComplete() const = 0;

    // Further images that the file holds beside its main image, numbered from 1; files have none unless
    // their loader says so. A sub-image is loaded whole into the image given.
    virtual LONG GetSubImageCount() { return 0; }
    virtual IPravonError* GetSubImageColorSpace(LONG index, LONG* colorSpace);
    virtual IPravonError* LoadSubImage(LONG index, IPravonImage* image);

    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IPravonLoad() = default;
};

struct PravonLoadReleaser {
    void operator()(IPravonLoad* load) const {
        if (load)
            load->Release();
    }
};
using PravonLoadPtr = std::unique_ptr<IPravonLoad, PravonLoadReleaser>;
