// Codec parameters for the canvas library, kept in an ordered map from position to (type, address of the
// value) and flattened into the list form the library takes. The values stay the caller's and must outlive
// every use of the list; the list points into this object, which therefore cannot be copied.
#pragma once

#include "platform/zizoraz/zIzoRaz.h"

#include <map>
#include <memory>

class TiProCodecParameters {
public:
    TiProCodecParameters();
    TiProCodecParameters(const TiProCodecParameters&) = delete;
    TiProCodecParameters& operator=(const TiProCodecParameters&) = delete;
    virtual ~TiProCodecParameters() = default;

    // The entry at the position; an absent one is made with both words 0.
    IproCodecParam& operator[](LONG position);
    // Rebuilds the list from the entries in ascending position order; without entries the list is null.
    void Flatten(const IproCodecParamList*& list);

private:
    std::map<LONG, IproCodecParam> m_entries;
    // The size word is that of the list on this target (the library refuses any other).
    IproCodecParamList m_list;
    std::unique_ptr<IproCodecParam*[]> m_array;
};
