// A zlib deflate stream at the default level that writes into a block list: each Feed compresses one run
// of input (the last with Finish), opening a new block whenever the current one fills. The stream is ended
// when the deflater goes, whatever state it is in.
#pragma once

#include "CDustBlockList.h"

#include <memory>

struct z_stream_s;

class CDustDeflater {
public:
    CDustDeflater();
    ~CDustDeflater();
    CDustDeflater(const CDustDeflater&) = delete;
    CDustDeflater& operator=(const CDustDeflater&) = delete;

    // Starts a new stream into `out` (which the caller keeps alive until Finish); an open stream is dropped.
    IPravonError* Begin(CDustBlockList* out);
    // Compresses `count` bytes; with `last` the stream is finished and ended. Any failure ends the stream.
    IPravonError* Feed(const BYTE* data, std::size_t count, bool last);
    bool IsOpen() const { return m_open; }
    void End();

private:
    std::unique_ptr<z_stream_s> m_stream;
    CDustBlockList* m_out = nullptr;
    bool m_open = false;
};
