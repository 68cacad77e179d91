#include "CFltPlaceHolder.h"

CFltPlaceHolder::CFltPlaceHolder(IPravonManager* manager, LONG tag)
    : CPravonFilterBase(manager, 1), m_tag(tag) {
    SetPassThrough(true);
}

CFltPlaceHolder::~CFltPlaceHolder() = default;

IPravonError* CFltPlaceHolder::ProcessTile(IPravonTile*, CProcessInfo*) {
    return nullptr;
}
