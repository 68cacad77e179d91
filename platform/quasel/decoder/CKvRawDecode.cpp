#include "CKvRawDecode.h"

#include <libraw/libraw.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace KvRawDecoder;

// A file's filter word below this value is no 2 x 2 pattern (none, or a larger repeat).
constexpr unsigned kSmallestBayerFilters = 1000;
constexpr unsigned kBlackPatternStart = 6;
constexpr std::uint16_t kMaxLinearSample = 65535;
// Bit readers may ask for a few bytes beyond the last coded one at the very end of a file; more than
// this, and the file ends before its image data does.
constexpr unsigned long long kOverreadTolerance = 64;
// A file read by name goes through a buffer of this size: a handful of reads for a whole sensor, and few
// pages to fault in.
constexpr std::size_t kReadBufferBytes = std::size_t{1} << 20;
// LibRaw's orientation ("flip": bit 4 transposes, 2 turns rows over, 1 columns) as EXIF codes.
constexpr std::uint32_t kExifOfFlip[8] = {1, 2, 4, 3, 5, 8, 6, 7};

// Counts what LibRaw asks for beyond the end of the file once the image data is being unpacked: those are
// bytes the file does not hold, so the picture would be made up where they belong. Over the file's bytes
// in memory, or over the file itself read through a buffer as LibRaw asks for it.
template <class Base>
class CCountingStream final : public Base {
public:
    template <class... Source>
    explicit CCountingStream(std::size_t size, Source&&... source)
        : Base(std::forward<Source>(source)...), m_size(size) {}

    int read(void* ptr, size_t sz, size_t nmemb) override {
        const INT64 at = this->tell();
        const unsigned long long want = static_cast<unsigned long long>(sz) * nmemb;
        const unsigned long long left =
            at >= 0 && static_cast<unsigned long long>(at) < m_size ? m_size - at : 0;
        if (counting && want > left)
            missing += want - left;
        return Base::read(ptr, sz, nmemb);
    }
    int get_char() override {
        const int c = Base::get_char();
        if (counting && c < 0)
            ++missing;
        return c;
    }

    bool counting = false;
    unsigned long long missing = 0;

private:
    std::size_t m_size;
};

// A file read by name, a buffer at a time: no copy of the whole file is made.
class CBufferedFileStream : public LibRaw_bigfile_datastream {
public:
    CBufferedFileStream(const std::string& path, std::size_t bufferBytes)
        : LibRaw_bigfile_datastream(path.c_str()) {
        if (f)
            setvbuf(f, nullptr, _IOFBF, bufferBytes);
    }
};

struct DataErrors {
    int count = 0;
    int offset = 0;
};

void OnDataError(void* data, const char*, const int offset) {
    auto* errors = static_cast<DataErrors*>(data);
    if (errors->count++ == 0)
        errors->offset = offset;
}

// The black level of one pixel: the overall one, the colour's own and the repeating pattern's.
unsigned BlackAt(const libraw_colordata_t& color, int colourIndex, int row, int col) {
    unsigned black = color.black + color.cblack[colourIndex];
    const unsigned rows = color.cblack[4], cols = color.cblack[5];
    if (rows && cols) {
        const std::size_t at = kBlackPatternStart + (row % rows) * cols + (col % cols);
        if (at < LIBRAW_CBLACK_SIZE)
            black += color.cblack[at];
    }
    return black;
}

// Sensor values to samples of 0..top: black removed, the white level scaled to top. Without a repeating
// black pattern each colour has one table over every sensor value, so a pixel costs one lookup.
class CSampleScaler {
public:
    CSampleScaler(const libraw_colordata_t& color, unsigned top) : m_color(color), m_top(top) {
        m_patterned = color.cblack[4] && color.cblack[5];
        if (m_patterned)
            return;
        for (int c = 0; c < 4; ++c) {
            m_tables[c].resize(kSensorValues);
            const unsigned black = BlackAt(color, c, 0, 0);
            for (unsigned v = 0; v < kSensorValues; ++v)
                m_tables[c][v] = Scale(v, black);
        }
    }
    std::uint16_t operator()(unsigned value, int colourIndex, int row, int col) const {
        if (!m_patterned)
            return m_tables[colourIndex][value];
        return Scale(value, BlackAt(m_color, colourIndex, row, col));
    }

private:
    static constexpr unsigned kSensorValues = 65536;

