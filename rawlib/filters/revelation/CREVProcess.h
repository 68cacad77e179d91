// The Revelation filter's session with the processing library: a CDRAGBase and nothing more, so that the
// filter's session is a class of its own.
#pragma once

#include "rawlib/filters/revelation/CDRAGBase.h"

class CREVProcess : public CDRAGBase {
public:
    CREVProcess(IPravonManager* manager, BYTE option);
    ~CREVProcess() override;
};
