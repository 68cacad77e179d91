// A JPEG file of 8-bit RGB at quality 95 written band by band with libjpeg-turbo's defaults otherwise (its
// accurate integer transform, chroma halved in both directions), the profile in APP2 markers.
#pragma once

#include "CKvPictureWriter.h"

#include <cstdio>
#include <memory>

class CKvJpegWriter final : public CKvPictureWriter {
public:
    static constexpr int kQuality = 95;

    CKvJpegWriter();
    ~CKvJpegWriter() override;
    CKvJpegWriter(const CKvJpegWriter&) = delete;
    CKvJpegWriter& operator=(const CKvJpegWriter&) = delete;

    bool Begin(const std::string& path, LONG width, LONG height, const std::string& profileName,
               const std::vector<BYTE>& profile, std::string* error) override;
    bool WriteRows(const WORD* rows, LONG count, std::size_t rowWords, std::string* error) override;
    bool Finish(std::string* error) override;

    // The library's compressor and its error manager (CKvJpegWriter.cpp).
    struct State;

private:
    bool Fail(const std::string& reason, std::string* error);
    void Release();

    std::unique_ptr<State> m_state;
    std::string m_path;
    std::FILE* m_file = nullptr;
    std::vector<BYTE> m_row;
    LONG m_width = 0;
    LONG m_height = 0;
    LONG m_written = 0;
    bool m_finished = false;
};