    std::uint16_t Scale(unsigned value, unsigned black) const {
        if (value <= black)
            return 0;
        const double range = m_color.maximum > black ? double(m_color.maximum - black) : 1.0;
        return static_cast<std::uint16_t>(
            std::min<double>(std::lround((value - black) * double(m_top) / range), m_top));
    }

    const libraw_colordata_t& m_color;
    unsigned m_top;
    bool m_patterned = false;
    std::vector<std::uint16_t> m_tables[4];
};

// The samples go to the answer a piece of rows at a time, a piece small enough to stay in the cache: the
// answer is never mapped here, whose every page would be a fault of its own.
constexpr std::size_t kPieceBytes = std::size_t{1} << 20;

unsigned RowsPerPiece(std::size_t samplesPerRow) {
    return static_cast<unsigned>(
        std::max<std::size_t>(1, kPieceBytes / (samplesPerRow * sizeof(std::uint16_t))));
}

void CopyText(char* to, std::size_t size, const char* from) {
    std::snprintf(to, size, "%s", from ? from : "");
}

constexpr std::uint16_t kUnsetIlluminant = 0xFFFF;

bool AnyNonZero(const float* values) {
    return std::any_of(values, values + 9, [](float v) { return v != 0; });
}

struct LibRawDeleter {
    void operator()(LibRaw* raw) const { delete raw; }
};

} // namespace

CKvRawDecode::CKvRawDecode(const unsigned char* file, std::size_t size) : m_file(file), m_size(size) {
    Begin();
}

CKvRawDecode::CKvRawDecode(std::string path, std::size_t size) : m_path(std::move(path)), m_size(size) {
    Begin();
}

void CKvRawDecode::Begin() {
    std::memcpy(m_answer.magic, kMagic, sizeof kMagic);
    m_answer.version = kVersion;
    m_answer.status = kDecoded;
    m_answer.orientation = 1;
}

void CKvRawDecode::Refuse(std::uint32_t status, const std::string& why) {
    m_answer.status = status;
    CopyText(m_answer.message, sizeof m_answer.message, why.c_str());
}

bool CKvRawDecode::Run(int answerDescriptor) {
    m_answerDescriptor = answerDescriptor;
    try {
        Decode();
    } catch (const std::bad_alloc&) {
        Refuse(kNoMemory, "the decoder ran out of memory");
    } catch (...) {
        Refuse(kRefused, "the decoder could not read the file");
    }
    if (!m_answerWritten || m_answer.status != kDecoded) {
        // A refusal is the header alone.
        m_answer.sampleOffset = m_answer.sampleBytes = 0;
        if (ftruncate(answerDescriptor, static_cast<off_t>(sizeof(Answer))) != 0)
            return false;
    }
    // The header last, complete.
    return Send(&m_answer, sizeof m_answer, 0);
}

bool CKvRawDecode::BeginAnswer(std::size_t sampleBytes) {
    const std::size_t offset = sizeof(Answer);
    if (ftruncate(m_answerDescriptor, static_cast<off_t>(offset + sampleBytes)) != 0) {
        Refuse(kNoMemory, "the decoder's answer could not be made");
        return false;
    }
    m_answer.sampleOffset = offset;
    m_answer.sampleBytes = sampleBytes;
    m_answerWritten = true;
    return true;
}

