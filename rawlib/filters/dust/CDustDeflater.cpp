#include "CDustDeflater.h"

#include "KvDustFormat.h"

#include <zlib.h>

#include <climits>
#include <new>

CDustDeflater::CDustDeflater() = default;

CDustDeflater::~CDustDeflater() {
    End();
}

void CDustDeflater::End() {
    if (m_open)
        deflateEnd(m_stream.get());
    m_open = false;
    m_out = nullptr;
}

IPravonError* CDustDeflater::Begin(CDustBlockList* out) {
    End();
    if (!out)
        return PravonFail(KvDust::kComponent, PravonKind::kBadArgument, "no block list for the stream");
    if (!m_stream) {
        m_stream.reset(new (std::nothrow) z_stream_s{});
        if (!m_stream)
            return PravonFail(KvDust::kComponent, PravonKind::kOutOfMemory, "no memory for a deflate stream");
    }
    *m_stream = z_stream_s{};
    const int result = deflateInit(m_stream.get(), Z_DEFAULT_COMPRESSION);
    if (result == Z_MEM_ERROR)
        return PravonFail(KvDust::kComponent, PravonKind::kOutOfMemory, "no memory for a deflate stream");
    if (result != Z_OK)
        return KvDust::ZlibFailure(result, "the deflate stream could not start");
    m_out = out;
    m_open = true;
    return nullptr;
}

IPravonError* CDustDeflater::Feed(const BYTE* data, std::size_t count, bool last) {
    if (!m_open)
        return PravonFail(KvDust::kComponent, PravonKind::kInvalidState, "the deflate stream is not open");
    z_stream_s& stream = *m_stream;
    const int flush = last ? Z_FINISH : Z_NO_FLUSH;
    std::size_t left = count;
    for (;;) {
        // zlib counts input in 32-bit units; longer runs go in parts.
        if (stream.avail_in == 0 && left > 0) {
            const std::size_t part = left < UINT_MAX ? left : UINT_MAX;
            stream.next_in = const_cast<BYTE*>(data + (count - left));
            stream.avail_in = static_cast<uInt>(part);
            left -= part;
        }
        BYTE* at = nullptr;
        std::size_t room = 0;
        if (IPravonError* e = m_out->GetRoom(&at, &room)) {
            End();
            return e;
        }
        stream.next_out = at;
        stream.avail_out = static_cast<uInt>(room);
        const int result = deflate(&stream, left > 0 ? Z_NO_FLUSH : flush);
        m_out->Commit(room - stream.avail_out);
        if (result == Z_STREAM_END) {
            End();
            return nullptr;
        }
        if (result != Z_OK) {
            End();
            return KvDust::ZlibFailure(result, "the stream could not be compressed");
        }
        // Done with this run once all input is taken and deflate stopped short of filling the block.
        if (!last && left == 0 && stream.avail_in == 0 && stream.avail_out != 0)
            return nullptr;
    }
}
