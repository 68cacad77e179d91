#include "CKvTiffWriter.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// libtiff's messages of one file go to its writer, not to the process's standard error: the writers of
// a batch work at once.
int Told(TIFF*, void* user, const char*, const char* format, va_list arguments) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    *static_cast<std::string*>(user) = text;
    return 1;
}

int Ignored(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

} // namespace

CKvTiffWriter::~CKvTiffWriter() {
    Release();
    if (!m_finished && !m_path.empty())
        std::remove(m_path.c_str());
}

void CKvTiffWriter::Release() {
    if (m_tiff)
        TIFFClose(m_tiff);
    m_tiff = nullptr;
}

bool CKvTiffWriter::Fail(const std::string& reason, std::string* error) {
    if (error)
        *error = m_message.empty() ? reason : reason + ": " + m_message;
    Release();
    if (!m_path.empty())
        std::remove(m_path.c_str());
    m_path.clear();
    return false;
}

bool CKvTiffWriter::Begin(const std::string& path, LONG width, LONG height, const std::string&,
                          const std::vector<BYTE>& profile, std::string* error) {
    if (m_tiff)
        return Fail("the writer has begun a file already", error);
    if (width <= 0 || height <= 0)
        return Fail("the picture has no pixels", error);
    if (profile.size() > 0xFFFFFFFFu)
        return Fail("the profile is too large", error);
    m_width = width;
    m_height = height;
    m_row.resize(static_cast<std::size_t>(width) * 3);
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options)
        return Fail("no memory to open the file", error);
    TIFFOpenOptionsSetErrorHandlerExtR(options, Told, &m_message);
    TIFFOpenOptionsSetWarningHandlerExtR(options, Ignored, nullptr);
    m_tiff = TIFFOpenExt(path.c_str(), "w", options);
    TIFFOpenOptionsFree(options);
    if (!m_tiff)
        return Fail("cannot create the file", error);
    m_path = path;
    const bool set =
        TIFFSetField(m_tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width)) &&
        TIFFSetField(m_tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height)) &&
        TIFFSetField(m_tiff, TIFFTAG_SAMPLESPERPIXEL, 3) && TIFFSetField(m_tiff, TIFFTAG_BITSPERSAMPLE, 16) &&
        TIFFSetField(m_tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
        TIFFSetField(m_tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
        TIFFSetField(m_tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE) &&
        TIFFSetField(m_tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(m_tiff, 0)) &&
        (profile.empty() ||
         TIFFSetField(m_tiff, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(profile.size()), profile.data()));
    if (!set)
        return Fail("the file's header cannot be written", error);
    return true;
}

bool CKvTiffWriter::WriteRows(const WORD* rows, LONG count, std::size_t rowWords, std::string* error) {
    if (!m_tiff)
        return Fail("no file is being written", error);
    if (count < 0 || count > m_height - m_written)
        return Fail("more rows than the picture has", error);
    for (LONG y = 0; y < count; ++y) {
        // libtiff may change the row it is handed (byte order, a predictor): it gets a copy.
        std::memcpy(m_row.data(), rows + static_cast<std::size_t>(y) * rowWords, m_row.size() * sizeof(WORD));
        if (TIFFWriteScanline(m_tiff, m_row.data(), static_cast<uint32_t>(m_written + y), 0) < 0)
            return Fail("the rows cannot be written", error);
    }
    m_written += count;
    return true;
}

bool CKvTiffWriter::Finish(std::string* error) {
    if (!m_tiff)
        return Fail("no file is being written", error);
    if (m_written != m_height)
        return Fail("the picture's rows did not all come", error);
    if (!TIFFFlush(m_tiff))
        return Fail("the file cannot be ended", error);
    TIFFClose(m_tiff);
    m_tiff = nullptr;
    m_finished = true;
    return true;
}
