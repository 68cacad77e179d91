#include "CKvPngWriter.h"

#include "KvHighBytes.h"

namespace {

// Rows handed to zlib at once: a bigger buffer than libpng's default spares calls.
constexpr std::size_t kCompressionBuffer = std::size_t{1} << 20;

void Warned(png_structp, png_const_charp) {}

[[noreturn]] void Failed(png_structp png, png_const_charp message) {
    if (auto* text = static_cast<std::string*>(png_get_error_ptr(png)))
        *text = message;
    png_longjmp(png, 1);
}

} // namespace

CKvPngWriter::CKvPngWriter(Compression compression) : m_compression(compression) {}

CKvPngWriter::~CKvPngWriter() {
    Release();
    if (!m_finished && !m_path.empty())
        std::remove(m_path.c_str());
}

void CKvPngWriter::Release() {
    if (m_png)
        png_destroy_write_struct(&m_png, m_info ? &m_info : nullptr);
    m_png = nullptr;
    m_info = nullptr;
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
}

bool CKvPngWriter::Fail(const std::string& reason, std::string* error) {
    if (error)
        *error = m_message.empty() ? reason : m_message;
    Release();
    if (!m_path.empty())
        std::remove(m_path.c_str());
    m_path.clear();
    return false;
}

bool CKvPngWriter::Begin(const std::string& path, LONG width, LONG height, const std::string& profileName,
                         const std::vector<BYTE>& profile, std::string* error) {
    if (m_file || m_png)
        return Fail("the writer has begun a file already", error);
    if (width <= 0 || height <= 0)
        return Fail("the picture has no pixels", error);
    m_width = width;
    m_height = height;
    m_row.resize(static_cast<std::size_t>(width) * 3);
    m_file = std::fopen(path.c_str(), "wb");
    if (!m_file)
        return Fail("cannot create the file", error);
    m_path = path;
    m_png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &m_message, Failed, Warned);
    m_info = m_png ? png_create_info_struct(m_png) : nullptr;
    if (!m_info || !Header(profileName, profile))
        return Fail("the file cannot be written", error);
    return true;
}

bool CKvPngWriter::Header(const std::string& profileName, const std::vector<BYTE>& profile) {
    // Names of 1 to 79 Latin-1 characters; the profile's file name is cut to fit rather than refused.
    const std::string name = profileName.empty() ? std::string("ICC profile") : profileName.substr(0, 79);
    if (setjmp(png_jmpbuf(m_png)) != 0)
        return false;
    png_init_io(m_png, m_file);
    png_set_compression_level(m_png, m_compression.level);
    png_set_compression_strategy(m_png, m_compression.strategy);
    png_set_compression_buffer_size(m_png, kCompressionBuffer);
    png_set_filter(m_png, PNG_FILTER_TYPE_BASE, m_compression.filters);
    png_set_IHDR(m_png, m_info, static_cast<png_uint_32>(m_width), static_cast<png_uint_32>(m_height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!profile.empty() && profile.size() <= 0x7FFFFFFF)
        png_set_iCCP(m_png, m_info, name.c_str(), PNG_COMPRESSION_TYPE_BASE, profile.data(),
                     static_cast<png_uint_32>(profile.size()));
    png_write_info(m_png, m_info);
    return true;
}

bool CKvPngWriter::WriteRows(const WORD* rows, LONG count, std::size_t rowWords, std::string* error) {
    if (!m_png)
        return Fail("no file is being written", error);
    if (count < 0 || count > m_height - m_written)
        return Fail("more rows than the picture has", error);
    if (!Rows(rows, count, rowWords))
        return Fail("the rows cannot be written", error);
    m_written += count;
    return true;
}

bool CKvPngWriter::Rows(const WORD* rows, LONG count, std::size_t rowWords) {
    if (setjmp(png_jmpbuf(m_png)) != 0)
        return false;
    for (LONG y = 0; y < count; ++y) {
        const WORD* from = rows + static_cast<std::size_t>(y) * rowWords;
        KvHighBytes(from, m_row.data(), m_row.size());
        png_write_row(m_png, m_row.data());
    }
    return true;
}

bool CKvPngWriter::Finish(std::string* error) {
    if (!m_png)
        return Fail("no file is being written", error);
    if (m_written != m_height)
        return Fail("the picture's rows did not all come", error);
    if (!End())
        return Fail("the file cannot be ended", error);
    png_destroy_write_struct(&m_png, &m_info);
    m_png = nullptr;
    m_info = nullptr;
    const bool closed = std::fclose(m_file) == 0;
    m_file = nullptr;
    if (!closed)
        return Fail("the file cannot be closed", error);
    m_finished = true;
    return true;
}

bool CKvPngWriter::End() {
    if (setjmp(png_jmpbuf(m_png)) != 0)
        return false;
    png_write_end(m_png, m_info);
    return true;
}
