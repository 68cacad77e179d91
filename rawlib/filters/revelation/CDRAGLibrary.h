// The Revelation processing library, loaded at run time: "DRAGKVL1.dll" from the raw library's own folder,
// else wherever the library search finds it. Load and Unload are called under "DORARevLocal" by the
// sessions, which keep the count of handles that decides when the library is needed.
#pragma once

#include "platform/dragkvl1/DRAGKVL1.h"
#include "platform/pravon/IPravonError.h"

#include <string>

class CDRAGLibrary {
public:
    struct Calls {
        DragLoadFunction load = nullptr;
        DragUnloadFunction unload = nullptr;
        DragNewFunction create = nullptr;
        DragDeleteFunction destroy = nullptr;
        DragInitFunction init = nullptr;
        DragSetStatisticsImageInfoFunction setStatisticsImageInfo = nullptr;
        DragBeginFunction begin = nullptr;
        DragProcessFunction process = nullptr;
        DragCompleteFunction complete = nullptr;
        DragEndFunction end = nullptr;
        DragAbortFunction abort = nullptr;
    };

    // Loads the library, finds its calls and calls DRAGLoad. A library that is missing or lacks a call
    // gives PravonKind::kInvalidState, a failing DRAGLoad its result as kind (component "DRAG"); either way
    // nothing stays loaded.
    static IPravonError* Load();
    // DRAGUnload, then the library goes.
    static void Unload();
    // The calls, valid from a successful Load to the next Unload.
    static const Calls& Get();

    // For tests: the file to load instead of the library beside the raw library; empty restores it.
    static void SetPathForTesting(const std::string& path);
};
