// Anything that can send a host message: a message id and eight words, answered with a result word.
#pragma once

#include "platform/kvtrtl/KvwHostTypes.h"

class IKvwMessage {
public:
    virtual KvwResult SendToHost(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5,
                                 KvwWord p6, KvwWord p7, KvwWord p8) = 0;

protected:
    ~IKvwMessage() = default;
};
