// What a transform handle stands for: the two profiles and the intent, shared by the transform and every
// object it is attached to. The generation moves on with every change that alters conversions, so an
// object knows when the conversion it built is out of date.
#pragma once

#include "CZovProfile.h"

#include <memory>
#include <mutex>

struct CZovTransformState {
    struct Snapshot {
        std::shared_ptr<const CZovProfile> input;
        std::shared_ptr<const CZovProfile> output;
        LONG intent = 0;
        ULONG generation = 0;
    };

    Snapshot Take() const {
        std::lock_guard<std::mutex> hold(lock);
        return Snapshot{input, output, intent, generation};
    }
    ULONG Generation() const {
        std::lock_guard<std::mutex> hold(lock);
        return generation;
    }

    mutable std::mutex lock;
    std::shared_ptr<const CZovProfile> input;
    std::shared_ptr<const CZovProfile> output;
    LONG intent = 0;
    BOOL proof = FALSE;
    ULONG generation = 0;
};

struct KVCMTransform {
    std::shared_ptr<CZovTransformState> state = std::make_shared<CZovTransformState>();
};
