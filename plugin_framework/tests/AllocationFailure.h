// Makes one allocation fail on purpose. After FailNthAllocation(n), the n-th throwing operator new (or
// new[]) of the calling thread, counted from 0, throws std::bad_alloc; every other allocation, and every
// allocation of other threads, succeeds. The non-throwing forms are never failed (their callers check for
// null). The test program replaces the global allocation functions for this (AllocationFailure.cpp).
#pragma once

void FailNthAllocation(int n);
// Ends the failure on the calling thread; true when an allocation failed since FailNthAllocation.
bool StopFailingAllocations();
