// Converts its source's pixels from the source to the destination profile of a shared colour-management
// engine, through a conversion object of its own with input and output bits per component and optional
// per-channel lookup tables on either side. The output colour space follows from the destination
// profile's colour space and the output bits.
#pragma once

#include "filters/CPravonFilterCMLEngine.h"
#include "filters/CPravonFilterLut.h"
#include "filters/engine/CPravonFilterBase.h"
#include "platform/win/FourCC.h"
#include "platform/zov/KVCM.h"

class CPravonFilterCML : public CPravonFilterBase {
public:
    static constexpr LONG kCode = FourCC("cml ");

    explicit CPravonFilterCML(IPravonManager* manager);
    ~CPravonFilterCML() override;
    CPravonFilterCML(const CPravonFilterCML&) = delete;
    CPravonFilterCML& operator=(const CPravonFilterCML&) = delete;

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override { return "Korvel CML"; }

    // The destination profile's code at the output bits; 0 without an engine or for a combination that
    // has none (16-bit CMYK, 8-bit YCbCr, any colour space outside the table).
    IPravonError* GetFilteredColorSpace(IPravonDataSource* const* sources, LONG count,
                                        LONG* colorSpace) override;
    // While converting, a new source colour space changes the pixels but not the output colour space.
    IPravonError* FilterColorSpace(IPravonDataSource* source, ChangeColorSpace* change) override;
    // Converts the whole tile. A source whose samples or channels are not what the conversion reads, or an
    // output colour space of 0, gives PravonKind::kUnsupportedColorSpace and converts nothing; without an
    // engine, PravonKind::kInvalidState. Lookup-table stages that feed this one are read through (see
    // CPravonFilterLut::SetReadThrough): their source's pixels go through their tables on the way in.
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;
    // The whole tile is converted from the source, which has the output's geometry.
    bool WritesWholeInvalidArea() const override { return true; }

    // The engine may be null. With notify, a change of the output colour space is announced (kColorSpace).
    IPravonError* SetCMLEngine(CPravonFilterCMLEngine* engine, bool notify);
    CPravonFilterCMLEngine* GetCMLEngine() const { return m_engine.Get(); }

    // 8 or 16 bits per component of the incoming data (output false) or of the converted data; other
    // values give PravonKind::kBadArgument and change nothing.
    IPravonError* SetBitsPerComponent(bool output, LONG bits, bool notify);
    LONG GetBitsPerComponent(bool output) const { return output ? m_outputBits : m_inputBits; }
    static LONG GetBitsPerComponent(LONG colorSpace) { return PravonColorSpace::BitsPerSample(colorSpace); }

    // Tables for channels 0 .. count - 1 of the side (at most 4; null tables mean none, for every channel).
    // SetLUT(true, true, nullptr, 0, 0, 0, notify) removes the output tables. A count outside 0..4 with
    // tables gives PravonKind::kOutOfRange.
    IPravonError* SetLUT(bool output, bool merge, const USHORT* const* tables, LONG inBits, LONG outBits,
                         LONG count, bool notify);
    // Tables of 2^inBits entries of outBits bits for the channels in the mask (bits 0..3); bits outside
    // 1..16 give PravonKind::kOutOfRange, except 0 and 0 when no table is given. Tables equal to those
    // already held change nothing and announce nothing.
    IPravonError* SetLUT(bool output, bool merge, LONG inBits, LONG outBits, LONG channelMask,
                         const USHORT* const tables[4], bool notify);

    // The engine's destination (output) or source channel count; -1 without an engine.
    LONG Channels(bool output) const;
    bool AnyLUTs(bool output) const;
    // Both need an engine (PravonKind::kInvalidState without).
    IPravonError* GetLUTInfo(bool output, LONG channel, bool* merged, LONG* inBits, LONG* outBits) const;
    IPravonError* GetLUT(bool output, LONG channel, USHORT* table) const;

protected:
    // Brings the engine's transform and the conversion object up to date.
    IPravonError* CheckCML() const;

private:
    bool NeedsFiltering() const;
    // The tile converted from the run's source, whose samples the conversion maps through the run's
    // tables on its way in.
    IPravonError* ConvertThroughRun(const COutputTile& out, std::size_t inPixel, std::size_t outPixel,
                                    LONG channels);
    bool HasSource() const;
    IPravonError* SendWholeSourceChanged();

    LONG m_inputBits = 8;
    LONG m_outputBits = 8;
    mutable bool m_needsConfigure = false;
    CPravonFilterCMLEngine::Holder m_engine;
    mutable HKVCMCML m_object = nullptr;
    CPravonFilterLut::CRun m_run;
};
