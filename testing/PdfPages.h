// What a printed PDF holds, as the poppler tools see it: its pages and their size, and a page drawn at a
// low resolution, so that tests check printed files with a reader that is not ours.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace kvtest {

struct PdfInfo {
    int pages = 0;    // 0 when pdfinfo could not read the file
    double width = 0; // the first page's size in points
    double height = 0;
};
PdfInfo ReadPdfInfo(const std::string& pdf);

// A picture a PDF holds, as pdfimages lists it: its page, its size in pixels and the resolution it is
// printed at in pixels per inch.
struct PdfImage {
    int page = 0;
    int width = 0;
    int height = 0;
    int xPpi = 0;
    int yPpi = 0;
};
std::vector<PdfImage> ListPdfImages(const std::string& pdf);

// A page drawn by pdftoppm: width, height and RGB bytes; empty when it could not be drawn.
struct PageRaster {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
    std::array<int, 3> At(int x, int y) const;
};
// Page (1-based) of the PDF at the resolution in dots per inch; the picture file goes into the folder.
PageRaster DrawPdfPage(const std::string& pdf, int page, int dpi, const std::string& folder);

} // namespace kvtest
