// The module's codec table, which renderer libraries and the canvas library read host items through, and
// the codec-parameter context string that hands its address to a renderer as its media context.
#pragma once

#include "TString.h"

#include "platform/zizoraz/zIzoRaz.h"

// One table for the module; its functions run TQwCodecPravon objects named by object-manager handles, and
// every function but Create answers FALSE for a handle the manager does not hold (or one of another kind).
// Create answers FALSE before the module object has handed the codec its context.
const IproCodecTable* GetCodecTable();

// "pravon_codec_addr=<the table's address>;preview=<1 or 0>;profile=<profile>;out_compress_quality=<q>",
// without a final ';'. Always true.
bool BuildCodecParameters(TString& out, bool preview, DWORD profile, DWORD quality);
