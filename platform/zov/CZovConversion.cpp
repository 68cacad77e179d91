#include "CZovConversion.h"

#include "KVCM.h"
#include "ZovLchEncoding.h"
#include "ZovTableLookup.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

namespace {

cmsUInt32Number Format(cmsUInt32Number pixelType, LONG channels, LONG bits) {
    return COLORSPACE_SH(pixelType) | CHANNELS_SH(static_cast<cmsUInt32Number>(channels)) |
           BYTES_SH(static_cast<cmsUInt32Number>(bits / 8));
}

// The table read at the 16-bit value's position, with linear interpolation, as a 16-bit value.
double ApplyTable(const CZovLutChannel& lut, double value16) {
    const std::size_t last = lut.table.size() - 1;
    const double top = double((1u << lut.outBits) - 1);
    const double position = value16 * double(last) / 65535.0;
    std::size_t index = static_cast<std::size_t>(position);
    double fraction = position - double(index);
    if (index >= last) {
        index = last;
        fraction = 0;
    }
    const double a = std::min<double>(lut.table[index], top);
    const double b = index < last ? std::min<double>(lut.table[index + 1], top) : a;
    return (a + (b - a) * fraction) * 65535.0 / top;
}

USHORT To16(double value) {
    return static_cast<USHORT>(std::clamp(std::lround(value), 0l, 65535l));
}

// How near a profile's conversion of Lab samples must come to their plain decoding to be taken as it: the
// rounding of a 16-bit Lab encoding (a version 2 profile re-encodes the samples in its own).
constexpr double kLabProbeTolerance = 0.01;

void DecodeLab(const void* samples, LONG bits, std::size_t count, cmsCIELab* lab);
bool IsLabAsEncoded(cmsHTRANSFORM transform, LONG bits);

std::atomic<bool> g_libraryOnly{false};

// The library's own narrowing of 16-bit values to 8 bits, so that both roads round alike.
USHORT To8(USHORT value16) {
    return static_cast<USHORT>((std::uint32_t(value16) * 65281u + 8388608u) >> 24);
}

} // namespace

namespace {
bool IsKnownColorSpace(cmsUInt32Number space) {
    static constexpr cmsColorSpaceSignature kKnown[] = {
        cmsSigXYZData,     cmsSigLabData,     cmsSigLuvData,     cmsSigYCbCrData,   cmsSigYxyData,
        cmsSigRgbData,     cmsSigGrayData,    cmsSigHsvData,     cmsSigHlsData,     cmsSigCmykData,
        cmsSigCmyData,     cmsSigMCH1Data,    cmsSigMCH2Data,    cmsSigMCH3Data,    cmsSigMCH4Data,
        cmsSigMCH5Data,    cmsSigMCH6Data,    cmsSigMCH7Data,    cmsSigMCH8Data,    cmsSigMCH9Data,
        cmsSigMCHAData,    cmsSigMCHBData,    cmsSigMCHCData,    cmsSigMCHDData,    cmsSigMCHEData,
        cmsSigMCHFData,    cmsSig1colorData,  cmsSig2colorData,  cmsSig3colorData,  cmsSig4colorData,
        cmsSig5colorData,  cmsSig6colorData,  cmsSig7colorData,  cmsSig8colorData,  cmsSig9colorData,
        cmsSig10colorData, cmsSig11colorData, cmsSig12colorData, cmsSig13colorData, cmsSig14colorData,
        cmsSig15colorData, cmsSigLuvKData};
    for (cmsColorSpaceSignature known : kKnown)
        if (static_cast<cmsUInt32Number>(known) == space)
            return true;
    return false;
}
} // namespace

bool ZovPixelLayout(cmsUInt32Number space, cmsUInt32Number* pixelType, LONG* channels) {
    *pixelType = PT_ANY;
    *channels = 0;
    if (space == ZovLch::kSignature) { // no pixel type of its own in the library
        *channels = 3;
        return true;
    }
    if (!IsKnownColorSpace(space))
        return false;
    const auto signature = static_cast<cmsColorSpaceSignature>(space);
    const int type = _cmsLCMScolorSpace(signature);
    *pixelType = type > 0 ? static_cast<cmsUInt32Number>(type) : PT_ANY;
    *channels = static_cast<LONG>(cmsChannelsOfColorSpace(signature));
    return *channels >= 1 && *channels <= 15;
}

