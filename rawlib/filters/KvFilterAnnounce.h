// What an adjustment filter's setter does after an effective change when its notify flag is set: while the
// filter is enabled and has a first source, downstream hears that the whole output changed.
#pragma once

#include "filters/engine/CPravonFilterBase.h"

// Whether a setter called with notify announces its change.
bool KvShouldAnnounce(const CPravonFilterBase& filter, bool notify);
// A data notification over (0, 0, width, height) of the filter's output.
IPravonError* KvAnnounceWholeOutput(CPravonFilterBase& filter);
