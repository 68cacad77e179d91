#include "CHostPhotos.h"

#include "platform/zizoraz/IproImageFile.h"
#include "platform/zizoraz/IproJpegCodec.h"
#include "platform/zizoraz/IproPngCodec.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>

namespace {

std::vector<BYTE> Encode(const IproPixels& pixels, int quality) {
    std::vector<BYTE> bytes;
    if (!IproJpegCodec::Encode(pixels, quality, bytes))
        bytes.clear();
    return bytes;
}

std::uint32_t Opaque(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
    return 0xFF000000u | red << 16 | green << 8 | blue;
}

} // namespace

std::vector<BYTE> CHostPhotos::SolidJpeg(LONG width, LONG height, const std::array<BYTE, 3>& rgb,
                                         int quality) {
    IproPixels pixels;
    if (!IproLimits::MakePixels(width, height, pixels))
        return {};
    std::fill(pixels.argb.begin(), pixels.argb.end(), Opaque(rgb[0], rgb[1], rgb[2]));
    return Encode(pixels, quality);
}

std::vector<BYTE> CHostPhotos::SceneJpeg(LONG width, LONG height, int quality) {
    IproPixels pixels;
    if (!IproLimits::MakePixels(width, height, pixels))
        return {};
    for (LONG y = 0; y < height; ++y) {
        for (LONG x = 0; x < width; ++x) {
            const double u = static_cast<double>(x) / width, v = static_cast<double>(y) / height;
            // Sky to ground, a sun, and a fence of single-pixel pickets in the lower third.
            const double sun = std::exp(-((u - 0.7) * (u - 0.7) + (v - 0.25) * (v - 0.25)) * 60);
            const bool picket = v > 0.66 && v < 0.8 && x % 2 == 0;
            const double red = picket ? 230 : 60 + 150 * v + 90 * sun;
            const double green = picket ? 220 : 110 + 80 * v * (1 - u) + 80 * sun;
            const double blue = picket ? 200 : 220 - 170 * v;
            const auto level = [](double value) {
                return static_cast<std::uint32_t>(std::clamp(value, 0.0, 255.0));
            };
            pixels.At(x, y) = Opaque(level(red), level(green), level(blue));
        }
    }
    return Encode(pixels, quality);
}

CHostItemRecord CHostPhotos::JpegItem(KvwItemId id, const std::string& path, std::vector<BYTE> jpeg) {
    CHostItemRecord item;
    item.id = id;
    item.data.path = path;
    LONG width = 0, height = 0;
    IproJpegCodec::ReadSize(jpeg.data(), jpeg.size(), width, height);
    item.source.width = static_cast<DWORD>(width);
    item.source.height = static_cast<DWORD>(height);
    item.SetSizeRecords(static_cast<DWORD>(width), static_cast<DWORD>(height));
    item.fullJpeg = std::make_shared<const std::vector<BYTE>>(std::move(jpeg));
    item.fullHeld = true;
    return item;
}

bool CHostPhotos::FileItem(KvwItemId id, const std::string& path, CHostItemRecord& item, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (!file || ec) {
        error = "cannot be read";
        return false;
    }
    if (size == 0) {
        error = "is empty";
        return false;
    }
    if (size > IproImageFile::kMaxFileBytes) {
        error = "is larger than the " + std::to_string(IproImageFile::kMaxFileBytes >> 20) +
                " MB a picture may have";
        return false;
    }
    std::vector<BYTE> bytes(static_cast<std::size_t>(size));
    if (!file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
        error = "cannot be read";
        return false;
    }
    IproPixels pixels;
    if (IproJpegCodec::HasSignature(bytes.data(), bytes.size())) {
        // Decoded whole once, at the smallest scale, so that a damaged file is refused now, not printed
        // as a gap later.
        if (!IproJpegCodec::Decode(bytes.data(), bytes.size(), 1, 1, pixels)) {
            error = "is a damaged JPEG picture";
            return false;
        }
        item = JpegItem(id, path, std::move(bytes));
        return true;
    }
    if (IproPngCodec::HasSignature(bytes.data(), bytes.size())) {
        if (!IproPngCodec::Decode(bytes.data(), bytes.size(), pixels)) {
            error = "is a damaged PNG picture";
            return false;
        }
        item = CHostItemRecord{};
        item.id = id;
        item.data.path = path;
        item.source.width = static_cast<DWORD>(pixels.width);
        item.source.height = static_cast<DWORD>(pixels.height);
        item.SetSizeRecords(item.source.width, item.source.height);
        item.fullPicture = std::make_shared<const CHostPicture>(CHostPicture::FromPixels(pixels, 3));
        item.fullHeld = true;
        return true;
    }
    error = "is neither a JPEG nor a PNG picture";
    return false;
}

std::shared_ptr<const CHostPicture>
CHostPhotos::QuadrantPicture(LONG width, LONG height, const std::array<std::uint32_t, 4>& colours) {
    auto picture = std::make_shared<CHostPicture>();
    if (width <= 0 || height <= 0)
        return picture;
    picture->width = width;
    picture->height = height;
    picture->channels = 3;
    picture->samples.reserve(static_cast<std::size_t>(width) * height * 3);
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x) {
            const std::uint32_t rgb = colours[(y >= height / 2 ? 2 : 0) + (x >= width / 2 ? 1 : 0)];
            for (int shift : {16, 8, 0})
                picture->samples.push_back(static_cast<BYTE>(rgb >> shift));
        }
    return picture;
}

CHostItemRecord CHostPhotos::QuadrantItem(KvwItemId id, std::shared_ptr<const CHostPicture> picture) {
    CHostItemRecord item;
    item.id = id;
    if (!picture)
        return item;
    item.source.width = static_cast<DWORD>(picture->width);
    item.source.height = static_cast<DWORD>(picture->height);
    item.SetSizeRecords(item.source.width, item.source.height);
    item.previewPicture = picture;
    item.previewHeld = true;
    item.fullPicture = std::move(picture);
    item.fullHeld = true;
    return item;
}

std::vector<std::string> CHostPhotos::AwkwardPaths() {
    return {"/photos/2026/O'Brien \"at the pier\".jpg", "/photos/2026/Tom & Jerry $5.jpg",
            "/photos/card-a/IMG_0001.jpg", "/photos/card-b/IMG_0001.jpg"};
}

std::shared_ptr<const CHostPicture> CHostPhotos::Decode(const std::vector<BYTE>& jpeg,
                                                        const CKvwSizeRecord* wanted) {
    const auto side = [](DWORD value) {
        return static_cast<LONG>(std::min<DWORD>(value, std::numeric_limits<LONG>::max()));
    };
    IproPixels pixels;
    if (!IproJpegCodec::Decode(jpeg.data(), jpeg.size(), wanted ? side(wanted->width) : 0,
                               wanted ? side(wanted->height) : 0, pixels))
        return nullptr;
    return std::make_shared<const CHostPicture>(CHostPicture::FromPixels(pixels, 3));
}
