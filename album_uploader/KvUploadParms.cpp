#include "album_uploader/Albumlift.h"

namespace {
constexpr std::size_t kReserved = 255;
} // namespace

KvUploadParms::KvUploadParms() {
    for (std::string* text : {&s2, &s3, &s4, &s5, &s6})
        text->reserve(kReserved);
}
