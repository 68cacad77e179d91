// A file loaded through the I/O library as an application loads it: its picture, its tags and the error,
// with the manager they live in. Header-only, so that only the suites that load files link the loaders.
#pragma once

#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/quasel/IPravonLoad.h"
#include "platform/quasel/IPravonTagControl.h"

#include <string>

namespace kvtest {

struct LoadedFile {
    explicit LoadedFile(const std::string& path) {
        IPravonImage* rawImage = nullptr;
        IPravonTagControl* rawTags = nullptr;
        error.reset(IPravonLoad::LoadFile(&manager, PravonFile{path}, &rawImage, &rawTags));
        image.reset(rawImage);
        tags.reset(rawTags);
    }
    CPravonMemoryManager manager{64};
    PravonErrorPtr error;
    PravonImagePtr image;
    PravonTagControlPtr tags;
};

} // namespace kvtest
