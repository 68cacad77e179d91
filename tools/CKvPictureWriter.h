// Writes a developed picture into a file band after band, from the top, as the rows come out of the chain,
// with the colour profile the picture is in embedded: PNG or JPEG (quality 95) of 8-bit samples, or TIFF of
// 16-bit samples, by the file name's ending. The chain's display-encoded 16-bit samples are handed in; an
// 8-bit file takes their high bytes.
#pragma once

#include "platform/win/wintypes.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class CKvPictureWriter {
public:
    enum class Format { kPng, kJpeg, kTiff };
    // JPEG for a name ending in ".jpg" or ".jpeg", TIFF for ".tif" or ".tiff" (in any case), else PNG.
    static Format FormatOf(const std::string& path);
    static std::unique_ptr<CKvPictureWriter> Make(Format format);

    virtual ~CKvPictureWriter() = default;
    // Creates the file and writes what comes before the pixels, the profile among it when there is one
    // (a name of up to 79 characters goes with it in a PNG). False, with a reason in *error, when it cannot.
    virtual bool Begin(const std::string& path, LONG width, LONG height, const std::string& profileName,
                       const std::vector<BYTE>& profile, std::string* error) = 0;
    // The next count rows of width pixels, red, green and blue samples of 16 bits, rowWords apart.
    virtual bool WriteRows(const WORD* rows, LONG count, std::size_t rowWords, std::string* error) = 0;
    // Ends the file once every row was written. A file that fails, or is not finished before the writer
    // goes, is removed: no partial picture is left behind.
    virtual bool Finish(std::string* error) = 0;
};
