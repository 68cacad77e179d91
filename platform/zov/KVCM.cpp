#include "KVCM.h"

#include "CZovConversion.h"

#include <cstring>
#include <new>

struct KVCMObject {
    // What the conversion was last built for; any difference builds it again.
    struct Built {
        std::shared_ptr<CZovTransformState> xform;
        ULONG generation = 0;
        LONG inBits = 0;
        LONG outBits = 0;
        ULONG lutGeneration = 0;
        std::shared_ptr<const CZovConversion> conversion;
    };

    mutable std::mutex lock;
    std::shared_ptr<CZovTransformState> xform;
    LONG inBits = 8;
    LONG outBits = 8;
    CZovLutTables luts;
    ULONG lutGeneration = 0;
    Built built;
    ULONG buildCount = 0;
};

namespace {

template <class Body>
LONG Guarded(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return KVCM_E_MEMORY;
    } catch (...) {
        return KVCM_E_BUILD;
    }
}

LONG SetProfileFile(HKVCMXFORM xform, const char* path, bool output) {
    if (!xform)
        return KVCM_E_HANDLE;
    if (!path)
        return KVCM_E_ARGUMENT;
    return Guarded([&] {
        std::shared_ptr<const CZovProfile> profile;
        const LONG result = CZovProfile::Load(path, &profile);
        CZovTransformState& state = *xform->state;
        std::lock_guard<std::mutex> hold(state.lock);
        std::shared_ptr<const CZovProfile>& slot = output ? state.output : state.input;
        if (result != KVCM_OK) {
            if (slot) {
                slot.reset();
                ++state.generation;
            }
            return result;
        }
        if (!slot || slot->Bytes() != profile->Bytes()) {
            slot = std::move(profile);
            ++state.generation;
        }
        return KVCM_OK;
    });
}

LONG SetBitSize(HKVCMCML object, LONG bits, bool output) {
    if (!object)
        return KVCM_E_HANDLE;
    if (bits != 8 && bits != 16)
        return KVCM_E_ARGUMENT;
    std::lock_guard<std::mutex> hold(object->lock);
    (output ? object->outBits : object->inBits) = bits;
    return KVCM_OK;
}

LONG GetChannels(HKVCMCML object, LONG* channels, bool output) {
    if (!object)
        return KVCM_E_HANDLE;
    if (!channels)
        return KVCM_E_ARGUMENT;
    std::lock_guard<std::mutex> hold(object->lock);
    if (!object->xform)
        return KVCM_E_NOT_READY;
    const CZovTransformState::Snapshot state = object->xform->Take();
    const std::shared_ptr<const CZovProfile>& profile = output ? state.output : state.input;
    if (!profile)
        return KVCM_E_NOT_READY;
    cmsUInt32Number pixelType = 0;
    return ZovPixelLayout(profile->ColorSpace(), &pixelType, channels) ? KVCM_OK : KVCM_E_FORMAT;
}

LONG SetTables(HKVCMCML object, CZovSide side, bool merged, LONG inBits, LONG outBits, LONG mask,
               const USHORT* const tables[4]) {
    if (!object)
        return KVCM_E_HANDLE;
    return Guarded([&] {
        CZovLutChannel next[4];
        for (int c = 0; c < 4; ++c) {
            if (!(mask & (1 << c)))
                continue;
            next[c].merged = merged;
            const USHORT* table = tables ? tables[c] : nullptr;
            if (!table)
                continue;
            if (inBits < 1 || inBits > 16 || outBits < 1 || outBits > 16)
                return KVCM_E_ARGUMENT;
            next[c].inBits = inBits;
            next[c].outBits = outBits;
            next[c].table.assign(table, table + (std::size_t(1) << inBits));
        }
        std::lock_guard<std::mutex> hold(object->lock);
        bool changed = false;
        for (int c = 0; c < 4; ++c) {
            if (!(mask & (1 << c)) || object->luts[side][c] == next[c])
                continue;
            object->luts[side][c] = std::move(next[c]);
            changed = true;
        }
        if (changed)
            ++object->lutGeneration;
        return KVCM_OK;
    });
}

LONG GetTableInfo(HKVCMCML object, CZovSide side, LONG channel, bool* merged, LONG* inBits, LONG* outBits) {
    if (!object)
        return KVCM_E_HANDLE;
    if (channel < 0 || channel > 3)
        return KVCM_E_ARGUMENT;
    std::lock_guard<std::mutex> hold(object->lock);
    const CZovLutChannel& lut = object->luts[side][channel];
    if (merged)
        *merged = lut.merged;
    if (inBits)
        *inBits = lut.inBits;
    if (outBits)
        *outBits = lut.outBits;
    return KVCM_OK;
}

LONG GetTable(HKVCMCML object, CZovSide side, LONG channel, USHORT* table) {
    if (!object)
        return KVCM_E_HANDLE;
    if (channel < 0 || channel > 3 || !table)
        return KVCM_E_ARGUMENT;
    std::lock_guard<std::mutex> hold(object->lock);
    const CZovLutChannel& lut = object->luts[side][channel];
    if (!lut.HasTable())
        return KVCM_E_NO_TABLE;
    std::memcpy(table, lut.table.data(), lut.table.size() * sizeof(USHORT));
    return KVCM_OK;
}

