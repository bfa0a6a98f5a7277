// RetryInterval: the wait before the next attempt, made of a base interval
// and a random element, both in seconds: base + a whole number of seconds
// drawn from 0 to the random element (inclusive) from the system's
// cryptographic generator.
#pragma once

#include "HearthkitExport.h"

#include <windows.h>

class HEARTHKIT_API RetryInterval {
public:
    // Also seeds the C runtime's rand() with the current time, for the other
    // users of rand() in the process (the random element does not use it).
    RetryInterval(DWORD dwRetryInterval, DWORD dwRandomElement);

    // The wait in milliseconds, or INFINITE when the base interval, the
    // random element or their sum is 4294967 seconds or more (the longest
    // finite wait is 4294966 s). When the generator fails, the random element
    // is left out.
    DWORD GetRetryIntervalInMilliSeconds() const;
    // GetRetryIntervalInMilliSeconds() * 10000, for FILETIME arithmetic.
    // INFINITE becomes 42949672950000 (about 49.7 days), not a marker.
    __int64 GetRetryIntervalIn100NS() const;

protected:
    // The source of the random element, with the contract of rand_s: 0 and
    // a uniformly distributed 32-bit value on success, non-zero on failure.
    typedef int(__cdecl* RandomSource)(unsigned int* value);
    // GetRetryIntervalInMilliSeconds drawing from source. Derived classes
    // use it to run the computation on a source of their own (a fixed draw,
    // a failing generator) without adding state or virtual calls here. A
    // null source counts as a failing one (and is logged).
    DWORD GetRetryIntervalInMilliSeconds(RandomSource source) const;

private:
    DWORD m_dwRetryInterval;
    DWORD m_dwRandomElement;
};
