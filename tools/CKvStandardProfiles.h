// The colour profiles the raw library expects in the machine's profile folder, made with lcms2 from
// documented primaries, white points and curves: the output RGB spaces, grey, the Lab and LCh working
// spaces and a CMYK print space. Each is written as a version 2 profile with a "KORVEL ... 1.0" description.
#pragma once

#include "platform/zov/ZovLchEncoding.h"

#include <string>
#include <vector>

class CKvStandardProfiles {
public:
    struct Profile {
        const char* name;        // the file name the library looks for
        const char* description; // the text of its description tag
    };
    // Every profile, in a fixed order.
    static const std::vector<Profile>& List();
    // The bytes of the named profile; empty for an unknown name or when lcms2 cannot make it.
    static std::vector<unsigned char> Bytes(const std::string& name);

    // How the LCh profile encodes its three 16-bit channels: L 0..100, C 0..kLchChromaTop and h 0..360
    // degrees, each over 0..65535, as the colour engine reads them.
    static constexpr double kLchChromaTop = ZovLch::kChromaTop;
};