CZovConversion::~CZovConversion() {
    if (m_transform)
        cmsDeleteTransform(m_transform);
}

LONG CZovConversion::Build(const CZovTransformState::Snapshot& state, LONG inBits, LONG outBits,
                           const CZovLutTables& luts, std::unique_ptr<const CZovConversion>* conversion) {
    if (!state.input || !state.output)
        return KVCM_E_NOT_READY;
    std::unique_ptr<CZovConversion> built(new CZovConversion());
    cmsUInt32Number inType = 0;
    cmsUInt32Number outType = 0;
    if (!ZovPixelLayout(state.input->ColorSpace(), &inType, &built->m_inChannels) ||
        !ZovPixelLayout(state.output->ColorSpace(), &outType, &built->m_outChannels))
        return KVCM_E_FORMAT;
    built->m_inBits = inBits;
    built->m_outBits = outBits;
    for (const auto& side : luts) {
        for (const CZovLutChannel& lut : side)
            built->m_throughTables = built->m_throughTables || lut.HasTable();
    }

    built->m_fromLch = ZovLch::IsLch(state.input->ColorSpace());
    built->m_toLch = ZovLch::IsLch(state.output->ColorSpace());
    // Rows converted one by one reach the library widened to 16 bits and leave it at 16 bits.
    const LONG libraryIn = built->m_throughTables ? 16 : inBits;
    const LONG libraryOut = built->m_throughTables || built->m_fromLch ? 16 : outBits;
    // The LCh profile's connection space is version 2 Lab, and so is the library's stand-in for it. From
    // Lab, a table resampled over Lab would bend at the edge of the output's gamut, where the colours clip,
    // and streak smooth saturated gradients: the Lab values go to a matrix-shaper output on our side, and
    // the library evaluates any other output's profile as it is.
    const bool fromLab = state.input->ColorSpace() == cmsSigLabData;
    if ((fromLab || built->m_fromLch) && !built->m_toLch)
        built->m_toMatrixShaper =
            CZovMatrixShaperOut::Make(state.output->Handle(), static_cast<cmsUInt32Number>(state.intent));
    if (built->m_toMatrixShaper && built->m_fromLch) {
        // LCh becomes Lab on our side, and Lab the output: the library has nothing to do.
    } else if (built->m_toMatrixShaper) {
        // The input's Lab samples as Lab values, which the library gives without any table.
        cmsHPROFILE lab = cmsCreateLab2Profile(nullptr);
        if (lab)
            built->m_transform =
                cmsCreateTransform(state.input->Handle(), Format(inType, built->m_inChannels, libraryIn), lab,
                                   TYPE_Lab_DBL, static_cast<cmsUInt32Number>(state.intent), 0);
        if (lab)
            cmsCloseProfile(lab);
        if (!built->m_transform)
            return KVCM_E_BUILD;
        built->m_labAsEncoded = IsLabAsEncoded(built->m_transform, libraryIn);
    } else if (!built->m_fromLch && !built->m_toLch && !g_libraryOnly.load(std::memory_order_relaxed) &&
               ((built->m_pair = CZovMatrixShaperPair::Make(state.input->Handle(), state.output->Handle(),
                                                            static_cast<cmsUInt32Number>(state.intent),
                                                            libraryIn, libraryOut)) ||
                (libraryIn == 16 && (built->m_grid = CZovRgbGrid::Make(
                                         state.input->Handle(), state.output->Handle(),
                                         static_cast<cmsUInt32Number>(state.intent), libraryOut))))) {
        // Both profiles are RGB profiles converted on our side: the library has nothing to do.
    } else {
        cmsHPROFILE lab = built->m_fromLch || built->m_toLch ? cmsCreateLab2Profile(nullptr) : nullptr;
        if (lab || !(built->m_fromLch || built->m_toLch))
            built->m_transform = cmsCreateTransform(
                built->m_fromLch ? lab : state.input->Handle(),
                built->m_fromLch ? TYPE_Lab_DBL : Format(inType, built->m_inChannels, libraryIn),
                built->m_toLch ? lab : state.output->Handle(),
                built->m_toLch ? (built->m_fromLch ? TYPE_Lab_DBL : TYPE_Lab_16)
                               : Format(outType, built->m_outChannels, libraryOut),
                static_cast<cmsUInt32Number>(state.intent), fromLab ? cmsFLAGS_NOOPTIMIZE : 0);
        if (lab)
            cmsCloseProfile(lab);
        if (!built->m_transform)
            return KVCM_E_BUILD;
    }

    if (built->m_throughTables) {
        const std::size_t inEntries = std::size_t(1) << inBits;
        for (LONG c = 0; c < built->m_inChannels; ++c) {
            const CZovLutChannel* lut =
                c < 4 && luts[kZovInput][c].HasTable() ? &luts[kZovInput][c] : nullptr;
            std::vector<USHORT> map(inEntries);
            for (std::size_t s = 0; s < inEntries; ++s) {
                const double value16 = inBits == 8 ? double(s * 257) : double(s);
                map[s] = lut ? To16(ApplyTable(*lut, value16)) : static_cast<USHORT>(value16);
            }
            built->m_inputMaps.push_back(std::move(map));
        }
        for (LONG c = 0; c < built->m_outChannels; ++c) {
            const CZovLutChannel* lut =
                c < 4 && luts[kZovOutput][c].HasTable() ? &luts[kZovOutput][c] : nullptr;
            std::vector<USHORT> map(65536);
            for (std::size_t v = 0; v < map.size(); ++v) {
                const USHORT value16 = lut ? To16(ApplyTable(*lut, double(v))) : static_cast<USHORT>(v);
                map[v] = outBits == 8 ? To8(value16) : value16;
            }
            built->m_outputMaps.push_back(std::move(map));
        }
    }
    *conversion = std::move(built);
    return KVCM_OK;
}

