#include "PdfPages.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>

namespace kvtest {

namespace {

// Everything the command printed.
std::string OutputOf(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string out;
    char line[512];
    while (pipe && fgets(line, sizeof line, pipe.get()))
        out += line;
    return out;
}

} // namespace

PdfInfo ReadPdfInfo(const std::string& pdf) {
    const std::string text = OutputOf("pdfinfo '" + pdf + "' 2>/dev/null");
    PdfInfo info;
    const std::size_t pages = text.find("Pages:");
    const std::size_t size = text.find("Page size:");
    if (pages == std::string::npos || size == std::string::npos ||
        std::sscanf(text.c_str() + pages, "Pages: %d", &info.pages) != 1 ||
        std::sscanf(text.c_str() + size, "Page size: %lf x %lf", &info.width, &info.height) != 2)
        return PdfInfo{};
    return info;
}

std::vector<PdfImage> ListPdfImages(const std::string& pdf) {
    // Below two header lines, one line a picture: page num type width height color comp bpc enc interp
    // object ID x-ppi y-ppi size ratio.
    const std::string text = OutputOf("pdfimages -list '" + pdf + "' 2>/dev/null");
    std::vector<PdfImage> images;
    std::size_t start = 0;
    for (int line = 0; start < text.size(); ++line) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        PdfImage image;
        int number = 0, components = 0, bits = 0, object = 0, generation = 0;
        char type[32] = {}, colour[32] = {}, encoding[32] = {}, interpolated[32] = {};
        if (line >= 2 &&
            std::sscanf(text.substr(start, end - start).c_str(),
                        "%d %d %31s %d %d %31s %d %d %31s %31s %d %d %d %d", &image.page, &number, type,
                        &image.width, &image.height, colour, &components, &bits, encoding, interpolated,
                        &object, &generation, &image.xPpi, &image.yPpi) == 14)
            images.push_back(image);
        start = end + 1;
    }
    return images;
}

std::array<int, 3> PageRaster::At(int x, int y) const {
    const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
}

PageRaster DrawPdfPage(const std::string& pdf, int page, int dpi, const std::string& folder) {
    const std::string base = folder + "/page" + std::to_string(page);
    OutputOf("pdftoppm -r " + std::to_string(dpi) + " -f " + std::to_string(page) + " -l " +
             std::to_string(page) + " -singlefile '" + pdf + "' '" + base + "'");
    std::ifstream file(base + ".ppm", std::ios::binary);
    PageRaster raster;
    std::string magic;
    int maximum = 0;
    file >> magic >> raster.width >> raster.height >> maximum;
    file.get();
    if (magic != "P6" || !file || raster.width <= 0 || raster.height <= 0)
        return PageRaster{};
    raster.rgb.resize(static_cast<std::size_t>(raster.width) * raster.height * 3);
    file.read(reinterpret_cast<char*>(raster.rgb.data()), static_cast<std::streamsize>(raster.rgb.size()));
    return file ? raster : PageRaster{};
}

} // namespace kvtest
