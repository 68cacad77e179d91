// The colour-management library: transforms built from two profile files, an intent and a proof mode,
// and per-filter objects that convert interleaved pixels through an attached transform with per-channel
// input and output lookup tables. Every call returns KVCM_OK (0) on success and one of the KVCM_E codes
// otherwise; no call throws.
#pragma once

#include "platform/win/wintypes.h"

// A transform: the profiles, intent and proof mode of one conversion. Objects that attach it keep it
// alive, so destroying it while an object still uses it is safe.
struct KVCMTransform;
using HKVCMXFORM = KVCMTransform*;

// A per-filter conversion object: the attached transform, the bits per component on each side and the
// lookup tables. It keeps the library conversion it built until something that changes the result
// changes: the transform's profiles or intent, a bit size or a lookup table.
struct KVCMObject;
using HKVCMCML = KVCMObject*;

constexpr LONG KVCM_OK = 0;
constexpr LONG KVCM_E_HANDLE = 1;    // null handle
constexpr LONG KVCM_E_PROFILE = 2;   // profile file missing, unreadable or not a profile
constexpr LONG KVCM_E_FORMAT = 3;    // a profile colour space without a pixel layout here
constexpr LONG KVCM_E_BUILD = 4;     // the conversion cannot be built from the two profiles
constexpr LONG KVCM_E_ARGUMENT = 5;  // a value outside what the call accepts
constexpr LONG KVCM_E_MEMORY = 6;    // out of memory
constexpr LONG KVCM_E_NOT_READY = 7; // no transform attached, or its profiles are not both set
constexpr LONG KVCM_E_NO_TABLE = 8;  // the channel holds no lookup table

// Transforms.
LONG KVCMCreateXForm(HKVCMXFORM* xform);
LONG KVCMDestroyXForm(HKVCMXFORM xform);
// Reads the profile file ('\' or '/' separators, names found case-insensitively when missing). A file
// that cannot be read or is not a profile fails and leaves the transform without that profile, so no
// conversion goes on with the profile it had before. Giving the same bytes again changes nothing.
LONG KVCMSetInputProfileFile(HKVCMXFORM xform, const char* path);
LONG KVCMSetOutputProfileFile(HKVCMXFORM xform, const char* path);
// Intents 0 perceptual, 1 relative colorimetric, 2 saturation, 3 absolute colorimetric.
LONG KVCMSetIntent(HKVCMXFORM xform, LONG intent);
// Kept and reported only: no proof profile is ever given to the library, so there is nothing to proof
// against and the conversion is the same in both modes.
LONG KVCMSetProofMode(HKVCMXFORM xform, BOOL proof);

// Per-filter objects.
LONG KVCMCreateCML(HKVCMCML* object);
LONG KVCMDestroyCML(HKVCMCML object);
// Attaches the transform; null detaches. The object holds the transform until it is detached or destroyed.
LONG KVCMSetTransform(HKVCMCML object, HKVCMXFORM xform);
// 8 or 16 bits per component of the data handed in and of the data written. Both start at 8.
LONG KVCMSetInputBitSize(HKVCMCML object, LONG bits);
LONG KVCMSetOutputBitSize(HKVCMCML object, LONG bits);
// Channels per pixel the conversion reads and writes: those of the attached transform's input and output
// profiles.
LONG KVCMGetInputChannels(HKVCMCML object, LONG* channels);
LONG KVCMGetOutputChannels(HKVCMCML object, LONG* channels);

// Lookup tables, per side and channel 0..3. A table has 2^inBits entries with values of outBits bits
// (both 1..16); it maps a sample, read at its position in the table with linear interpolation, to a new
// value. Input tables apply to the samples handed in, before the conversion; output tables to the
// converted samples. A channel starts merged with sizes 0 and no table. Set installs the given tables
// for the channels in the mask (bits 0..3; higher bits are ignored) and marks them not merged; Merge does
// the same and marks them merged; a null table leaves its channel without a table and with sizes 0.
// Installed tables apply alike whether merged or not; the flag is kept and reported as given.
LONG KVCMSetInputLUT(HKVCMCML object, LONG inBits, LONG outBits, LONG channelMask,
                     const USHORT* const tables[4]);
LONG KVCMSetOutputLUT(HKVCMCML object, LONG inBits, LONG outBits, LONG channelMask,
                      const USHORT* const tables[4]);
LONG KVCMMergeInputLUT(HKVCMCML object, LONG inBits, LONG outBits, LONG channelMask,
                       const USHORT* const tables[4]);
LONG KVCMMergeOutputLUT(HKVCMCML object, LONG inBits, LONG outBits, LONG channelMask,
                        const USHORT* const tables[4]);
// The merged flag and the sizes of a channel's table (any out-pointer may be null).
LONG KVCMGetInputLUTInfo(HKVCMCML object, LONG channel, bool* merged, LONG* inBits, LONG* outBits);
LONG KVCMGetOutputLUTInfo(HKVCMCML object, LONG channel, bool* merged, LONG* inBits, LONG* outBits);
// Copies the channel's 2^inBits entries into table; KVCM_E_NO_TABLE when the channel has none.
LONG KVCMGetInputLUT(HKVCMCML object, LONG channel, USHORT* table);
LONG KVCMGetOutputLUT(HKVCMCML object, LONG channel, USHORT* table);

// Converts width x height interleaved pixels. Rows start rowBytes apart (ignored for one row; at least a
// row's pixels otherwise). Source and destination may be the same or overlapping memory. 16-bit samples
// are in the machine's byte order; Lab is encoded as the library's version 4 Lab (L 0..100 over the full
// range, a and b offset by half the range).
LONG KVCMProcessInterleavedData(HKVCMCML object, LONG width, LONG height, const void* source,
                                void* destination, LONG sourceRowBytes, LONG destinationRowBytes);

// The same, each source sample first replaced by its entry in its channel's table: tableCount (the input
// channel count) tables of 2^inputBits entries of the input's depth, as a run of lookup tables before the
// conversion would leave them. The conversion itself is as above, the object's own tables included. A
// missing table or another count gives KVCM_E_ARGUMENT.
LONG KVCMProcessInterleavedDataThroughTables(HKVCMCML object, LONG width, LONG height, const void* source,
                                             void* destination, LONG sourceRowBytes, LONG destinationRowBytes,
                                             const USHORT* const* tables, LONG tableCount);

// How many times the object has built a library conversion (for tests of the cache).
LONG KVCMGetBuildCount(HKVCMCML object, ULONG* count);
