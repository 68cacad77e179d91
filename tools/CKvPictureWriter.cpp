#include "CKvPictureWriter.h"

#include "CKvJpegWriter.h"
#include "CKvPngWriter.h"
#include "CKvTiffWriter.h"

#include <algorithm>
#include <cctype>

namespace {

bool EndsWith(const std::string& path, const std::string& ending) {
    if (path.size() < ending.size())
        return false;
    return std::equal(ending.rbegin(), ending.rend(), path.rbegin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
}

} // namespace

CKvPictureWriter::Format CKvPictureWriter::FormatOf(const std::string& path) {
    if (EndsWith(path, ".jpg") || EndsWith(path, ".jpeg"))
        return Format::kJpeg;
    if (EndsWith(path, ".tif") || EndsWith(path, ".tiff"))
        return Format::kTiff;
    return Format::kPng;
}

std::unique_ptr<CKvPictureWriter> CKvPictureWriter::Make(Format format) {
    switch (format) {
    case Format::kJpeg:
        return std::make_unique<CKvJpegWriter>();
    case Format::kTiff:
        return std::make_unique<CKvTiffWriter>();
    case Format::kPng:
        break;
    }
    return std::make_unique<CKvPngWriter>();
}
