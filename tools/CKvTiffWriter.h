// A TIFF file of 16-bit RGB written band by band, uncompressed so that writing costs no more than the
// bytes, the profile in its ICC tag.
#pragma once

#include "CKvPictureWriter.h"

#include <tiffio.h>

class CKvTiffWriter final : public CKvPictureWriter {
public:
    CKvTiffWriter() = default;
    ~CKvTiffWriter() override;
    CKvTiffWriter(const CKvTiffWriter&) = delete;
    CKvTiffWriter& operator=(const CKvTiffWriter&) = delete;

    bool Begin(const std::string& path, LONG width, LONG height, const std::string& profileName,
               const std::vector<BYTE>& profile, std::string* error) override;
    bool WriteRows(const WORD* rows, LONG count, std::size_t rowWords, std::string* error) override;
    bool Finish(std::string* error) override;

private:
    bool Fail(const std::string& reason, std::string* error);
    void Release();

    std::string m_path;
    TIFF* m_tiff = nullptr;
    std::string m_message; // what libtiff said of this file's failure
    std::vector<WORD> m_row;
    LONG m_width = 0;
    LONG m_height = 0;
    LONG m_written = 0;
    bool m_finished = false;
};
