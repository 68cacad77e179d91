// What the canvas library's tests and fuzz targets may change or observe.
#pragma once

#include "zIzoRaz.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace ZizorazTest {

// The pixel cap of every image (IproLimits::kDefaultMaxPixels until changed).
void SetMaxPixels(std::uint64_t pixels);
void ResetMaxPixels();
// Called with the name of every ipro call and its first handle argument (kIproNoHandle for calls without
// one), on the calling thread. An empty observer removes it.
void SetCallObserver(std::function<void(const char* call, IproHandle first)> observer);
// Handles held now.
std::size_t LiveHandles();

} // namespace ZizorazTest
