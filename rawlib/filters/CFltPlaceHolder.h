// Marks a place in a filter graph: it always passes its source through and carries a tag given when it is
// made, by which the development pipeline finds the place again.
#pragma once

#include "filters/engine/CPravonFilterBase.h"
#include "platform/win/FourCC.h"

class CFltPlaceHolder : public CPravonFilterBase {
public:
    static constexpr LONG kCode = FourCC("PHld");
    // The tags the development pipeline places.
    static constexpr LONG kInfoTag = FourCC("Info");
    static constexpr LONG kWBTag = 0x5742; // the two characters W and B

    CFltPlaceHolder(IPravonManager* manager, LONG tag);
    ~CFltPlaceHolder() override;

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override { return "PlaceHolder"; }
    LONG GetTag() const { return m_tag; }

protected:
    // Never asked while the source passes through; it computes nothing.
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;

private:
    LONG m_tag;
};
