// libjpeg reports errors by calling back, and the callback ends the work with longjmp. Every function that
// sets a jump point below keeps only trivially destructible objects of its own and does its work through
// state that its caller owns, so that a jump skips no destructor and finds nothing changed in registers.
#include "IproJpegCodec.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>

#include <algorithm>
#include <memory>
#include <new>

namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void OnError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

// Level -1 is a warning about damaged data, which fails the file; other levels are traces.
void OnMessage(j_common_ptr info, int level) {
    if (level < 0)
        OnError(info);
}

void OnOutput(j_common_ptr) {}

void OnProgress(j_common_ptr info) {
    if (info->is_decompressor &&
        reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > IproJpegCodec::kMaxScans)
        OnError(info);
}

// Inside the jump regions memory shortage is an answer, not an exception.
bool Grow(std::vector<std::uint8_t>& buffer, std::size_t size) {
    try {
        buffer.resize(size);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void InstallErrors(ErrorManager& errors) {
    jpeg_std_error(&errors.base);
    errors.base.error_exit = OnError;
    errors.base.emit_message = OnMessage;
    errors.base.output_message = OnOutput;
}

struct DecodeState {
    jpeg_decompress_struct info;
    ErrorManager errors;
    jpeg_progress_mgr progress;
    LONG wantedWidth = 0;
    LONG wantedHeight = 0;
    bool headerOnly = false;
    IproPixels pixels;
    std::vector<std::uint8_t> row; // one row of CMYK samples
};

// The eighths a decode scales by: the fewest whose size is not below the wanted one.
unsigned ScaleEighths(JDIMENSION width, JDIMENSION height, LONG wantedWidth, LONG wantedHeight) {
    if (wantedWidth <= 0 || wantedHeight <= 0)
        return 8;
    const auto scaled = [](JDIMENSION side, unsigned eighths) {
        return (static_cast<std::uint64_t>(side) * eighths + 7) / 8;
    };
    for (unsigned eighths = 1; eighths < 8; ++eighths)
        if (scaled(width, eighths) >= static_cast<std::uint64_t>(wantedWidth) &&
            scaled(height, eighths) >= static_cast<std::uint64_t>(wantedHeight))
            return eighths;
    return 8;
}

bool RunDecode(DecodeState& s, const std::uint8_t* data, std::size_t size) {
    if (setjmp(s.errors.jump)) {
        jpeg_destroy_decompress(&s.info);
        return false;
    }
    jpeg_create_decompress(&s.info);
    s.progress.progress_monitor = OnProgress;
    s.info.progress = &s.progress;
    jpeg_mem_src(&s.info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&s.info, TRUE);
    // The declared size is checked even when a smaller one is decoded.
    if (!IproLimits::Allowed(s.info.image_width, s.info.image_height)) {
        jpeg_destroy_decompress(&s.info);
        return false;
    }
    if (s.headerOnly) {
        s.pixels.width = static_cast<LONG>(s.info.image_width);
        s.pixels.height = static_cast<LONG>(s.info.image_height);
        jpeg_destroy_decompress(&s.info);
        return true;
    }
    const bool cmyk = s.info.jpeg_color_space == JCS_CMYK || s.info.jpeg_color_space == JCS_YCCK;
    s.info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    s.info.scale_num = ScaleEighths(s.info.image_width, s.info.image_height, s.wantedWidth, s.wantedHeight);
    s.info.scale_denom = 8;
    jpeg_calc_output_dimensions(&s.info);
    if (!IproLimits::MakePixels(s.info.output_width, s.info.output_height, s.pixels)) {
        jpeg_destroy_decompress(&s.info);
        return false;
    }
    jpeg_start_decompress(&s.info);
    if (cmyk && !Grow(s.row, static_cast<std::size_t>(s.info.output_width) * 4)) {
        jpeg_destroy_decompress(&s.info);
        return false;
    }
    // Files written by some programs store CMYK inverted, and say so with an Adobe marker.
    const bool inverted = s.info.saw_Adobe_marker;
    while (s.info.output_scanline < s.info.output_height) {
        const LONG y = static_cast<LONG>(s.info.output_scanline);
        JSAMPROW target = cmyk ? s.row.data() : reinterpret_cast<JSAMPROW>(&s.pixels.At(0, y));
        jpeg_read_scanlines(&s.info, &target, 1);
        if (!cmyk)
            continue;
        for (LONG x = 0; x < s.pixels.width; ++x) {
            const std::uint8_t* k = &s.row[static_cast<std::size_t>(x) * 4];
            const auto ink = [&](int i) { return inverted ? k[i] : 255u - k[i]; };
            const auto channel = [&](int i) { return (ink(i) * ink(3) + 127) / 255; };
            s.pixels.At(x, y) = 0xFF000000u | channel(0) << 16 | channel(1) << 8 | channel(2);
        }
    }
    jpeg_finish_decompress(&s.info);
    jpeg_destroy_decompress(&s.info);
    return true;
}

struct EncodeState {
    jpeg_compress_struct info;
    ErrorManager errors;
    unsigned char* buffer = nullptr; // grown by libjpeg with malloc
    unsigned long size = 0;
    std::vector<std::uint8_t> row;
};

bool RunEncode(EncodeState& s, const IproPixels& pixels, int quality) {
    if (setjmp(s.errors.jump)) {
        jpeg_destroy_compress(&s.info);
        return false;
    }
    jpeg_create_compress(&s.info);
    jpeg_mem_dest(&s.info, &s.buffer, &s.size);
    s.info.image_width = static_cast<JDIMENSION>(pixels.width);
    s.info.image_height = static_cast<JDIMENSION>(pixels.height);
    s.info.input_components = 3;
    s.info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&s.info);
    jpeg_set_quality(&s.info, quality, TRUE);
    if (!Grow(s.row, static_cast<std::size_t>(pixels.width) * 3)) {
        jpeg_destroy_compress(&s.info);
        return false;
    }
    jpeg_start_compress(&s.info, TRUE);
    while (s.info.next_scanline < s.info.image_height) {
        const LONG y = static_cast<LONG>(s.info.next_scanline);
        for (LONG x = 0; x < pixels.width; ++x) {
            const StraightColour colour = Straight(pixels.At(x, y));
            s.row[static_cast<std::size_t>(x) * 3] = colour.red;
            s.row[static_cast<std::size_t>(x) * 3 + 1] = colour.green;
            s.row[static_cast<std::size_t>(x) * 3 + 2] = colour.blue;
        }
        JSAMPROW source = s.row.data();
        jpeg_write_scanlines(&s.info, &source, 1);
    }
    jpeg_finish_compress(&s.info);
    jpeg_destroy_compress(&s.info);
    return true;
}

} // namespace

