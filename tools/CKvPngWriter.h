// A PNG file of 8-bit RGB written band by band, with its zlib level and row filter chosen for speed: the
// compression of a 24-megapixel picture at libpng's default settings takes several times as long as its
// development (bench/develop measures the choices).
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
    // The settings measured fastest among those that still compress the picture.
    static constexpr Compression kChosen = {1, PNG_FILTER_SUB, Z_DEFAULT_STRATEGY};

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
