// A PNG file of 8-bit RGB written band by band, with its compression chosen for speed: at libpng's default
// settings a 24-megapixel picture takes longer to compress than to develop. bench/develop (PngSettings)
// measures the choices on the developed picture.
#pragma once

#include "CKvPictureWriter.h"

#include <png.h>
#include <zlib.h>

#include <cstdio>

class CKvPngWriter final : public CKvPictureWriter {
public:
    struct Compression {
        int level;    // zlib's, 0 to 9
        int filters;  // PNG_FILTER_... bits libpng chooses among per row
        int strategy; // zlib's
    };
    // Measured fastest of the settings that still compress: runs of equal bytes after the Up filter. On
    // the benchmarks' 24-megapixel picture a third of the time of libpng's defaults for a file 1.4 times
    // the size; on a noisy camera picture, where long matches are few, the smallest file too.
    static constexpr Compression kChosen = {1, PNG_FILTER_UP, Z_RLE};

    explicit CKvPngWriter(Compression compression = kChosen);
    ~CKvPngWriter() override;
    CKvPngWriter(const CKvPngWriter&) = delete;
    CKvPngWriter& operator=(const CKvPngWriter&) = delete;

    bool Begin(const std::string& path, LONG width, LONG height, const std::string& profileName,
               const std::vector<BYTE>& profile, std::string* error) override;
    bool WriteRows(const WORD* rows, LONG count, std::size_t rowWords, std::string* error) override;
    bool Finish(std::string* error) override;

private:
    // Ends the write and removes the file; false with the reason.
    bool Fail(const std::string& reason, std::string* error);
    bool Header(const std::string& profileName, const std::vector<BYTE>& profile);
    bool Rows(const WORD* rows, LONG count, std::size_t rowWords);
    bool End();
    void Release();

    Compression m_compression;
    std::string m_path;
    std::FILE* m_file = nullptr;
    png_structp m_png = nullptr;
    png_infop m_info = nullptr;
    std::string m_message; // what libpng said when it gave up
    std::vector<BYTE> m_row;
    LONG m_width = 0;
    LONG m_height = 0;
    LONG m_written = 0;
    bool m_finished = false;
};