bool IproJpegCodec::HasSignature(const std::uint8_t* data, std::size_t size) {
    return data && size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

namespace {

bool DecodeWith(const std::uint8_t* data, std::size_t size, LONG wantedWidth, LONG wantedHeight,
                bool headerOnly, IproPixels& out) {
    if (!IproJpegCodec::HasSignature(data, size) || size > 0xFFFFFFFFu)
        return false;
    try {
        auto state = std::make_unique<DecodeState>();
        InstallErrors(state->errors);
        state->info.err = &state->errors.base;
        state->wantedWidth = wantedWidth;
        state->wantedHeight = wantedHeight;
        state->headerOnly = headerOnly;
        if (!RunDecode(*state, data, size))
            return false;
        out = std::move(state->pixels);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace

bool IproJpegCodec::Decode(const std::uint8_t* data, std::size_t size, IproPixels& out) {
    return DecodeWith(data, size, 0, 0, false, out);
}

bool IproJpegCodec::Decode(const std::uint8_t* data, std::size_t size, LONG wantedWidth, LONG wantedHeight,
                           IproPixels& out) {
    return DecodeWith(data, size, wantedWidth, wantedHeight, false, out);
}

bool IproJpegCodec::ReadSize(const std::uint8_t* data, std::size_t size, LONG& width, LONG& height) {
    IproPixels header;
    if (!DecodeWith(data, size, 0, 0, true, header))
        return false;
    width = header.width;
    height = header.height;
    return true;
}

bool IproJpegCodec::Encode(const IproPixels& pixels, int quality, std::vector<std::uint8_t>& out) {
    if (pixels.width < 1 || pixels.height < 1)
        return false;
    try {
        auto state = std::make_unique<EncodeState>();
        InstallErrors(state->errors);
        state->info.err = &state->errors.base;
        const bool encoded = RunEncode(*state, pixels, std::clamp(quality, 1, 100));
        if (encoded)
            out.assign(state->buffer, state->buffer + state->size);
        std::free(state->buffer);
        return encoded;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