// The conversion for the object's present state, built only when that state differs from the last build.
LONG CurrentConversion(HKVCMCML object, std::shared_ptr<const CZovConversion>* conversion) {
    std::lock_guard<std::mutex> hold(object->lock);
    if (!object->xform)
        return KVCM_E_NOT_READY;
    const CZovTransformState::Snapshot state = object->xform->Take();
    KVCMObject::Built& built = object->built;
    if (!built.conversion || built.xform != object->xform || built.generation != state.generation ||
        built.inBits != object->inBits || built.outBits != object->outBits ||
        built.lutGeneration != object->lutGeneration) {
        std::unique_ptr<const CZovConversion> fresh;
        const LONG result =
            CZovConversion::Build(state, object->inBits, object->outBits, object->luts, &fresh);
        if (result != KVCM_OK)
            return result;
        built = KVCMObject::Built{object->xform,   state.generation,      object->inBits,
                                  object->outBits, object->lutGeneration, std::move(fresh)};
        ++object->buildCount;
    }
    *conversion = built.conversion;
    return KVCM_OK;
}

bool Overlap(const void* a, std::size_t aBytes, const void* b, std::size_t bBytes) {
    const auto x = reinterpret_cast<std::uintptr_t>(a);
    const auto y = reinterpret_cast<std::uintptr_t>(b);
    return x < y + bBytes && y < x + aBytes;
}

} // namespace

LONG KVCMCreateXForm(HKVCMXFORM* xform) {
    if (!xform)
        return KVCM_E_ARGUMENT;
    *xform = new (std::nothrow) KVCMTransform();
    return *xform ? KVCM_OK : KVCM_E_MEMORY;
}

LONG KVCMDestroyXForm(HKVCMXFORM xform) {
    if (!xform)
        return KVCM_E_HANDLE;
    delete xform;
    return KVCM_OK;
}

LONG KVCMSetInputProfileFile(HKVCMXFORM xform, const char* path) {
    return SetProfileFile(xform, path, false);
}

LONG KVCMSetOutputProfileFile(HKVCMXFORM xform, const char* path) {
    return SetProfileFile(xform, path, true);
}

LONG KVCMSetIntent(HKVCMXFORM xform, LONG intent) {
    if (!xform)
        return KVCM_E_HANDLE;
    if (intent < 0 || intent > 3)
        return KVCM_E_ARGUMENT;
    CZovTransformState& state = *xform->state;
    std::lock_guard<std::mutex> hold(state.lock);
    if (state.intent != intent) {
        state.intent = intent;
        ++state.generation;
    }
    return KVCM_OK;
}

LONG KVCMSetProofMode(HKVCMXFORM xform, BOOL proof) {
    if (!xform)
        return KVCM_E_HANDLE;
    std::lock_guard<std::mutex> hold(xform->state->lock);
    xform->state->proof = proof ? TRUE : FALSE;
    return KVCM_OK;
}

LONG KVCMCreateCML(HKVCMCML* object) {
    if (!object)
        return KVCM_E_ARGUMENT;
    *object = new (std::nothrow) KVCMObject();
    return *object ? KVCM_OK : KVCM_E_MEMORY;
}

LONG KVCMDestroyCML(HKVCMCML object) {
    if (!object)
        return KVCM_E_HANDLE;
    delete object;
    return KVCM_OK;
}

LONG KVCMSetTransform(HKVCMCML object, HKVCMXFORM xform) {
    if (!object)
        return KVCM_E_HANDLE;
    std::lock_guard<std::mutex> hold(object->lock);
    object->xform = xform ? xform->state : nullptr;
    return KVCM_OK;
}

LONG KVCMSetInputBitSize(HKVCMCML object, LONG bits) {
    return SetBitSize(object, bits, false);
}

LONG KVCMSetOutputBitSize(HKVCMCML object, LONG bits) {
    return SetBitSize(object, bits, true);
}

LONG KVCMGetInputChannels(HKVCMCML object, LONG* channels) {
    return GetChannels(object, channels, false);
}

LONG KVCMGetOutputChannels(HKVCMCML object, LONG* channels) {
    return GetChannels(object, channels, true);
}

LONG KVCMSetInputLUT(HKVCMCML object, LONG inBits, LONG outBits, LONG channelMask,
                     const USHORT* const tables[4]) {
    return SetTables(object, kZovInput, false, inBits, outBits, channelMask, tables);
}

LONG KVCMSetOutputLUT(HKVCMCML object, LONG inBits, LONG outBits, LONG channelMask,
                      const USHORT* const tables[4]) {
    return SetTables(object, kZovOutput, false, inBits, outBits, channelMask, tables);
}

LONG KVCMMergeInputLUT(HKVCMCML object, LONG inBits, LONG outBits, LONG channelMask,
                       const USHORT* const tables[4]) {
    return SetTables(object, kZovInput, true, inBits, outBits, channelMask, tables);
}

