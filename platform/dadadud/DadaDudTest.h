// What the document library's tests and fuzz target may observe.
#pragma once

#include "DadaDud.h"

#include <cstddef>
#include <functional>

namespace DadaDudTest {

// Called with the name of every doc call and its first handle argument (kDocNoHandle for calls without
// one), on the calling thread. An empty observer removes it.
void SetCallObserver(std::function<void(const char* call, DocHandle first)> observer);
// Handles held now.
std::size_t LiveHandles();

} // namespace DadaDudTest
