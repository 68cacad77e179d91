#include "CDustImageDecoder.h"

#include "KvDustFormat.h"
#include "KvDustImageRows.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <new>

namespace {

struct InflateEnd {
    void operator()(z_stream* stream) const { inflateEnd(stream); }
};

// Inflates until `count` bytes are out or the stream stops; the result is zlib's last answer.
int InflateInto(z_stream& stream, BYTE* out, std::size_t count) {
    stream.next_out = out;
    stream.avail_out = static_cast<uInt>(count);
    int result = Z_OK;
    while (stream.avail_out > 0 && result == Z_OK)
        result = inflate(&stream, Z_SYNC_FLUSH);
    return result;
}

} // namespace

IPravonError* CDustImageDecoder::Decode(IPravonManager* manager, const BYTE* stream, std::size_t length,
                                        LONG width, LONG height, bool flip, double angle,
                                        PravonImagePtr* image, CDustBlockList* blocks) {
    using namespace KvDust;
    if (!manager || !image || !blocks || (!stream && length > 0))
        return PravonFail(kComponent, PravonKind::kBadArgument,
                          "the decoder needs a manager, a stream and outputs");
    if (width <= 0 || height <= 0)
        return PravonFail(kComponent, kBadBlob, "the image to decode is empty");
    if (IPravonError* e =
            CheckImageSize(static_cast<ULONG>(width), static_cast<ULONG>(height), 1, "compressed image"))
        return e;
    if (IPravonError* e =
            CheckStreamHolds(std::uint64_t(width) * std::uint64_t(height), length, "compressed image"))
        return e;

    IPravonImage* made = nullptr;
    if (IPravonError* e = manager->CreateImage(1, &made))
        return PravonContext(e, kComponent, "no image for the decoded samples");
    PravonImagePtr decoded(made);
    if (IPravonError* e = decoded->SetColorSpace(PravonColorSpace::kGrey8))
        return e;
    if (IPravonError* e = decoded->SetSize(width, height))
        return e;
    if (IPravonError* e = decoded->SetResolution(kResolution))
        return e;
    if (IPravonError* e = decoded->SetTransform(flip, angle, false))
        return e;
    LONG stripRows = 0;
    if (IPravonError* e = decoded->GetTileSize(&stripRows))
        return e;
    stripRows = std::clamp(stripRows, LONG{1}, height);

    const std::size_t rowBytes = static_cast<std::size_t>(width);
    std::unique_ptr<BYTE[]> rows(new (std::nothrow) BYTE[rowBytes * static_cast<std::size_t>(stripRows)]);
    if (!rows)
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for a strip of decoded rows");

    z_stream zs{};
    zs.next_in = const_cast<BYTE*>(stream);
    zs.avail_in = static_cast<uInt>(length);
    const int started = inflateInit(&zs);
    if (started == Z_MEM_ERROR)
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for an inflate stream");
    if (started != Z_OK)
        return ZlibFailure(started, "the inflate stream could not start");
    std::unique_ptr<z_stream, InflateEnd> ending(&zs);

    int result = Z_OK;
    for (LONG top = 0; top < height; top += stripRows) {
        const LONG count = std::min(stripRows, height - top);
        result = InflateInto(zs, rows.get(), rowBytes * static_cast<std::size_t>(count));
        if (zs.avail_out > 0) {
            if (result == Z_STREAM_END || result == Z_BUF_ERROR)
                return PravonFail(kComponent, kBadBlob, "the compressed image ends before its last row");
            return ZlibFailure(result, "the compressed image cannot be inflated");
        }
        if (result != Z_OK && result != Z_STREAM_END)
            return ZlibFailure(result, "the compressed image cannot be inflated");
        if (IPravonError* e =
                PutRect(decoded.get(), CPravonRect(0, top, width, top + count), rows.get(), rowBytes))
            return e;
    }
    // The last row must be the stream's last byte of output, and its check value the last input byte.
    if (result != Z_STREAM_END) {
        BYTE extra = 0;
        result = InflateInto(zs, &extra, 1);
        if (zs.avail_out == 0)
            return PravonFail(kComponent, kBadBlob, "the compressed stream holds more than the image");
        if (result != Z_STREAM_END && result != Z_BUF_ERROR && result != Z_OK)
            return ZlibFailure(result, "the compressed image cannot be inflated");
        if (result != Z_STREAM_END)
            return PravonFail(kComponent, kBadBlob, "the compressed stream is cut short");
    }
    if (zs.avail_in != 0)
        return PravonFail(kComponent, kBadBlob, "bytes follow the end of the compressed stream");

    CDustBlockList kept;
    if (IPravonError* e = kept.Append(stream, length))
        return e;
    *image = std::move(decoded);
    *blocks = std::move(kept);
    return nullptr;
}