bool CKvRawDecode::Send(const void* bytes, std::size_t count, std::size_t at) {
    const auto* from = static_cast<const unsigned char*>(bytes);
    for (std::size_t done = 0; done < count;) {
        const ssize_t n =
            pwrite(m_answerDescriptor, from + done, count - done, static_cast<off_t>(at + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

template <class Fill>
bool CKvRawDecode::SendRows(unsigned height, std::size_t samplesPerRow, const Fill& fill) {
    const unsigned rowsPerPiece = RowsPerPiece(samplesPerRow);
    std::vector<std::uint16_t> piece;
    for (unsigned top = 0; top < height; top += rowsPerPiece) {
        const unsigned rows = std::min(rowsPerPiece, height - top);
        piece.resize(std::size_t{rows} * samplesPerRow);
        for (unsigned y = top; y < top + rows; ++y)
            fill(y, piece.data() + std::size_t{y - top} * samplesPerRow);
        if (!Send(piece.data(), piece.size() * sizeof(std::uint16_t),
                  sizeof(Answer) + std::size_t{top} * samplesPerRow * sizeof(std::uint16_t))) {
            Refuse(kNoMemory, "the decoder's answer could not be written");
            return false;
        }
    }
    return true;
}

void CKvRawDecode::TakeMetadata(LibRaw& raw) {
    const libraw_data_t& d = raw.imgdata;
    m_answer.orientation = kExifOfFlip[d.sizes.flip & 7];
    for (int c = 0; c < 3; ++c)
        m_answer.asShotMultipliers[c] = d.color.cam_mul[c];
    m_answer.isDng = d.idata.dng_version != 0;
    for (int i = 0; i < 2; ++i) {
        const libraw_dng_color_t& from = d.color.dng_color[i];
        DngColor& to = m_answer.dng[i];
        to.fields = 0;
        to.illuminant = from.illuminant;
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                to.colorMatrix[3 * r + c] = from.colormatrix[r][c];
                to.forwardMatrix[3 * r + c] = from.forwardmatrix[r][c];
                to.calibration[3 * r + c] = from.calibration[r][c];
            }
        // This LibRaw marks what it parsed in its per-directory copies only: a matrix counts as given when
        // it is not all zeros, an illuminant when it is not the "unset" value.
        if ((from.parsedfields & LIBRAW_DNGFM_COLORMATRIX) || AnyNonZero(to.colorMatrix))
            to.fields |= kHasColorMatrix;
        if ((from.parsedfields & LIBRAW_DNGFM_FORWARDMATRIX) || AnyNonZero(to.forwardMatrix))
            to.fields |= kHasForwardMatrix;
        if ((from.parsedfields & LIBRAW_DNGFM_CALIBRATION) || AnyNonZero(to.calibration))
            to.fields |= kHasCalibration;
        if ((from.parsedfields & LIBRAW_DNGFM_ILLUMINANT) ||
            (from.illuminant != 0 && from.illuminant != kUnsetIlluminant))
            to.fields |= kHasIlluminant;
    }
    const libraw_dng_levels_t& levels = d.color.dng_levels;
    const auto positive = [](const float* v) { return v[0] > 0 && v[1] > 0 && v[2] > 0; };
    m_answer.hasAsShotNeutral =
        (levels.parsedfields & LIBRAW_DNGFM_ASSHOTNEUTRAL) || positive(levels.asshotneutral);
    m_answer.hasAnalogBalance =
        (levels.parsedfields & LIBRAW_DNGFM_ANALOGBALANCE) || positive(levels.analogbalance);
    for (int c = 0; c < 3; ++c) {
        m_answer.asShotNeutral[c] = levels.asshotneutral[c];
        m_answer.analogBalance[c] = levels.analogbalance[c];
    }
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            m_answer.xyzToCamera[3 * r + c] = d.color.cam_xyz[r][c];
    m_answer.iso = d.other.iso_speed;
    m_answer.exposureTime = d.other.shutter;
    m_answer.fNumber = d.other.aperture;
    CopyText(m_answer.make, sizeof m_answer.make, d.idata.make);
    CopyText(m_answer.model, sizeof m_answer.model, d.idata.model);
}

void CKvRawDecode::Decode() {
    if (m_file) {
        CCountingStream<LibRaw_buffer_datastream> stream(m_size, const_cast<unsigned char*>(m_file), m_size);
        return DecodeFrom(stream);
    }
    CCountingStream<CBufferedFileStream> stream(m_size, m_path, kReadBufferBytes);
    if (!stream.valid())
        return Refuse(kRefused, "the decoder cannot read the file");
    DecodeFrom(stream);
}

template <class Stream>
void CKvRawDecode::DecodeFrom(Stream& stream) {
    std::unique_ptr<LibRaw, LibRawDeleter> raw(new LibRaw(0));
    DataErrors errors;
    raw->set_dataerror_handler(OnDataError, &errors);
    if (const int result = raw->open_datastream(&stream); result != LIBRAW_SUCCESS) {
        if (result == LIBRAW_UNSUFFICIENT_MEMORY)
            return Refuse(kNoMemory, "the decoder ran out of memory");
        return Refuse(kRefused, libraw_strerror(result));
    }
    const libraw_data_t& d = raw->imgdata;
    const bool mosaic = d.idata.colors == 3 && d.idata.filters >= kSmallestBayerFilters;
    const bool linear = d.idata.colors == 3 && d.idata.filters == 0 && d.idata.dng_version != 0;
    if (!mosaic && !linear)
        return Refuse(kRefused,
                      "it holds no 2 x 2 colour-filter mosaic of red, green and blue, nor linear RGB");
    const unsigned long long pixels = 1ull * d.sizes.raw_width * d.sizes.raw_height;
    if (pixels == 0 || pixels > kMaxPixelsPerFileByte * m_size)
        return Refuse(kDamaged, "its header claims more pixels than the file can hold");

    stream.counting = true;
    if (const int result = raw->unpack(); result != LIBRAW_SUCCESS) {
        if (result == LIBRAW_UNSUFFICIENT_MEMORY)
            return Refuse(kNoMemory, "the decoder ran out of memory");
        if (stream.missing > kOverreadTolerance || result == LIBRAW_IO_ERROR)
            return Refuse(kDamaged, "the file ends before its image data does");
        return Refuse(kRefused, libraw_strerror(result));
    }
    stream.counting = false;
    if (stream.missing > kOverreadTolerance)
        return Refuse(kDamaged, "the file ends before its image data does");
    if (errors.count) {
        if (errors.offset < 0)
            return Refuse(kDamaged, "the file ends before its image data does");
        return Refuse(kDamaged, "its image data is damaged at byte " + std::to_string(errors.offset));
    }
    if (d.process_warnings & (LIBRAW_WARN_NO_JPEGLIB | LIBRAW_WARN_NO_JASPER))
        return Refuse(kRefused, "its image data is coded in a way the decoder cannot read");

    const unsigned width = d.sizes.width, height = d.sizes.height;
    const std::size_t pitch = d.sizes.raw_pitch / sizeof(ushort);
    if (width < 2 || height < 2 || d.sizes.left_margin + width > d.sizes.raw_width ||
        d.sizes.top_margin + height > d.sizes.raw_height)
        return Refuse(kRefused, "its image's geometry is inconsistent");
    const libraw_colordata_t& color = d.color;
    TakeMetadata(*raw);
    m_answer.width = width;
    m_answer.height = height;

    if (mosaic) {
        if (!d.rawdata.raw_image || pitch < d.sizes.raw_width)
            return Refuse(kRefused, "it holds no mosaic after all");
        m_answer.channels = kMosaicChannels;
        m_answer.maxSample = kMaxSample;
        for (int i = 0; i < 4; ++i) {
            // LibRaw names the second green of a pattern 3.
            const int c = raw->COLOR(i / 2, i % 2) & 3;
            m_answer.cells[i] = static_cast<std::uint8_t>(c == 3 ? 1 : c);
        }
        if (!BeginAnswer(std::size_t{width} * height * sizeof(std::uint16_t)))
            return;
        const CSampleScaler scale(color, kMaxSample);
        // LibRaw's colour of a site repeats every sixteen rows and two columns, unless the sensor is turned
        // on its side, where it is asked site by site.
        int colours[16][2];
        for (int r = 0; r < 16; ++r)
            for (int c = 0; c < 2; ++c)
                colours[r][c] = raw->COLOR(r, c) & 3;
        const bool turnedSensor = raw->get_internal_data_pointer()->internal_output_params.fuji_width != 0;
        SendRows(height, width, [&](unsigned y, std::uint16_t* out) {
            const ushort* row = d.rawdata.raw_image + (y + d.sizes.top_margin) * pitch + d.sizes.left_margin;
            for (unsigned x = 0; x < width; ++x) {
                const int c = turnedSensor ? raw->COLOR(int(y), int(x)) & 3 : colours[y & 15][x & 1];
                out[x] = scale(row[x], c, int(y), int(x));
            }
        });
        return;
    }

    const ushort(*four)[4] = d.rawdata.color4_image;
    const ushort(*three)[3] = d.rawdata.color3_image;
    const std::size_t stride = four ? d.sizes.raw_pitch / sizeof(*four) : d.sizes.raw_pitch / sizeof(*three);
    if ((!four && !three) || stride < d.sizes.raw_width)
        return Refuse(kRefused, "it holds no linear samples after all");
    m_answer.channels = kLinearChannels;
    m_answer.maxSample = kMaxLinearSample;
    if (!BeginAnswer(std::size_t{width} * height * 3 * sizeof(std::uint16_t)))
        return;
    const CSampleScaler scale(color, kMaxLinearSample);
    SendRows(height, std::size_t{width} * 3, [&](unsigned y, std::uint16_t* out) {
        for (unsigned x = 0; x < width; ++x) {
            const std::size_t at = (y + d.sizes.top_margin) * stride + d.sizes.left_margin + x;
            for (int c = 0; c < 3; ++c)
                out[std::size_t{x} * 3 + c] = scale(four ? four[at][c] : three[at][c], c, int(y), int(x));
        }
    });
}
