// A byte stream over one file, as the I/O library's loaders and savers use it: open by name for reading
// or writing, read and write at a position, ask for the size. Reference-counted; the last Release closes.
#pragma once

#include "platform/pravon/IPravonError.h"
#include "platform/pravon/PravonTypes.h"

#include <memory>

class IPravonFileStream {
public:
    enum Mode : LONG {
        kRead = 1,
        // Creates the file, or empties the one that is there.
        kWrite = 2,
    };

    // Makes a closed file stream (CPravonFileStream) holding one reference for the caller.
    static IPravonError* CreateFileStream(IPravonFileStream** stream);

    // The name may use '\' or '/' and is found case-insensitively when missing as written. Opening an open
    // stream closes it first. Failures carry the C runtime error number (secondary code 1).
    virtual IPravonError* Open(const PravonFile& file, LONG mode) = 0;
    virtual IPravonError* Close() = 0;
    virtual bool IsOpen() const = 0;

    // Reads up to count bytes at the current position; *done (may be null) receives how many were read,
    // fewer than count only at the end of the file.
    virtual IPravonError* Read(void* buffer, ULONG count, ULONG* done) = 0;
    // Writes all count bytes or fails.
    virtual IPravonError* Write(const void* data, ULONG count) = 0;
    virtual IPravonError* Seek(ULONGLONG position) = 0;
    virtual IPravonError* GetPosition(ULONGLONG* position) = 0;
    virtual IPravonError* GetSize(ULONGLONG* size) = 0;

    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IPravonFileStream() = default;
};

struct PravonFileStreamReleaser {
    void operator()(IPravonFileStream* stream) const {
        if (stream)
            stream->Release();
    }
};
using PravonFileStreamPtr = std::unique_ptr<IPravonFileStream, PravonFileStreamReleaser>;
