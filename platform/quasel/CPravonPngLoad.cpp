#include "CPravonPngLoad.h"

#include "platform/pravon/PravonImageData.h"

#include <png.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <new>

namespace {

constexpr LONG kComponent = CPravonPngLoad::kComponent;
constexpr std::size_t kSignatureBytes = 8;
// The source-size tags every loader gives its tag control.
constexpr ULONG kWidthTag = 0x10000;
constexpr ULONG kHeightTag = 0x10001;
constexpr ULONG kColorSpaceTag = 0x10002;
constexpr LONG kLongTagType = 4;

// libpng reports an error by leaving through longjmp. Every function below that calls into it sets its
// jump point first and keeps no object with a destructor alive across those calls.
void OnError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void OnWarning(png_structp, png_const_charp) {}

void ReadBytes(png_structp png, png_bytep out, std::size_t count) {
    auto* stream = static_cast<IPravonFileStream*>(png_get_io_ptr(png));
    if (count > std::numeric_limits<ULONG>::max())
        png_error(png, "read too large");
    ULONG done = 0;
    if (IPravonError* e = stream->Read(out, static_cast<ULONG>(count), &done)) {
        e->Release();
        png_error(png, "read failed");
    }
    if (done != count)
        png_error(png, "the file ends early");
}

// Far beyond any profile or text a picture carries.
constexpr png_alloc_size_t kMaxChunkBytes = 16u << 20;

struct Layout {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int channels = 0;
    int depth = 0;
    int passes = 1;
    std::size_t rowBytes = 0;
};

// Reads the header and sets the transforms that give the layout of the class comment.
bool ReadHeader(png_structp png, png_infop info, Layout* layout) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    // A chunk states its length before its bytes, and libpng makes room for it first: no ancillary
    // chunk may ask for more than this, whatever the file says.
    png_set_chunk_malloc_max(png, kMaxChunkBytes);
    png_read_info(png, info);
    const int type = png_get_color_type(png, info);
    const int depth = png_get_bit_depth(png, info);
    if (type == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    if (type == PNG_COLOR_TYPE_GRAY && depth < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (transparency)
        png_set_tRNS_to_alpha(png);
    if (depth == 16 && std::endian::native == std::endian::little)
        png_set_swap(png);
    if ((type & PNG_COLOR_MASK_ALPHA) || transparency) {
        if (!(type & PNG_COLOR_MASK_COLOR) && type != PNG_COLOR_TYPE_PALETTE)
            png_set_gray_to_rgb(png);
        png_set_swap_alpha(png);
    }
    layout->passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    layout->width = png_get_image_width(png, info);
    layout->height = png_get_image_height(png, info);
    layout->channels = png_get_channels(png, info);
    layout->depth = png_get_bit_depth(png, info);
    layout->rowBytes = png_get_rowbytes(png, info);
    return true;
}

bool ReadRows(png_structp png, BYTE* rows, std::size_t rowBytes, LONG count) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    for (LONG r = 0; r < count; ++r)
        png_read_row(png, rows + static_cast<std::size_t>(r) * rowBytes, nullptr);
    return true;
}

bool ReadImage(png_structp png, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_image(png, rows);
    return true;
}

LONG ColorSpaceOf(const Layout& layout) {
    const bool wide = layout.depth == 16;
    switch (layout.channels) {
    case 1:
        return wide ? PravonColorSpace::kGrey16 : PravonColorSpace::kGrey8;
    case 3:
        return wide ? PravonColorSpace::kRGB16 : PravonColorSpace::kRGB8;
    case 4:
        return wide ? CPravonPngLoad::kAlphaRgb16 : CPravonPngLoad::kAlphaRgb8;
    default:
        return 0;
    }
}

} // namespace

struct CPravonPngLoad::Decoder {
    Decoder() {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, &OnError, &OnWarning);
        if (png)
            info = png_create_info_struct(png);
    }
    ~Decoder() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    png_structp png = nullptr;
    png_infop info = nullptr;
    int passes = 1;
    // An interlaced file is decoded whole at the first step; the steps then hand it out band by band.
    std::vector<BYTE> whole;
    bool wholeRead = false;
};

bool CPravonPngLoad::HasSignature(const BYTE* data, std::size_t size) {
    return data && size >= kSignatureBytes && png_sig_cmp(data, 0, kSignatureBytes) == 0;
}

CPravonPngLoad::CPravonPngLoad() = default;

CPravonPngLoad::~CPravonPngLoad() {
    Reset();
}

void CPravonPngLoad::Reset() {
    m_decoder.reset();
    if (m_image)
        m_image->Release();
    if (m_tags)
        m_tags->Release();
    if (m_stream)
        m_stream->Release();
    m_image = nullptr;
    m_tags = nullptr;
    m_stream = nullptr;
    m_width = m_height = m_colorSpace = 0;
    m_rowBytes = 0;
    m_nextRow = 0;
    m_band.clear();
}

ULONG CPravonPngLoad::AddRef() {
    return ++m_references;
}

ULONG CPravonPngLoad::Release() {
    const ULONG left = --m_references;
    if (left == 0)
        delete this;
    return left;
}

