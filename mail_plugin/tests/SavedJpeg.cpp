#include "SavedJpeg.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <jpeglib.h>
#include <memory>
#include <vector>

namespace mailtest {
namespace {

struct Errors {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void Fail(j_common_ptr info) {
    std::longjmp(reinterpret_cast<Errors*>(info->err)->jump, 1);
}

void Warn(j_common_ptr info, int level) {
    if (level < 0)
        Fail(info);
}

QuantTable Copy(const JQUANT_TBL* table) {
    QuantTable out{};
    for (int i = 0; table && i < 64; ++i)
        out[i] = table->quantval[i];
    return out;
}

// Everything the jump may skip lives in the caller's state.
struct State {
    jpeg_decompress_struct info;
    Errors errors;
    SavedJpeg result;
};

bool Decode(State& s, const std::vector<unsigned char>& bytes) {
    if (setjmp(s.errors.jump)) {
        jpeg_destroy_decompress(&s.info);
        return false;
    }
    jpeg_create_decompress(&s.info);
    jpeg_mem_src(&s.info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&s.info, TRUE);
    s.result.luma = Copy(s.info.quant_tbl_ptrs[0]);
    s.result.chroma = Copy(s.info.quant_tbl_ptrs[1]);
    s.info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&s.info);
    s.result.width = static_cast<int>(s.info.output_width);
    s.result.height = static_cast<int>(s.info.output_height);
    const std::size_t rowBytes = static_cast<std::size_t>(s.info.output_width) * 3;
    s.result.rgb.resize(rowBytes * s.info.output_height);
    std::array<double, 3> sums{};
    while (s.info.output_scanline < s.info.output_height) {
        unsigned char* row = s.result.rgb.data() + rowBytes * s.info.output_scanline;
        JSAMPROW target = row;
        jpeg_read_scanlines(&s.info, &target, 1);
        for (std::size_t i = 0; i < rowBytes; ++i)
            sums[i % 3] += row[i];
    }
    const double pixels = static_cast<double>(s.result.width) * s.result.height;
    for (int c = 0; c < 3; ++c)
        s.result.meanRgb[c] = sums[c] / pixels;
    jpeg_finish_decompress(&s.info);
    jpeg_destroy_decompress(&s.info);
    return true;
}

} // namespace

std::optional<SavedJpeg> ReadSavedJpeg(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return DecodeJpeg(std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), {}));
}

std::optional<SavedJpeg> DecodeJpeg(const std::vector<unsigned char>& bytes) {
    if (bytes.empty())
        return std::nullopt;
    auto state = std::make_unique<State>();
    state->info.err = jpeg_std_error(&state->errors.base);
    state->errors.base.error_exit = Fail;
    state->errors.base.emit_message = Warn;
    if (!Decode(*state, bytes))
        return std::nullopt;
    return state->result;
}

std::vector<unsigned char> EncodeJpeg(int width, int height, const std::vector<unsigned char>& rgb,
                                      int quality) {
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row =
            const_cast<unsigned char*>(rgb.data()) + static_cast<std::size_t>(info.next_scanline) * width * 3;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<unsigned char> bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

std::array<QuantTable, 2> ReferenceTables(int quality) {
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    info.in_color_space = JCS_RGB;
    info.input_components = 3;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    std::array<QuantTable, 2> tables{Copy(info.quant_tbl_ptrs[0]), Copy(info.quant_tbl_ptrs[1])};
    jpeg_destroy_compress(&info);
    return tables;
}

} // namespace mailtest
