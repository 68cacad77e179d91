// What sig_proc_ex reports to the test controls (VeruzorazTest.h).
#pragma once

#include "platform/veruzoraz/VeruzorazTest.h"

#include <optional>

namespace veruzoraz {

std::optional<std::int32_t> ForcedResult();
// Logs the call and returns its result.
std::int32_t Log(VerCall call);

} // namespace veruzoraz
