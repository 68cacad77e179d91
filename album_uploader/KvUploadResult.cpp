#include "KvUploadResult.h"

std::int32_t MapResult(std::int32_t serviceResult) {
    if (serviceResult >= 0)
        return KvUpload::kOk;
    if (serviceResult >= -8)
        return KvUpload::kServiceFirst - 1 - serviceResult;
    if (serviceResult == -9)
        return KvUpload::kCancelled;
    return KvUpload::kServiceFailed;
}
