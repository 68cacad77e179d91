// The upload-service client's reply readers over hostile bodies. Beyond "no crash, no undefined
// behaviour": whatever a reader accepts fits the record fields it is meant for.
#include "platform/zavoz/ZvReply.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    std::string word;
    if (ZvReply::ReadToken(body, word) == kPiOk &&
        (word.empty() || word.size() >= sizeof(PiConnection::session)))
        std::abort();
    if (ZvReply::ReadPhoto(body, word) == kPiOk && (word.empty() || word.size() >= sizeof(PiUpload::photo)))
        std::abort();
    if (ZvReply::ReadKey(body, word) == kPiOk && word.empty())
        std::abort();
    std::int64_t space = 0;
    if (ZvReply::ReadSpace(body, space) == kPiOk && (space < INT32_MIN || space > INT32_MAX))
        std::abort();
    std::vector<ZvReply::Album> albums;
    if (ZvReply::ReadAlbums(body, albums) == kPiOk) {
        if (albums.size() > static_cast<std::size_t>(kPiAlbumLimit))
            std::abort();
        for (const ZvReply::Album& album : albums)
            if (album.key.empty() || album.key.find('\0') != std::string::npos)
                std::abort();
    }
    ZvReply::Decode(body, word);
    return 0;
}
