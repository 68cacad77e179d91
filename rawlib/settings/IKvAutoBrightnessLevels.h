// What a brightness record reads from the automatic-brightness filter it watches: the levels measured
// over the channels and the brightness that would map them to the full range.
//
// The automatic-brightness filter (CFltAutoBrightness) implements this beside its watcher list. When it
// sends kLevelsMeasured to its watchers, a watching brightness record's watcher callback hands the filter to
// CKvBrightness::OnWatcherNotification as this interface.
#pragma once

#include "platform/win/wintypes.h"

class IKvAutoBrightnessLevels {
public:
    // Watcher notification type sent once the levels have been measured.
    static constexpr LONG kLevelsMeasured = 1000;

    // A negative channel index gives the minimum black level and the maximum white level over the
    // channels; -1 means not measured.
    virtual LONG GetBlackLevel(LONG channel) = 0;
    virtual LONG GetWhiteLevel(LONG channel) = 0;
    virtual LONG GetAutoBrightness() = 0;

protected:
    ~IKvAutoBrightnessLevels() = default;
};