void CZovConversion::SetLibraryOnly(bool libraryOnly) {
    g_libraryOnly.store(libraryOnly, std::memory_order_relaxed);
}

void CZovConversion::Convert(LONG width, LONG height, const std::uint8_t* source, std::uint8_t* destination,
                             std::size_t sourceRowBytes, std::size_t destinationRowBytes) const {
    if (m_pair && !m_throughTables) {
        m_pair->Convert(width, height, source, destination, sourceRowBytes, destinationRowBytes);
        return;
    }
    if (m_grid && !m_throughTables) {
        m_grid->Convert(width, height, source, destination, sourceRowBytes, destinationRowBytes);
        return;
    }
    if (m_throughTables || m_fromLch || m_toLch || m_toMatrixShaper) {
        ConvertByRows(width, height, source, destination, sourceRowBytes, destinationRowBytes);
        return;
    }
    cmsDoTransformLineStride(m_transform, source, destination, static_cast<cmsUInt32Number>(width),
                             static_cast<cmsUInt32Number>(height),
                             static_cast<cmsUInt32Number>(sourceRowBytes),
                             static_cast<cmsUInt32Number>(destinationRowBytes), 0, 0);
}

void CZovConversion::ConvertThroughTables(LONG width, LONG height, const std::uint8_t* source,
                                          std::uint8_t* destination, std::size_t sourceRowBytes,
                                          std::size_t destinationRowBytes,
                                          const USHORT* const* tables) const {
    if (m_grid && !m_throughTables && m_inBits == 16 && m_inChannels == 3) {
        m_grid->ConvertThroughTables(width, height, source, destination, sourceRowBytes, destinationRowBytes,
                                     tables);
        return;
    }
    // A stretch of a row looked up into memory on the stack, then converted: it stays in the nearest cache,
    // and the tables' channels take turns pixel by pixel rather than by a division per sample.
    constexpr std::size_t kStretchSamples = 1536;
    alignas(64) std::uint8_t stretch[kStretchSamples * sizeof(USHORT)];
    const std::size_t channels = std::size_t(m_inChannels);
    const std::size_t inPixel = InPixelBytes(), outPixel = OutPixelBytes();
    std::size_t stretchPixels = kStretchSamples / channels;
    std::uint8_t* buffer = stretch;
    // Converted in place into wider pixels, a stretch's output would overwrite the source of the next:
    // the whole row is looked up first.
    std::vector<std::uint8_t> wholeRow;
    if (outPixel > inPixel && std::size_t(width) > stretchPixels) {
        wholeRow.resize(std::size_t(width) * inPixel);
        buffer = wholeRow.data();
        stretchPixels = std::size_t(width);
    }
    for (LONG y = 0; y < height; ++y) {
        const std::uint8_t* in = source + std::size_t(y) * sourceRowBytes;
        std::uint8_t* out = destination + std::size_t(y) * destinationRowBytes;
        for (std::size_t x = 0; x < std::size_t(width); x += stretchPixels) {
            const std::size_t pixels = std::min(stretchPixels, std::size_t(width) - x);
            const std::uint8_t* from = in + x * inPixel;
            if (m_inBits == 8) {
                for (std::size_t i = 0; i < pixels; ++i)
                    for (std::size_t c = 0; c < channels; ++c)
                        buffer[i * channels + c] =
                            static_cast<std::uint8_t>(tables[c][from[i * channels + c]]);
            } else if (channels == 3) {
                ZovTables::LookUpRgb16(from, buffer, pixels, tables);
            } else {
                for (std::size_t i = 0; i < pixels * channels; ++i) {
                    USHORT sample;
                    std::memcpy(&sample, from + 2 * i, 2);
                    sample = tables[i % channels][sample];
                    std::memcpy(buffer + 2 * i, &sample, 2);
                }
            }
            Convert(static_cast<LONG>(pixels), 1, buffer, out + x * outPixel, 0, 0);
        }
    }
}

