// Photos for the host's item store: JPEG files our own encoder writes (one colour, or a smooth scene with
// fine detail), items that serve them under the file names users give pictures, items of the user's own
// JPEG and PNG files, and the decoding of an item's JPEG at the size a module wants.
#pragma once

#include "CHostPicture.h"
#include "CHostServices.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace CHostPhotos {

// Baseline JPEG bytes of one colour (red, green, blue).
std::vector<BYTE> SolidJpeg(LONG width, LONG height, const std::array<BYTE, 3>& rgb, int quality = 90);
// A scene of gradients with detail down to single pixels, the same for the same size.
std::vector<BYTE> SceneJpeg(LONG width, LONG height, int quality = 90);
// An item whose full image the host holds as the JPEG, its size records and source size from the file's
// header and its path (UTF-8, folders joined with '/') as given.
CHostItemRecord JpegItem(KvwItemId id, const std::string& path, std::vector<BYTE> jpeg);
// An item of the user's own photo file, a JPEG or PNG file whose path (UTF-8, as given) it keeps: a JPEG is
// served as JpegItem serves it, a PNG as its picture (8 bits); both hold their full image from the start and
// have previews made when asked for. False, with the reason in error (which names no path), for a file
// that cannot be read, is empty or too large, is neither JPEG nor PNG, or does not decode whole.
bool FileItem(KvwItemId id, const std::string& path, CHostItemRecord& item, std::string& error);
// A picture of four colours, one a quadrant (top left, top right, bottom left, bottom right, as 0xRRGGBB);
// a side of odd length gives the right or lower quadrants its extra row or column.
std::shared_ptr<const CHostPicture> QuadrantPicture(LONG width, LONG height,
                                                    const std::array<std::uint32_t, 4>& colours);
// An item whose preview and full image the host holds as that picture, its source size and size records
// the picture's.
CHostItemRecord QuadrantItem(KvwItemId id, std::shared_ptr<const CHostPicture> picture);
// Paths that break naive text handling: quotes, an ampersand and a dollar, and one base name in two folders.
std::vector<std::string> AwkwardPaths();

// The picture of the bytes: decoded at the smallest eighth of its size not below the wanted size (the
// full size without one), three channels; null when the bytes do not decode.
std::shared_ptr<const CHostPicture> Decode(const std::vector<BYTE>& jpeg, const CKvwSizeRecord* wanted);

} // namespace CHostPhotos
