// kv_png_compare: compares the pixels of two PNG files as 8-bit RGB (an embedded profile is not applied)
// and says how far apart they are: the largest difference of a sample, the first pixel where it occurs
// and how many samples differ at all.
//
//   kv_png_compare EXPECTED.png ACTUAL.png [TOLERANCE]
//
// Exits 0 when the sizes agree and no sample differs by more than TOLERANCE (0 unless given).
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kChannels = 3;

struct Picture {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    std::vector<png_byte> rgb;
};

bool Read(const char* path, Picture* picture) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path)) {
        std::fprintf(stderr, "kv_png_compare: %s: %s\n", path, image.message);
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    picture->width = image.width;
    picture->height = image.height;
    picture->rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, picture->rgb.data(), 0, nullptr)) {
        std::fprintf(stderr, "kv_png_compare: %s: %s\n", path, image.message);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s EXPECTED.png ACTUAL.png [TOLERANCE]\n", argv[0]);
        return 2;
    }
    const int tolerance = argc == 4 ? std::atoi(argv[3]) : 0;
    Picture expected, actual;
    if (!Read(argv[1], &expected) || !Read(argv[2], &actual))
        return 1;
    if (expected.width != actual.width || expected.height != actual.height) {
        std::printf("kv_png_compare: sizes differ: %ux%u expected, %ux%u in %s\n", expected.width,
                    expected.height, actual.width, actual.height, argv[2]);
        return 1;
    }
    int largest = 0;
    std::size_t at = 0, differing = 0;
    for (std::size_t i = 0; i < expected.rgb.size(); ++i) {
        const int difference = std::abs(int(expected.rgb[i]) - int(actual.rgb[i]));
        differing += difference != 0;
        if (difference > largest) {
            largest = difference;
            at = i / kChannels;
        }
    }
    std::printf("kv_png_compare: %ux%u, largest difference %d at (%zu, %zu), %zu of %zu samples differ\n",
                expected.width, expected.height, largest, at % expected.width, at / expected.width, differing,
                expected.rgb.size());
    return largest <= tolerance ? 0 : 1;
}