IPravonError* CPravonPngLoad::Open(IPravonFileStream* stream, IPravonTagControl* tags) {
    if (!stream || !tags)
        return PravonFail(kComponent, PravonKind::kBadArgument, "a loader needs a stream and a tag control");
    Reset();
    if (IPravonError* e = stream->Seek(0))
        return PravonContext(e, kComponent, "cannot go to the start of the file");
    BYTE signature[kSignatureBytes] = {};
    ULONG done = 0;
    if (IPravonError* e = stream->Read(signature, kSignatureBytes, &done))
        return PravonContext(e, kComponent, "cannot read the file's signature");
    if (!HasSignature(signature, done))
        return PravonFail(kComponent, PravonKind::kMissingInput, "the file is no PNG file");

    auto decoder = std::unique_ptr<Decoder>(new (std::nothrow) Decoder);
    if (!decoder || !decoder->png || !decoder->info)
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for a PNG decoder");
    png_set_read_fn(decoder->png, stream, &ReadBytes);
    png_set_sig_bytes(decoder->png, static_cast<int>(kSignatureBytes));
    Layout layout;
    if (!ReadHeader(decoder->png, decoder->info, &layout))
        return PravonFail(kComponent, PravonKind::kMissingInput, "the PNG header is damaged or cut short");
    const LONG colorSpace = ColorSpaceOf(layout);
    const ULONGLONG pixels = ULONGLONG{layout.width} * layout.height;
    if (layout.width == 0 || layout.height == 0 || layout.width > kMaxSide || layout.height > kMaxSide ||
        pixels > kMaxPixels)
        return PravonFail(kComponent, PravonKind::kOutOfRange, "the PNG image is larger than the limits");
    if (colorSpace == 0 || (layout.depth != 8 && layout.depth != 16) ||
        layout.rowBytes != std::size_t{layout.width} * layout.channels * (layout.depth / 8))
        return PravonFail(kComponent, PravonKind::kUnsupportedColorSpace, "a PNG layout the loader lacks");

    const LONG size[3] = {static_cast<LONG>(layout.width), static_cast<LONG>(layout.height), colorSpace};
    const ULONG sizeTags[3] = {kWidthTag, kHeightTag, kColorSpaceTag};
    for (int i = 0; i < 3; ++i)
        if (IPravonError* e = tags->WriteTag(sizeTags[i], kLongTagType, sizeof(LONG), &size[i]))
            return PravonContext(e, kComponent, "cannot give the source size to the tag control");

    decoder->passes = layout.passes;
    m_decoder = std::move(decoder);
    stream->AddRef();
    m_stream = stream;
    tags->AddRef();
    m_tags = tags;
    m_width = size[0];
    m_height = size[1];
    m_colorSpace = colorSpace;
    m_rowBytes = layout.rowBytes;
    return nullptr;
}

IPravonError* CPravonPngLoad::Begin(IPravonImage* image) {
    if (!image)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no image to load into");
    if (!m_decoder)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the loader has no file open");
    if (m_image || m_nextRow > 0)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the file is being loaded already");
    if (IPravonError* e = image->SetColorSpace(m_colorSpace))
        return PravonContext(e, kComponent, "cannot give the image its colour space");
    if (IPravonError* e = image->SetSize(m_width, m_height))
        return PravonContext(e, kComponent, "cannot give the image its size");
    LONG tileSize = 0;
    if (IPravonError* e = image->GetTileSize(&tileSize))
        return PravonContext(e, kComponent, "cannot read the image's tile size");
    if (tileSize < 1)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the image has no tiles");
    image->AddRef();
    m_image = image;
    m_tileSize = tileSize;
    return nullptr;
}

IPravonError* CPravonPngLoad::Step() {
    if (!m_image || !m_decoder)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the load has not begun");
    if (IsComplete())
        return nullptr;
    const LONG rows = std::min(m_tileSize, m_height - m_nextRow);
    const BYTE* band = nullptr;
    try {
        if (m_decoder->passes > 1) {
            if (!m_decoder->wholeRead) {
                m_decoder->whole.resize(m_rowBytes * static_cast<std::size_t>(m_height));
                std::vector<png_bytep> pointers(static_cast<std::size_t>(m_height));
                for (std::size_t r = 0; r < pointers.size(); ++r)
                    pointers[r] = m_decoder->whole.data() + r * m_rowBytes;
                if (!ReadImage(m_decoder->png, pointers.data())) {
                    m_decoder.reset();
                    return PravonFail(kComponent, PravonKind::kMissingInput, "the PNG data is damaged");
                }
                m_decoder->wholeRead = true;
            }
            band = m_decoder->whole.data() + static_cast<std::size_t>(m_nextRow) * m_rowBytes;
        } else {
            m_band.resize(m_rowBytes * static_cast<std::size_t>(rows));
            if (!ReadRows(m_decoder->png, m_band.data(), m_rowBytes, rows)) {
                // libpng cannot go on after an error: the load ends here.
                m_decoder.reset();
                return PravonFail(kComponent, PravonKind::kMissingInput,
                                  "the PNG data is damaged or cut short");
            }
            band = m_band.data();
        }
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the PNG rows");
    }
    if (IPravonError* e =
            PravonSetData(m_image, CPravonRect(0, m_nextRow, m_width, m_nextRow + rows), band, m_rowBytes))
        return PravonContext(e, kComponent, "cannot fill the image's tiles");
    m_nextRow += rows;
    if (m_nextRow >= m_height)
        m_decoder->whole = std::vector<BYTE>();
    return nullptr;
}
