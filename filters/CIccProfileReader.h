// The few things the colour engine reads from a profile file itself: the header's colour-space signature,
// and the colorants, white point and single-gamma curves of a matrix/curve profile. Every read is bounded
// by the file's size: a file shorter than what it claims to hold is an error, never a read past its end.
#pragma once

#include "platform/win/wintypes.h"

#include <string>

class CIccProfileReader {
public:
    struct MatrixShaper {
        bool tableBased = false; // an A2B0..A2B2 or B2A0..B2A2 tag is present
        bool colorantPresent[3] = {};
        LONG colorant[3][3] = {}; // rXYZ, gXYZ, bXYZ as s15Fixed16
        bool whitePresent = false;
        LONG white[3] = {};
        bool curvePresent[3] = {}; // only curves of exactly one entry count
        LONG gamma[3] = {};        // u8Fixed8

        // Colorants, white point and all three curves are there, and no table tag.
        bool IsComplete() const;
    };

    // Each returns 0 or the C runtime error number: the open's own errors, EIO for a file shorter than
    // its header or its tag table says, EINVAL for a file that is not a profile.
    static int ReadColorSpace(const std::string& path, char signature[4]);
    static int ReadMatrixShaper(const std::string& path, MatrixShaper* info);
};