namespace {

// Lab values of Lab samples in their 8- or 16-bit encoding.
void DecodeLab(const void* samples, LONG bits, std::size_t count, cmsCIELab* lab) {
    for (std::size_t i = 0; i < count; ++i) {
        double v[3];
        for (std::size_t c = 0; c < 3; ++c) {
            if (bits == 8) {
                v[c] = static_cast<const std::uint8_t*>(samples)[3 * i + c] * 257.0;
            } else {
                USHORT sample;
                std::memcpy(&sample, static_cast<const std::uint8_t*>(samples) + 2 * (3 * i + c), 2);
                v[c] = sample;
            }
        }
        lab[i] = cmsCIELab{v[0] * 100.0 / 65535.0, v[1] / 257.0 - 128.0, v[2] / 257.0 - 128.0};
    }
}

// Whether a conversion of Lab samples to Lab values only decodes them, as the Lab profiles of the standard
// set do: then they are decoded on our side, without the library's general pipeline for every pixel.
bool IsLabAsEncoded(cmsHTRANSFORM transform, LONG bits) {
    constexpr std::size_t kProbes = 5;
    const USHORT probes[kProbes][3] = {
        {0, 0, 0}, {65535, 65535, 65535}, {32768, 32896, 32896}, {20000, 50000, 9000}, {51000, 12000, 60000}};
    std::uint8_t samples[kProbes * 3 * 2];
    for (std::size_t i = 0; i < kProbes; ++i)
        for (std::size_t c = 0; c < 3; ++c) {
            if (bits == 8) {
                samples[3 * i + c] = static_cast<std::uint8_t>(probes[i][c] >> 8);
            } else {
                std::memcpy(samples + 2 * (3 * i + c), &probes[i][c], 2);
            }
        }
    cmsCIELab converted[kProbes], decoded[kProbes];
    cmsDoTransform(transform, samples, converted, kProbes);
    DecodeLab(samples, bits, kProbes, decoded);
    for (std::size_t i = 0; i < kProbes; ++i)
        if (std::fabs(converted[i].L - decoded[i].L) > kLabProbeTolerance ||
            std::fabs(converted[i].a - decoded[i].a) > kLabProbeTolerance ||
            std::fabs(converted[i].b - decoded[i].b) > kLabProbeTolerance)
            return false;
    return true;
}

// Lab values of LCh samples widened to 16 bits.
void DecodeLch(const USHORT* lch, std::size_t count, cmsCIELab* lab) {
    for (std::size_t i = 0; i < count; ++i, lch += 3) {
        const cmsCIELCh polar{lch[0] * 100.0 / 65535.0, lch[1] * ZovLch::kChromaTop / 65535.0,
                              lch[2] * 360.0 / 65535.0};
        cmsLCh2Lab(&lab[i], &polar);
    }
}

// The LCh encoding of Lab values.
void EncodeLch(const cmsCIELab* lab, std::size_t count, USHORT* lch) {
    for (std::size_t i = 0; i < count; ++i, lch += 3) {
        cmsCIELCh polar;
        cmsLab2LCh(&polar, &lab[i]);
        lch[0] = To16(polar.L / 100.0 * 65535.0);
        lch[1] = To16(std::min(polar.C / ZovLch::kChromaTop, 1.0) * 65535.0);
        lch[2] = To16(std::fmod(polar.h, 360.0) / 360.0 * 65535.0);
    }
}

} // namespace

