#include "CKvJpegWriter.h"

#include "KvHighBytes.h"

#include <csetjmp>
// The library's header needs the standard types declared first.
#include <cstddef>
#include <jpeglib.h>

struct CKvJpegWriter::State {
    jpeg_compress_struct compressor{};
    jpeg_error_mgr errors{};
    std::jmp_buf failed;
    std::string message;
    bool created = false;
};

namespace {

[[noreturn]] void Failed(j_common_ptr common) {
    auto* state = static_cast<CKvJpegWriter::State*>(common->client_data);
    char text[JMSG_LENGTH_MAX] = {};
    common->err->format_message(common, text);
    state->message = text;
    std::longjmp(state->failed, 1);
}

void Quiet(j_common_ptr, int) {}

} // namespace

CKvJpegWriter::CKvJpegWriter() = default;

CKvJpegWriter::~CKvJpegWriter() {
    Release();
    if (!m_finished && !m_path.empty())
        std::remove(m_path.c_str());
}

void CKvJpegWriter::Release() {
    if (m_state && m_state->created)
        jpeg_destroy_compress(&m_state->compressor);
    m_state.reset();
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
}

bool CKvJpegWriter::Fail(const std::string& reason, std::string* error) {
    if (error)
        *error = m_state && !m_state->message.empty() ? m_state->message : reason;
    Release();
    if (!m_path.empty())
        std::remove(m_path.c_str());
    m_path.clear();
    return false;
}

bool CKvJpegWriter::Begin(const std::string& path, LONG width, LONG height, const std::string&,
                          const std::vector<BYTE>& profile, std::string* error) {
    if (m_state)
        return Fail("the writer has begun a file already", error);
    if (width <= 0 || height <= 0 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION)
        return Fail("JPEG holds pictures of 1 to 65500 pixels a side", error);
    if (profile.size() > 0xFFFFFFFFu)
        return Fail("the profile is too large", error);
    m_width = width;
    m_height = height;
    m_row.resize(static_cast<std::size_t>(width) * 3);
    m_state = std::make_unique<State>();
    m_file = std::fopen(path.c_str(), "wb");
    if (!m_file)
        return Fail("cannot create the file", error);
    m_path = path;
    State& s = *m_state;
    s.compressor.err = jpeg_std_error(&s.errors);
    s.errors.error_exit = Failed;
    s.errors.emit_message = Quiet;
    s.compressor.client_data = &s;
    if (setjmp(s.failed) != 0)
        return Fail("the file cannot be written", error);
    jpeg_create_compress(&s.compressor);
    s.created = true;
    jpeg_stdio_dest(&s.compressor, m_file);
    s.compressor.image_width = static_cast<JDIMENSION>(width);
    s.compressor.image_height = static_cast<JDIMENSION>(height);
    s.compressor.input_components = 3;
    s.compressor.in_color_space = JCS_RGB;
    jpeg_set_defaults(&s.compressor);
    jpeg_set_quality(&s.compressor, kQuality, TRUE);
    jpeg_start_compress(&s.compressor, TRUE);
    if (!profile.empty())
        jpeg_write_icc_profile(&s.compressor, profile.data(), static_cast<unsigned int>(profile.size()));
    return true;
}

bool CKvJpegWriter::WriteRows(const WORD* rows, LONG count, std::size_t rowWords, std::string* error) {
    if (!m_state || !m_state->created)
        return Fail("no file is being written", error);
    if (count < 0 || count > m_height - m_written)
        return Fail("more rows than the picture has", error);
    State& s = *m_state;
    if (setjmp(s.failed) != 0)
        return Fail("the rows cannot be written", error);
    for (LONG y = 0; y < count; ++y) {
        const WORD* from = rows + static_cast<std::size_t>(y) * rowWords;
        KvHighBytes(from, m_row.data(), m_row.size());
        JSAMPROW row = m_row.data();
        jpeg_write_scanlines(&s.compressor, &row, 1);
    }
    m_written += count;
    return true;
}

bool CKvJpegWriter::Finish(std::string* error) {
    if (!m_state || !m_state->created)
        return Fail("no file is being written", error);
    if (m_written != m_height)
        return Fail("the picture's rows did not all come", error);
    State& s = *m_state;
    if (setjmp(s.failed) != 0)
        return Fail("the file cannot be ended", error);
    jpeg_finish_compress(&s.compressor);
    jpeg_destroy_compress(&s.compressor);
    s.created = false;
    const bool closed = std::fclose(m_file) == 0;
    m_file = nullptr;
    if (!closed)
        return Fail("the file cannot be closed", error);
    m_finished = true;
    m_state.reset();
    return true;
}
