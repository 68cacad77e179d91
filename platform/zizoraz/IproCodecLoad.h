// Pictures of host items read through an item codec's table: the codec is driven from Create to Destroy
// and its 32-bit pixels become the library's.
#pragma once

#include "IproPixels.h"
#include "zIzoRaz.h"

namespace IproCodecLoad {

// Create, SetParameters (with a list), Open, GetInfo, SetOption (the size to read: the reported one, or
// that fitted inside the maximum), Read into a sink, GetInfo again, Destroy. False when any step fails,
// the table is not whole, or the bytes read are not the pixels of the size reported.
bool Load(const wchar_t* itemId, const IproCodecTable* codec, void* cancel, const IproCodecParamList* params,
          LONG maxWidth, LONG maxHeight, IproPixels& out);

} // namespace IproCodecLoad