void CZovConversion::ConvertByRows(LONG width, LONG height, const std::uint8_t* source,
                                   std::uint8_t* destination, std::size_t sourceRowBytes,
                                   std::size_t destinationRowBytes) const {
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t inChannels = std::size_t(m_inChannels);
    const std::size_t outChannels = std::size_t(m_outChannels);
    std::vector<USHORT> wide(m_throughTables || m_fromLch ? w * inChannels : 0);
    std::vector<USHORT> converted(w * outChannels);
    std::vector<cmsCIELab> labIn(m_fromLch || m_toMatrixShaper ? w : 0), labOut(m_toLch ? w : 0);
    for (LONG y = 0; y < height; ++y) {
        const std::uint8_t* in = source + std::size_t(y) * sourceRowBytes;
        std::uint8_t* out = destination + std::size_t(y) * destinationRowBytes;
        const void* libraryIn = in;
        if (m_throughTables || m_fromLch) {
            for (std::size_t c = 0; c < inChannels; ++c) {
                const USHORT* map = m_throughTables ? m_inputMaps[c].data() : nullptr;
                for (std::size_t x = 0, i = c; x < w; ++x, i += inChannels) {
                    USHORT sample = in[i];
                    if (m_inBits == 16)
                        std::memcpy(&sample, in + 2 * i, 2);
                    wide[i] = map ? map[sample] : m_inBits == 8 ? static_cast<USHORT>(sample * 257) : sample;
                }
            }
            libraryIn = wide.data();
        }
        if (m_fromLch) {
            DecodeLch(wide.data(), w, labIn.data());
            libraryIn = labIn.data();
        }
        if (m_toMatrixShaper) {
            if (m_labAsEncoded)
                DecodeLab(libraryIn, m_throughTables ? 16 : m_inBits, w, labIn.data());
            else if (!m_fromLch)
                cmsDoTransform(m_transform, libraryIn, labIn.data(), static_cast<cmsUInt32Number>(width));
            m_toMatrixShaper->Convert(labIn.data(), w, converted.data());
        } else if (m_toLch && !m_fromLch) {
            // Lab in 16 bits, whose a and b keep their sign: the hue is taken from them exactly.
            cmsDoTransform(m_transform, libraryIn, converted.data(), static_cast<cmsUInt32Number>(width));
            for (std::size_t x = 0; x < w; ++x) {
                const USHORT* v = &converted[3 * x];
                labOut[x] = cmsCIELab{v[0] * 100.0 / 65535.0, v[1] / 257.0 - 128.0, v[2] / 257.0 - 128.0};
            }
            EncodeLch(labOut.data(), w, converted.data());
        } else if (m_toLch) {
            cmsDoTransform(m_transform, libraryIn, labOut.data(), static_cast<cmsUInt32Number>(width));
            EncodeLch(labOut.data(), w, converted.data());
        } else if (m_pair || m_grid) {
            // Widened to 16 bits through the tables, converted to 16 bits.
            const auto* wideIn = static_cast<const std::uint8_t*>(libraryIn);
            auto* wideOut = reinterpret_cast<std::uint8_t*>(converted.data());
            if (m_pair)
                m_pair->Convert(width, 1, wideIn, wideOut, 0, 0);
            else
                m_grid->Convert(width, 1, wideIn, wideOut, 0, 0);
        } else {
            cmsDoTransform(m_transform, libraryIn, converted.data(), static_cast<cmsUInt32Number>(width));
        }
        for (std::size_t c = 0; c < outChannels; ++c) {
            const USHORT* map = m_throughTables ? m_outputMaps[c].data() : nullptr;
            for (std::size_t x = 0, i = c; x < w; ++x, i += outChannels) {
                const USHORT value = map              ? map[converted[i]]
                                     : m_outBits == 8 ? To8(converted[i])
                                                      : converted[i];
                if (m_outBits == 8)
                    out[i] = static_cast<std::uint8_t>(value);
                else
                    std::memcpy(out + 2 * i, &value, 2);
            }
        }
    }
}
