// A data destination that records every notification it hears, for checking what a node sends.
#pragma once

#include "platform/pravon/IPravonDataSource.h"

#include <optional>
#include <vector>

namespace kvtest {

class NotificationRecorder : public IPravonDataDestination {
public:
    struct Heard {
        IPravonDataSource* source = nullptr;
        LONG type = 0;
        std::optional<PravonRect> rect;                                     // type 0
        std::optional<IPravonDataDestination::ChangeSize> size;             // type 1
        std::optional<IPravonDataDestination::ChangeColorSpace> colorSpace; // type 2
        void* data = nullptr;
    };

    IPravonError* PravonNotify(IPravonDataSource* source, LONG type, void* data) override;
    IPravonError* PravonAddedDataSource(IPravonDataSource* source) override;
    IPravonError* PravonRemovedDataSource(IPravonDataSource* source) override;

    std::vector<Heard> heard;
    int added = 0;
    int removed = 0;
    // When set, PravonNotify answers with an error of this kind (after recording).
    LONG failWithKind = 0;

    std::size_t Count(LONG type) const;
    void Clear() { heard.clear(); }
};

} // namespace kvtest
