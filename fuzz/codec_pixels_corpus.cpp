// Writes the corpus of the codec-pixels fuzz target: every destination format with the host's pattern
// pictures of one, three and four channels in both pixel orders, padded rows, pictures wider and taller
// than the buffer, and item codecs that deliver a byte too few or too many. Usage: codec_pixels_corpus
// <folder>.
#include "CodecPixelsInput.h"

#include "platform/host/CHostPicture.h"
#include "platform/zizoraz/zIzoRaz.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder(argv[1]);
    std::filesystem::create_directories(folder);
    int written = 0;
    const auto write = [&](const codecfuzz::Header& header, const CHostPicture& picture) {
        std::ofstream out(folder / ("codec-" + std::to_string(written++) + ".bin"), std::ios::binary);
        const std::vector<std::uint8_t> bytes = codecfuzz::Write(header, picture.samples);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    };
    const DWORD formats[] = {IPRO_FORMAT_GREY8, IPRO_FORMAT_BGR24, IPRO_FORMAT_RGB24, IPRO_FORMAT_BGRA32,
                             IPRO_FORMAT_RGBA32};
    for (DWORD format : formats) {
        for (std::uint8_t channels : {1, 3, 4}) {
            for (DWORD mode : {DWORD{1}, IPRO_MODE_STORED_ORDER}) {
                const CHostPicture picture = CHostPicture::Pattern(2, 2, channels);
                write(codecfuzz::Header{format, mode, 1, 2, 2, static_cast<std::uint8_t>(channels - 1), 1, 2,
                                        2, 2, 0},
                      picture);
            }
        }
    }
    // Rows padded to 4 bytes (5 pixels of 3 bytes: 16), a picture larger than the buffer, one smaller.
    write(codecfuzz::Header{IPRO_FORMAT_BGR24, 1, 4, 5, 3, 2, 4, 3, 5, 3, -1},
          CHostPicture::Pattern(5, 3, 3));
    write(codecfuzz::Header{IPRO_FORMAT_BGRA32, 1, 0, 4, 2, 2, 8, 5, 4, 2, 4},
          CHostPicture::Pattern(9, 5, 3));
    write(codecfuzz::Header{IPRO_FORMAT_RGBA32, 1, 16, 9, 7, 3, 2, 2, 0, 3, 0},
          CHostPicture::Pattern(3, 2, 4));
    std::printf("%d inputs written to %s\n", written, folder.string().c_str());
    return 0;
}
