// Render requests: the work items of an asynchronous renderer's queue. A request names its page (counted
// from 1) and carries its page context; the double-buffered form adds the hooks that run on the worker
// before and after its render, and the page iterator that queued it.
#pragma once

#include "TString.h"
#include "TThreadQueueData.h"

class TRndrData : public TThreadQueueData {
public:
    LONG m_pageNumber = -1;
    TString m_context;
};

class TDBufRndrData : public TRndrData {
public:
    using Hook = void (*)(TDBufRndrData* request);

    Hook m_finishHook = nullptr;
    Hook m_startHook = nullptr;
    // The page iterator that queued the request (not held), null until it sets itself.
    TBaseObject* m_iterator = nullptr;
};
