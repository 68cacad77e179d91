// One picture for the asynchronous file saver: the attachment box and JPEG quality chosen, the picture's
// item as the mail dialog knows it and the file to write. The saver answers with its status in m_result.
#pragma once

#include "plugin_framework/GraphTypes.h"
#include "plugin_framework/TString.h"
#include "plugin_framework/TThreadQueueData.h"

#include "platform/kvtrtl/KvwHostTypes.h"

// The status a finished request carries.
constexpr LONG kFileSaveFailed = 0;
constexpr LONG kFileSaved = 1;
constexpr LONG kFileSaveAborted = 10;

class TFileSaveData : public TThreadQueueData {
public:
    // The dialog's record of one selected picture.
    struct TItem {
        KvwItemId id = 0;
        // As the host reports it; a design page's width is FileSaveFit::kDesignPageWidth.
        graphtypes::TSize_T<LONG> pictureSize;
        // The host's source record names a page of the design module.
        bool designPage = false;
    };

    // (0, 0) is the picture's full size.
    graphtypes::TSize_T<LONG> m_maxSize;
    // 50..100.
    LONG m_jpegQuality = 80;
    TItem m_item;
    TString m_targetPath;
};
