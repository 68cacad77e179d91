// Interface of every adjustment-settings record. A record serialises itself into a self-describing,
// versioned byte record (16-byte type id, 16-bit version, 32-bit length counted from offset 18, then the
// fields of that version packed little-endian) and reads itself back from one. Records nest: the
// aggregate settings record is itself an IKvState whose body is a run of records.
#pragma once

#include "platform/win/wintypes.h"

class IKvState {
public:
    virtual ~IKvState() = default;

    // Size in bytes of the current version's record.
    virtual int GetStateSize() { return WriteState(nullptr, 0); }
    // Writes as much of the record as fits into `size` bytes, never part of a field, and returns the size
    // the complete record needs. With no buffer nothing is written and the call is a size query.
    virtual int WriteState(BYTE* buffer, int size) = 0;
    // Reads a record of `size` bytes. Returns the size the record's version defines, or 0 when the record
    // is not accepted (too short to carry an id, another type id, a version the class refuses); a record
    // that is not accepted leaves the object unchanged. Fields beyond `size` keep their defaults.
    virtual int ReadState(const BYTE* buffer, int size) = 0;
    // The class's 16-byte type id as it is stored.
    virtual const BYTE* GetStateId() = 0;
};