LONG KVCMMergeOutputLUT(HKVCMCML object, LONG inBits, LONG outBits, LONG channelMask,
                        const USHORT* const tables[4]) {
    return SetTables(object, kZovOutput, true, inBits, outBits, channelMask, tables);
}

LONG KVCMGetInputLUTInfo(HKVCMCML object, LONG channel, bool* merged, LONG* inBits, LONG* outBits) {
    return GetTableInfo(object, kZovInput, channel, merged, inBits, outBits);
}

LONG KVCMGetOutputLUTInfo(HKVCMCML object, LONG channel, bool* merged, LONG* inBits, LONG* outBits) {
    return GetTableInfo(object, kZovOutput, channel, merged, inBits, outBits);
}

LONG KVCMGetInputLUT(HKVCMCML object, LONG channel, USHORT* table) {
    return GetTable(object, kZovInput, channel, table);
}

LONG KVCMGetOutputLUT(HKVCMCML object, LONG channel, USHORT* table) {
    return GetTable(object, kZovOutput, channel, table);
}

namespace {

// The checks and the overlap copy of both entry points; convert does the work on what is left.
template <class Convert>
LONG ProcessInterleaved(HKVCMCML object, LONG width, LONG height, const void* source, void* destination,
                        LONG sourceRowBytes, LONG destinationRowBytes, const Convert& convert) {
    if (!object)
        return KVCM_E_HANDLE;
    if (width < 0 || height < 0)
        return KVCM_E_ARGUMENT;
    return Guarded([&] {
        std::shared_ptr<const CZovConversion> conversion;
        const LONG result = CurrentConversion(object, &conversion);
        if (result != KVCM_OK || width == 0 || height == 0)
            return result;
        if (!source || !destination)
            return KVCM_E_ARGUMENT;
        const std::size_t inRow = std::size_t(width) * conversion->InPixelBytes();
        const std::size_t outRow = std::size_t(width) * conversion->OutPixelBytes();
        if (height > 1 && (sourceRowBytes < 0 || std::size_t(sourceRowBytes) < inRow ||
                           destinationRowBytes < 0 || std::size_t(destinationRowBytes) < outRow))
            return KVCM_E_ARGUMENT;
        std::size_t inStride = height > 1 ? std::size_t(sourceRowBytes) : inRow;
        const std::size_t outStride = height > 1 ? std::size_t(destinationRowBytes) : outRow;
        const auto* in = static_cast<const std::uint8_t*>(source);
        const std::size_t inBytes = std::size_t(height - 1) * inStride + inRow;
        const std::size_t outBytes = std::size_t(height - 1) * outStride + outRow;

        // The library reads a pixel after it may have written the one before: overlapping memory is
        // converted from a copy.
        std::vector<std::uint8_t> copy;
        if (Overlap(in, inBytes, destination, outBytes)) {
            copy.resize(std::size_t(height) * inRow);
            for (LONG y = 0; y < height; ++y)
                std::memcpy(copy.data() + std::size_t(y) * inRow, in + std::size_t(y) * inStride, inRow);
            in = copy.data();
            inStride = inRow;
        }
        return convert(*conversion, in, static_cast<std::uint8_t*>(destination), inStride, outStride);
    });
}

} // namespace

LONG KVCMProcessInterleavedData(HKVCMCML object, LONG width, LONG height, const void* source,
                                void* destination, LONG sourceRowBytes, LONG destinationRowBytes) {
    return ProcessInterleaved(object, width, height, source, destination, sourceRowBytes, destinationRowBytes,
                              [&](const CZovConversion& conversion, const std::uint8_t* in, std::uint8_t* out,
                                  std::size_t inStride, std::size_t outStride) {
                                  conversion.Convert(width, height, in, out, inStride, outStride);
                                  return KVCM_OK;
                              });
}

LONG KVCMProcessInterleavedDataThroughTables(HKVCMCML object, LONG width, LONG height, const void* source,
                                             void* destination, LONG sourceRowBytes, LONG destinationRowBytes,
                                             const USHORT* const* tables, LONG tableCount) {
    return ProcessInterleaved(
        object, width, height, source, destination, sourceRowBytes, destinationRowBytes,
        [&](const CZovConversion& conversion, const std::uint8_t* in, std::uint8_t* out, std::size_t inStride,
            std::size_t outStride) {
            const std::size_t channels = conversion.InPixelBytes() / conversion.InSampleBytes();
            if (!tables || tableCount < 0 || std::size_t(tableCount) != channels)
                return KVCM_E_ARGUMENT;
            for (std::size_t c = 0; c < channels; ++c)
                if (!tables[c])
                    return KVCM_E_ARGUMENT;
            conversion.ConvertThroughTables(width, height, in, out, inStride, outStride, tables);
            return KVCM_OK;
        });
}

LONG KVCMGetBuildCount(HKVCMCML object, ULONG* count) {
    if (!object)
        return KVCM_E_HANDLE;
    if (!count)
        return KVCM_E_ARGUMENT;
    std::lock_guard<std::mutex> hold(object->lock);
    *count = object->buildCount;
    return KVCM_OK;
}
